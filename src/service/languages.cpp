#include "service/languages.h"

#include <msxml2.h>

#include <new>
#include <optional>

#include "lyrics/lyrics_document.h"
#include "lyrics/lyrics_text.h"
#include "module/com_ptr.h"
#include "module/hresult.h"
#include "module/utf.h"
#include "plugin/settings.h"
#include "service/server_hosts.h"

namespace sv {
namespace {

// Published values; some of MinGW's symbols for these resolve to other classes.
constexpr CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

UniqueBstr MakeBstr(const wchar_t* text) {
    UniqueBstr bstr(text);
    if (!bstr.get()) ThrowHr(E_OUTOFMEMORY);
    return bstr;
}

// The reply is untrusted: no document type definitions (so no entity expansion), nothing fetched
// from outside, loads that finish before they return.
HRESULT CreateReplyDom(ComPtr<IXMLDOMDocument>& dom) {
    SV_RETURN_IF_FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                         kIidXmlDomDocument, dom.put_void()));
    ComPtr<IXMLDOMDocument2> dom2;
    SV_RETURN_IF_FAILED(dom2.QueryFrom(dom.get(), kIidXmlDomDocument2));
    UniqueBstr prohibitDtd = MakeBstr(L"ProhibitDTD");
    VARIANT on;
    VariantInit(&on);
    on.vt = VT_BOOL;
    on.boolVal = VARIANT_TRUE;
    SV_RETURN_IF_FAILED(dom2->setProperty(prohibitDtd.get(), on));
    SV_RETURN_IF_FAILED(dom->put_resolveExternals(VARIANT_FALSE));
    SV_RETURN_IF_FAILED(dom->put_validateOnParse(VARIANT_FALSE));
    SV_RETURN_IF_FAILED(dom->put_async(VARIANT_FALSE));
    return S_OK;
}

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
        std::u16string text = Utf16FromUtf8(replyUtf8);
        if (DeclaresDocumentType(text)) return S_FALSE;
        // A UTF-8 byte-order mark is not part of the text the DOM gets.
        const size_t start = !text.empty() && text[0] == u'\uFEFF' ? 1 : 0;
        if (text.size() - start > 0x7FFFFFFF) return E_OUTOFMEMORY;
        UniqueBstr xml(AsWide(text.c_str() + start), static_cast<UINT>(text.size() - start));
        if (!xml.get()) return E_OUTOFMEMORY;
        std::u16string().swap(text);

        ComPtr<IXMLDOMDocument> dom;
        SV_RETURN_IF_FAILED(CreateReplyDom(dom));
        VARIANT_BOOL wellFormed = VARIANT_FALSE;
        HRESULT hr = dom->loadXML(xml.get(), &wellFormed);
        if (FAILED(hr)) return hr;
        if (wellFormed != VARIANT_TRUE) return S_FALSE;
        loaded = true;
        return AddLanguagesOf(dom.get(), list);
    } catch (...) {
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
    std::optional<std::string> reply;
    try {
        reply = RetrieveWithTimeout(LyricsServiceUrl(kSupportedLanguagesPath).c_str(), timeoutMs);
    } catch (...) {
        return E_FAIL;
    }
    if (!reply) return E_FAIL;
    bool loaded = false;
    const HRESULT hr = LoadLanguagesReply(list, reply->c_str(), loaded);
    // A reply that loaded, even one read only in part, is the list: the stored choice applies.
    if (loaded) ApplyStoredLanguage(list);
    return hr;
}

void ApplyStoredLanguage(LanguageList& list) {
    try {
        const std::wstring stored = ReadStoredTranslation();
        list.ApplyCode(AsU16View(stored.data(), stored.size()));
    } catch (...) {
    }
}

void StoreSelectedLanguage(const LanguageList& list) {
    try {
        const std::u16string code = list.SelectedLanguageCode();
        StoreTranslation(std::wstring_view(AsWide(code.c_str()), code.size()));
    } catch (...) {
    }
}

std::optional<std::u16string> ChooseLanguage(LanguageList& list, int32_t index, LyricsDocument& request) {
    if (!list.Select(index)) return std::nullopt;
    StoreSelectedLanguage(list);
    std::u16string code = list.SelectedLanguageCode();
    request.SetLanguage(code);
    return code;
}

}  // namespace sv
