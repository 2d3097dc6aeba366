// The sign-in check: one GET to the lyrics service with the user name and password, on the
// calling thread (the sign-in dialog's), and on success the credentials kept and stored.
#pragma once
#include <string_view>

namespace sv {

struct PluginSettings;

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

}  // namespace sv
