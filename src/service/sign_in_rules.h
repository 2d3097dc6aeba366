// The sign-in check's request and how its answer is read. Needs no Windows API.
#pragma once
#include <string>
#include <string_view>

namespace sv {

// "/sonavire/services/appVerifyUser.php?username=..&password=..", both values escaped with
// EncodeQueryValue; empty values are sent as empty.
std::string BuildSignInPath(std::u16string_view userName, std::u16string_view password);

// The service accepts with the whole reply equal to "true" in any letter case; nothing is
// trimmed, so "true\n" is a refusal.
bool IsSignInAccepted(std::string_view reply);

// The message shown for a failed attempt: 501 when the request failed for the connection, else
// 209 when the service answered (and refused), else 208.
int SignInFailureMessageId(bool connectionFailed, bool replied);

}  // namespace sv
