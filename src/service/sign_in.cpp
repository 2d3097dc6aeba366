#include "service/sign_in.h"

#include <new>
#include <string>

#include "base/hresult.h"
#include "base/post_target.h"
#include "base/ui_thread.h"
#include "base/worker_pool.h"
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

LPARAM PackSignInAnswer(const SignInAnswer& answer) {
    return (answer.replied ? 1 : 0) | (answer.accepted ? 2 : 0) |
           (static_cast<LPARAM>(static_cast<int32_t>(answer.errorCode) & 0xFFFF) << 8);
}

SignInAnswer UnpackSignInAnswer(LPARAM packed) {
    SignInAnswer answer;
    answer.replied = (packed & 1) != 0;
    answer.accepted = (packed & 2) != 0;
    answer.errorCode = static_cast<NetworkError>((packed >> 8) & 0xFFFF);
    return answer;
}

std::optional<std::string> SignInCheckUrl(std::wstring_view userName, std::wstring_view password) {
    if (!FitsSettingText(userName) || !FitsSettingText(password)) return std::nullopt;
    return LyricsServiceUrl(BuildSignInPath(U16(userName), U16(password)).c_str());
}

SignInAnswer CheckSignIn(const std::string& url) noexcept {
    SignInAnswer answer;
    try {
        HttpRetriever retriever;
        HttpRequest request;
        request.url = url.c_str();
        // Only a reply of exactly "true" signs in: the rest of a longer one is never needed.
        request.maxReplyBytes = 16;
        if (const char* reply = retriever.Run(request)) {
            answer.replied = true;
            answer.accepted = IsSignInAccepted(reply);
        }
        answer.errorCode = request.errorCode;
    } catch (const std::bad_alloc&) {
        // Out of memory before an answer: as if none came.
        ReportFailure("sign-in check", E_OUTOFMEMORY);
        answer = SignInAnswer();
    }
    return answer;
}

namespace {

class SignInCheckJob final : public PoolJob {
public:
    SignInCheckJob(std::string url, std::shared_ptr<PostTarget> target, WPARAM ticket)
        : url_(std::move(url)), target_(std::move(target)), ticket_(ticket) {}
    void Run() override {
        const SignInAnswer answer = CheckSignIn(url_);
        target_->Post(WM_SV_SIGN_IN_CHECKED, ticket_, PackSignInAnswer(answer));
    }

private:
    std::string url_;
    std::shared_ptr<PostTarget> target_;
    WPARAM ticket_;
};

}  // namespace

bool StartSignInCheck(std::string url, std::shared_ptr<PostTarget> target, WPARAM ticket) noexcept {
    if (!target) return false;
    std::unique_ptr<PoolJob> job(new (std::nothrow) SignInCheckJob(std::move(url), std::move(target), ticket));
    return job && SubmitToPool(job);
}

SignInOutcome CompleteSignIn(PluginSettings& settings, std::wstring_view userName, std::wstring_view password,
                             const SignInAnswer& answer) {
    SV_ASSERT_UI_THREAD();
    SignInOutcome outcome;
    if (answer.accepted && settings.SetCredentials(userName, password)) {
        outcome.signedIn = true;
        outcome.messageId = IDS_SIGNED_IN;
        return outcome;
    }
    outcome.messageId = SignInFailureMessageId(answer.errorCode != NetworkError::None, answer.replied);
    return outcome;
}

SignInOutcome SignIn(PluginSettings& settings, std::wstring_view userName, std::wstring_view password) {
    std::optional<std::string> url;
    try {
        url = SignInCheckUrl(userName, password);
    } catch (const std::bad_alloc&) {
        ReportFailure("sign-in check", E_OUTOFMEMORY);
        return CompleteSignIn(settings, userName, password, SignInAnswer());
    }
    if (!url) {
        SignInOutcome outcome;
        outcome.messageId = SignInFailureMessageId(false, true);
        return outcome;
    }
    return CompleteSignIn(settings, userName, password, CheckSignIn(*url));
}

}  // namespace sv
