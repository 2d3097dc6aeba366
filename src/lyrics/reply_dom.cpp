#include "lyrics/reply_dom.h"

#include <string>

#include "lyrics/lyrics_text.h"
#include "base/hresult.h"
#include "base/utf.h"

namespace sv {

UniqueBstr MakeBstr(const wchar_t* text) {
    UniqueBstr bstr(text);
    if (!bstr.get()) ThrowHr(E_OUTOFMEMORY);
    return bstr;
}

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

bool HasDocumentType(IXMLDOMDocument* dom) {
    ComPtr<IXMLDOMDocumentType> doctype;
    return SUCCEEDED(dom->get_doctype(doctype.put())) && doctype;
}

HRESULT LoadReplyXml(const char* replyUtf8, ComPtr<IXMLDOMDocument>& dom) {
    dom.reset();
    if (!replyUtf8) return E_INVALIDARG;
    std::u16string text = Utf16FromUtf8(replyUtf8);
    if (DeclaresDocumentType(text)) return S_FALSE;
    // A UTF-8 byte-order mark is not part of the text the DOM gets.
    const size_t start = !text.empty() && text[0] == u'\uFEFF' ? 1 : 0;
    if (text.size() - start > 0x7FFFFFFF) return E_OUTOFMEMORY;
    UniqueBstr xml(AsWide(text.c_str() + start), static_cast<UINT>(text.size() - start));
    if (!xml.get()) return E_OUTOFMEMORY;
    // Large replies should not sit in memory twice.
    std::u16string().swap(text);

    ComPtr<IXMLDOMDocument> loaded;
    SV_RETURN_IF_FAILED(CreateReplyDom(loaded));
    VARIANT_BOOL wellFormed = VARIANT_FALSE;
    HRESULT hr = loaded->loadXML(xml.get(), &wellFormed);
    if (FAILED(hr)) return hr;
    if (wellFormed != VARIANT_TRUE) return hr == S_OK ? S_FALSE : hr;
    if (HasDocumentType(loaded.get())) return S_FALSE;
    dom = std::move(loaded);
    return S_OK;
}

}  // namespace sv
