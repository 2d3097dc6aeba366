// The sign-in check: one GET to the lyrics service with the user name and password, on a worker
// of the thread pool (or the calling thread), and on success the credentials kept and stored on
// the user-interface thread.
#pragma once
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "service/http_retriever.h"

namespace sv {

struct PluginSettings;
class PostTarget;

// Posted to the window that started a check: wParam the check's ticket, lParam its answer
// (PackSignInAnswer).
inline constexpr UINT WM_SV_SIGN_IN_CHECKED = 2995;

// What the service said to a check.
struct SignInAnswer {
    bool replied = false;
    bool accepted = false;                        // the reply was "true", any case
    NetworkError errorCode = NetworkError::None;  // why the request failed
};
LPARAM PackSignInAnswer(const SignInAnswer& answer);
SignInAnswer UnpackSignInAnswer(LPARAM packed);

struct SignInOutcome {
    bool signedIn = false;
    // String-table id of the message to show: 211 when signed in; otherwise 501 (the request
    // failed: no connection, host not found, refused), 209 (the service said no) or 208 (no
    // answer at all).
    int messageId = 0;
};

// Checks the credentials with the service (no time limit beyond WinINet's own). On success they
// go into settings and are stored with SetCredentials (the password encrypted for the user).
// Empty texts are sent as empty values. Texts that the record cannot hold whole (over 259
// characters, or holding a NUL) are refused as wrong credentials without a request: a cut name or
// password would be another account.
SignInOutcome SignIn(PluginSettings& settings, std::wstring_view userName, std::wstring_view password);

// The check's address for these credentials; none for texts the record cannot hold whole (refused
// as wrong credentials without a request). On the user-interface thread: it reads the host.
std::optional<std::string> SignInCheckUrl(std::wstring_view userName, std::wstring_view password);
// The GET itself, on the calling thread.
SignInAnswer CheckSignIn(const std::string& url) noexcept;
// Queues the check on the thread pool; its answer is posted to target as WM_SV_SIGN_IN_CHECKED
// with ticket, or dropped once target is closed. False when it could not be queued.
bool StartSignInCheck(std::string url, std::shared_ptr<PostTarget> target, WPARAM ticket) noexcept;
// What an answer means for these credentials: on acceptance they go into settings and are stored.
SignInOutcome CompleteSignIn(PluginSettings& settings, std::wstring_view userName, std::wstring_view password,
                             const SignInAnswer& answer);

}  // namespace sv
