#include "service/sign_in.h"

#include <string>

#include "base/hresult.h"
#include "base/utf.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "service/http_retriever.h"
#include "service/server_hosts.h"
#include "service/sign_in_rules.h"

namespace sv {
namespace {

bool FitsSettingText(std::wstring_view text) {
    return text.size() <= kSettingTextMaxLength && text.find(L'\0') == std::wstring_view::npos;
}

std::u16string_view U16(std::wstring_view text) { return AsU16View(text.data(), text.size()); }

}  // namespace

SignInOutcome SignIn(PluginSettings& settings, std::wstring_view userName, std::wstring_view password) {
    SignInOutcome outcome;
    if (!FitsSettingText(userName) || !FitsSettingText(password)) {
        outcome.messageId = SignInFailureMessageId(0, true);
        return outcome;
    }
    int errorCode = 0;
    bool replied = false;
    bool accepted = false;
    try {
        const std::string url = LyricsServiceUrl(BuildSignInPath(U16(userName), U16(password)).c_str());
        HttpRetriever retriever;
        HttpRequest request;
        request.url = url.c_str();
        // Only a reply of exactly "true" signs in: the rest of a longer one is never needed.
        request.maxReplyBytes = 16;
        if (const char* reply = retriever.Run(request)) {
            replied = true;
            accepted = IsSignInAccepted(reply);
        }
        errorCode = request.errorCode;
    } catch (const std::bad_alloc&) {
        // Out of memory before an answer: as if none came.
        ReportFailure("sign-in check", E_OUTOFMEMORY);
    }
    if (accepted && settings.SetCredentials(userName, password)) {
        outcome.signedIn = true;
        outcome.messageId = IDS_SIGNED_IN;
        return outcome;
    }
    outcome.messageId = SignInFailureMessageId(errorCode, replied);
    return outcome;
}

}  // namespace sv
