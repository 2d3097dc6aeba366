#include "web/web_browser.h"

#include <mshtml.h>

#include <algorithm>
#include <new>

#include "base/hresult.h"
#include "base/qi_table.h"
#include "web/page_trust.h"
#include "web/script_bridge.h"

namespace sv {
namespace {

long g_liveSites = 0;

// Both are the same object: COM identity is the IUnknown pointer.
bool SameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b) return false;
    ComPtr<IUnknown> first, second;
    return SUCCEEDED(a->QueryInterface(IID_IUnknown, first.put_void())) &&
           SUCCEEDED(b->QueryInterface(IID_IUnknown, second.put_void())) && first.get() == second.get();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The site.

CWebCustomSite::CWebCustomSite(HWND host, CWebBrowser2* browser) : host_(host), browser_(browser) { ++g_liveSites; }

CWebCustomSite::~CWebCustomSite() {
    if (external_) external_->Detach();
    --g_liveSites;
}

long CWebCustomSite::LiveCount() { return g_liveSites; }

void CWebCustomSite::Detach() {
    host_ = nullptr;
    browser_ = nullptr;
    activeObject_.reset();
    if (const ComPtr<CPaneExternal> external = std::move(external_)) external->Detach();
}

STDMETHODIMP CWebCustomSite::QueryInterface(REFIID riid, void** ppv) {
    static const InterfaceMapEntry kInterfaces[] = {
        SV_INTERFACE_ENTRY(CWebCustomSite, IOleClientSite),
        SV_INTERFACE_ENTRY_IID(IID_IOleWindow, CWebCustomSite, IOleInPlaceSite),
        SV_INTERFACE_ENTRY(CWebCustomSite, IOleInPlaceSite),
        SV_INTERFACE_ENTRY_IID(IID_IOleInPlaceUIWindow, CWebCustomSite, IOleInPlaceFrame),
        SV_INTERFACE_ENTRY(CWebCustomSite, IOleInPlaceFrame),
        SV_INTERFACE_ENTRY(CWebCustomSite, IOleControlSite),
        SV_INTERFACE_MAP_END,
    };
    if (ppv && IsEqualIID(riid, kIidDocHostUiHandler)) {
        documentHost_.AddRef();
        *ppv = static_cast<IDocHostUIHandler*>(&documentHost_);
        return S_OK;
    }
    return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) CWebCustomSite::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CWebCustomSite::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP CWebCustomSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebCustomSite::GetContainer(IOleContainer** container) {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CWebCustomSite::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = host_;
    return host_ ? S_OK : E_FAIL;
}

STDMETHODIMP CWebCustomSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                              LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) {
    if (!frame || !document || !position || !clip || !frameInfo) return E_POINTER;
    *frame = nullptr;
    *document = nullptr;
    if (!host_) return E_FAIL;
    AddRef();
    *frame = static_cast<IOleInPlaceFrame*>(this);
    GetClientRect(host_, position);
    *clip = *position;
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = host_;
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP CWebCustomSite::OnInPlaceDeactivate() {
    activeObject_.reset();
    return S_OK;
}

STDMETHODIMP CWebCustomSite::SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) {
    activeObject_ = ComPtr<IOleInPlaceActiveObject>::From(active);
    return S_OK;
}

STDMETHODIMP CWebCustomSite::GetExtendedControl(IDispatch** control) {
    if (control) *control = nullptr;
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// The document host.

STDMETHODIMP CWebCustomSite::DocumentHost::GetHostInfo(DOCHOSTUIINFO* info) {
    if (!info) return E_POINTER;
    info->cbSize = sizeof(DOCHOSTUIINFO);
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
}

STDMETHODIMP CWebCustomSite::DocumentHost::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (key) *key = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebCustomSite::DocumentHost::GetDropTarget(IDropTarget*, IDropTarget** target) {
    if (target) *target = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebCustomSite::DocumentHost::GetExternal(IDispatch** external) {
    if (!external) return E_POINTER;
    *external = nullptr;
    // Every document of this control (frames too) gets the control's own external object.
    CWebIDispatch* bridge = site_.browser_ ? site_.browser_->ScriptBridge() : nullptr;
    if (!bridge) return E_NOTIMPL;
    if (!site_.external_) {
        site_.external_ = ComPtr<CPaneExternal>::Attach(new (std::nothrow) CPaneExternal(*bridge, site_.browser_));
        if (!site_.external_) return E_OUTOFMEMORY;
    }
    *external = site_.external_.Copy().detach();
    return S_OK;
}

STDMETHODIMP CWebCustomSite::DocumentHost::TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) {
    if (translated) *translated = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CWebCustomSite::DocumentHost::FilterDataObject(IDataObject*, IDataObject** filtered) {
    if (filtered) *filtered = nullptr;
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// The control.

bool CWebBrowser2::Create(HWND host, const RECT& rect) {
    Destroy();
    ComPtr<IWebBrowser2> browser;
    if (FAILED(CoCreateInstance(kClsidWebBrowser, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWebBrowser2),
                                browser.put_void())) ||
        !browser) {
        return false;
    }
    ComPtr<IOleObject> object;
    if (FAILED(browser.As(object)) || !object) return false;
    const ComPtr<CWebCustomSite> site = ComPtr<CWebCustomSite>::Attach(new CWebCustomSite(host, this));
    RECT position = rect;
    HRESULT hr = object->SetClientSite(static_cast<IOleClientSite*>(site.get()));
    if (SUCCEEDED(hr)) {
        hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site.get()), 0, host,
                            &position);
    }
    if (FAILED(hr)) {
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        site->Detach();
        return false;
    }
    browser_ = std::move(browser);
    object_ = std::move(object);
    site_ = site.Copy();
    Move(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    return true;
}

void CWebBrowser2::Move(int x, int y, int width, int height) {
    if (!object_) return;
    ComPtr<IOleInPlaceObject> inPlace;
    if (FAILED(object_.As(inPlace)) || !inPlace) return;
    const RECT rect{x, y, x + std::max(0, width), y + std::max(0, height)};
    inPlace->SetObjectRects(&rect, &rect);
}

void CWebBrowser2::Destroy() {
    if (!browser_) return;
    // Held in locals: the control may still be running a page's call into this pane, and the
    // pane (with this object) may be gone before the calls below return.
    const ComPtr<IWebBrowser2> browser = std::move(browser_);
    const ComPtr<IOleObject> object = std::move(object_);
    const ComPtr<CWebCustomSite> site = std::move(site_);
    ComPtr<IOleInPlaceObject> inPlace;
    if (SUCCEEDED(object.As(inPlace)) && inPlace) inPlace->InPlaceDeactivate();
    object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
    site->Detach();
}

HWND CWebBrowser2::ControlWindow() const {
    ComPtr<IOleWindow> window;
    HWND hwnd = nullptr;
    if (object_ && SUCCEEDED(object_.As(window)) && window) window->GetWindow(&hwnd);
    return hwnd;
}

HRESULT CWebBrowser2::Navigate(std::wstring_view url) {
    if (!browser_) return E_UNEXPECTED;
    const ComPtr<IWebBrowser2> browser = browser_.Copy();
    UniqueVariant address;
    address->bstrVal = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
    if (!address->bstrVal) return E_OUTOFMEMORY;
    address->vt = VT_BSTR;
    UniqueVariant empty;
    return browser->Navigate2(address.get(), empty.get(), empty.get(), empty.get(), empty.get());
}

ComPtr<IDispatch> CWebBrowser2::Document() const {
    ComPtr<IDispatch> document;
    if (browser_ && FAILED(browser_->get_Document(document.put()))) document.reset();
    return document;
}

std::wstring CWebBrowser2::LocationUrl() const {
    UniqueBstr location;
    if (!browser_ || FAILED(browser_->get_LocationURL(location.put()))) return std::wstring();
    return std::wstring(location.c_str(), location.length());
}

bool CWebBrowser2::TrustsCaller(IServiceProvider* caller) const {
    if (!browser_ || !IsTrustedPage(LocationUrl())) return false;
    ComPtr<IHTMLWindow2> calling;
    // A caller that names no window (a bare script engine) leaves the page to decide.
    if (!caller || FAILED(caller->QueryService(kIidHtmlWindow2, kIidHtmlWindow2, calling.put_void())) || !calling)
        return true;
    ComPtr<IHTMLDocument2> top;
    if (FAILED(top.QueryFrom(Document().get(), kIidHtmlDocument2)) || !top) return false;
    ComPtr<IHTMLWindow2> topWindow;
    if (SUCCEEDED(top->get_parentWindow(topWindow.put())) && SameObject(calling.get(), topWindow.get())) return true;
    // A browser may hand out more than one object for a window; the top-level window's document
    // is the top-level document all the same.
    ComPtr<IHTMLDocument2> callingDocument;
    return SUCCEEDED(calling->get_document(callingDocument.put())) && SameObject(callingDocument.get(), top.get());
}

}  // namespace sv
