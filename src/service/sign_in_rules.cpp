#include "service/sign_in_rules.h"

#include "resources/resource_ids.h"
#include "service/query_encoding.h"

namespace sv {

std::string BuildSignInPath(std::u16string_view userName, std::u16string_view password) {
    std::string path = "/sonavire/services/appVerifyUser.php?username=";
    path += EncodeQueryValue(userName);
    path += "&password=";
    path += EncodeQueryValue(password);
    return path;
}

bool IsSignInAccepted(std::string_view reply) {
    constexpr std::string_view kAccepted = "true";
    if (reply.size() != kAccepted.size()) return false;
    for (size_t i = 0; i < reply.size(); ++i) {
        char c = reply[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kAccepted[i]) return false;
    }
    return true;
}

int SignInFailureMessageId(bool connectionFailed, bool replied) {
    if (connectionFailed) return IDS_NO_CONNECTION_LOGIN_FAILURE;
    return replied ? IDS_SIGN_IN_REFUSED : IDS_SIGN_IN_SERVERS_UNAVAILABLE;
}

}  // namespace sv
