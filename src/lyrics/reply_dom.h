// The MSXML DOM as the plug-in uses it for everything the services send: replies are untrusted,
// so no document type definition is expanded and nothing is fetched from outside.
#pragma once
#include <windows.h>
#include <msxml2.h>

#include "base/com_ptr.h"

namespace sv {

// Published values; some of MinGW's symbols for these resolve to other classes.
constexpr CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kIidXmlDomElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// A BSTR copy; raises E_OUTOFMEMORY when it cannot be made.
UniqueBstr MakeBstr(const wchar_t* text);

// A DOM for untrusted text: no document type definitions (so no entity expansion), nothing
// fetched from outside, no validation, loads that finish before they return. A DOM that cannot
// refuse document type definitions is not used at all.
HRESULT CreateReplyDom(ComPtr<IXMLDOMDocument>& dom);

// True when the loaded document carries a document type.
bool HasDocumentType(IXMLDOMDocument* dom);

// Loads a service reply (UTF-8) into a new reply DOM. S_OK when it loaded; S_FALSE when the text
// is not well-formed or declares a document type (refused before parsing: not every MSXML honours
// ProhibitDTD); a failure HRESULT when the DOM could not be made or the load failed.
HRESULT LoadReplyXml(const char* replyUtf8, ComPtr<IXMLDOMDocument>& dom);

}  // namespace sv
