#include "service/languages.h"

#include <stdexcept>

#include <msxml2.h>

#include <new>
#include <optional>

#include "lyrics/lyrics_document.h"
#include "lyrics/reply_dom.h"
#include "base/com_ptr.h"
#include "base/hresult.h"
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
    try {
        ComPtr<IXMLDOMDocument> dom;
        const HRESULT hr = LoadReplyXml(replyUtf8, dom);
        if (hr != S_OK) return hr;
        loaded = true;
        return AddLanguagesOf(dom.get(), list);
    } catch (...) {
        // Out of memory part-way: no half list.
        ReportFailure("language list", CurrentExceptionHr());
        loaded = false;
        list.ResetLanguages();
        return E_FAIL;
    }
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

void ApplyStoredLanguage(LanguageList& list) {
    const std::wstring stored = ReadStoredTranslation();
    list.ApplyCode(AsU16View(stored.data(), stored.size()));
}

void StoreSelectedLanguage(const LanguageList& list) {
    std::u16string code;
    try {
        code = list.SelectedLanguageCode();
    } catch (const std::out_of_range&) {
        return;  // a selection outside the list has no code to store
    }
    StoreTranslation(std::wstring_view(AsWide(code.c_str()), code.size()));
}

std::optional<std::u16string> ChooseLanguage(LanguageList& list, int32_t index, LyricsDocument& request) {
    if (!list.Select(index)) return std::nullopt;
    StoreSelectedLanguage(list);
    std::u16string code = list.SelectedLanguageCode();
    request.SetLanguage(code);
    return code;
}

}  // namespace sv
