#include "service/languages.h"

#include <msxml2.h>

#include <new>
#include <optional>

#include "lyrics/lyrics_document.h"
#include "lyrics/reply_dom.h"
#include "base/com_ptr.h"
#include "base/hresult.h"
#include "base/worker_pool.h"
#include "base/utf.h"
#include "settings/settings.h"
#include "service/server_hosts.h"

namespace sv {
namespace {

std::u16string TextOf(const wchar_t* text, UINT length) { return std::u16string(AsU16View(text, length)); }

// An element's text and its "code" attribute (none when absent).
HRESULT ReadLanguage(IXMLDOMNode* node, const UniqueBstr& codeName, std::u16string& name,
                     std::optional<std::u16string>& code) {
    ComPtr<IXMLDOMElement> element;
    SV_RETURN_IF_FAILED(element.QueryFrom(node, kIidXmlDomElement));
    UniqueBstr text;
    SV_RETURN_IF_FAILED(node->get_text(text.put()));
    name = TextOf(text.c_str(), text.length());
    UniqueVariant value;
    SV_RETURN_IF_FAILED(element->getAttribute(codeName.get(), value.put()));  // absent: S_FALSE, VT_NULL
    if (value->vt == VT_BSTR) code = TextOf(value->bstrVal ? value->bstrVal : L"", SysStringLen(value->bstrVal));
    return S_OK;
}

// Child elements of the root, in order; other kinds of child (comments, processing instructions)
// are not languages.
HRESULT AddLanguagesOf(IXMLDOMDocument* dom, LanguageList& list) {
    ComPtr<IXMLDOMElement> root;
    HRESULT hr = dom->get_documentElement(root.put());
    if (FAILED(hr) || !root) return FAILED(hr) ? hr : S_FALSE;
    UniqueBstr codeName = MakeBstr(L"code");
    ComPtr<IXMLDOMNode> child;
    hr = root->get_firstChild(child.put());
    while (SUCCEEDED(hr) && child) {
        DOMNodeType type = NODE_INVALID;
        hr = child->get_nodeType(&type);
        if (FAILED(hr)) break;
        if (type == NODE_ELEMENT) {
            std::u16string name;
            std::optional<std::u16string> code;
            hr = ReadLanguage(child.get(), codeName, name, code);
            if (FAILED(hr)) break;
            if (code) list.AddLanguage(name, *code);
        }
        ComPtr<IXMLDOMNode> next;
        hr = child->get_nextSibling(next.put());
        child = std::move(next);
    }
    return FAILED(hr) ? hr : S_OK;
}

HRESULT LoadLanguagesReply(LanguageList& list, const char* replyUtf8, bool& loaded) {
    loaded = false;
    if (!replyUtf8) return E_INVALIDARG;
    ComPtr<IXMLDOMDocument> dom;
    const HRESULT hr = LoadReplyXml(replyUtf8, dom);
    if (hr != S_OK) return hr;
    loaded = true;
    return AddLanguagesOf(dom.get(), list);
}

}  // namespace

HRESULT LoadLanguages(LanguageList& list, const char* replyUtf8) {
    bool loaded = false;
    return LoadLanguagesReply(list, replyUtf8, loaded);
}

HRESULT FetchLanguages(LanguageList& list, DWORD timeoutMs) {
    list.ResetLanguages();
    const std::optional<std::string> reply =
        RetrieveWithTimeout(LyricsServiceUrl(kSupportedLanguagesPath).c_str(), timeoutMs);
    if (!reply) return E_FAIL;
    bool loaded = false;
    const HRESULT hr = LoadLanguagesReply(list, reply->c_str(), loaded);
    // A reply that loaded, even one read only in part, is the list: the stored choice applies.
    if (loaded) ApplyStoredLanguage(list);
    return hr;
}

namespace {

// Asks for the list on a pool thread; the answer goes to the shared fetch, never to the window's
// own list.
class LanguageJob final : public PoolJob {
public:
    LanguageJob(std::shared_ptr<LanguageFetch> fetch, DWORD timeoutMs)
        : fetch_(std::move(fetch)), timeoutMs_(timeoutMs) {}
    ~LanguageJob() override {
        if (fetch_) fetch_->Finish(nullptr, std::nullopt);  // never ran: nobody waits for ever
    }
    void Run() override {
        std::unique_ptr<LanguageList> list;
        {
            ScopedCoInit com(COINIT_MULTITHREADED);
            auto fetched = std::make_unique<LanguageList>();
            if (SUCCEEDED(FetchLanguages(*fetched, timeoutMs_))) list = std::move(fetched);
        }
        // Copied before the hand-over: running out of memory here leaves the fetch to the
        // destructor, which ends the wait with no list.
        std::optional<std::u16string> code = list ? list->SelectedLanguageCode() : std::nullopt;
        std::shared_ptr<LanguageFetch> fetch = std::move(fetch_);
        fetch->Finish(std::move(list), std::move(code));
    }

private:
    std::shared_ptr<LanguageFetch> fetch_;
    DWORD timeoutMs_;
};

}  // namespace

LanguageFetch::LanguageFetch(HWND window, UINT message, DWORD timeoutMs)
    : target_(window),
      message_(message),
      deadline_(GetTickCount64() + timeoutMs),
      done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

std::shared_ptr<LanguageFetch> LanguageFetch::Start(HWND window, UINT message, DWORD timeoutMs) {
    auto fetch = std::make_shared<LanguageFetch>(window, message, timeoutMs);
    std::unique_ptr<PoolJob> job = std::make_unique<LanguageJob>(fetch, timeoutMs);
    if (!SubmitToPool(job)) job.reset();  // its destructor ends the wait
    return fetch;
}

void LanguageFetch::Finish(std::unique_ptr<LanguageList> list, std::optional<std::u16string> selectedCode) noexcept {
    {
        ScopedSrwLock hold(lock_);
        if (finished_) return;  // answered already
        if (list) code_ = std::move(selectedCode);
        // No list: the window keeps its "no translation" alone.
        list_ = std::move(list);
        finished_ = true;
    }
    if (done_) SetEvent(done_.get());
    target_.Post(message_, 0, 0);
}

std::optional<std::u16string> LanguageFetch::WaitForSelectedCode() const {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline_ ? static_cast<DWORD>(deadline_ - now) : 0;
    if (done_) WaitForSingleObject(done_.get(), left);
    ScopedSrwLock hold(lock_, ScopedSrwLock::kShared);
    return code_;
}

std::unique_ptr<LanguageList> LanguageFetch::TakeList() {
    ScopedSrwLock hold(lock_);
    return std::move(list_);
}

void ApplyStoredLanguage(LanguageList& list) {
    const std::wstring stored = ReadStoredTranslation();
    list.ApplyCode(AsU16View(stored.data(), stored.size()));
}

void StoreSelectedLanguage(const LanguageList& list) {
    const std::optional<std::u16string> code = list.SelectedLanguageCode();
    if (!code) return;  // a selection outside the list has no code to store
    StoreTranslation(std::wstring_view(AsWide(code->c_str()), code->size()));
}

std::optional<std::u16string> ChooseLanguage(LanguageList& list, int32_t index, LyricsDocument& request) {
    if (!list.Select(index)) return std::nullopt;
    StoreSelectedLanguage(list);
    std::u16string code = list.SelectedLanguageCode().value_or(std::u16string());
    request.SetLanguage(code);
    return code;
}

}  // namespace sv
