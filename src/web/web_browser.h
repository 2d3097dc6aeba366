// Hosting the Web Browser control without a framework: CWebBrowser2 creates the control, activates
// it in place inside a pane, sizes, navigates and destroys it; CWebCustomSite is the container's
// side of the protocol (client site, in-place site and frame) plus the document host
// (IDocHostUIHandler): no 3-D border, no browser menus or toolbars, the browser's own context
// menu and keys, and an external object of the control's own (CPaneExternal, acting through the
// module's script bridge) as window.external of the control's pages.
//
// Everything here runs on the user-interface thread that owns the panes.
#pragma once
#include <windows.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <ocidl.h>
#include <oleidl.h>

#include <string>
#include <string_view>

#include "base/com_ptr.h"

namespace sv {

// CLSID_WebBrowser, {8856F961-340A-11D0-A96B-00C04FD705A2}.
inline constexpr CLSID kClsidWebBrowser = {
    0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
// IID_IHTMLDocument2, {332C4425-26CB-11D0-B483-00C04FD90119}.
inline constexpr IID kIidHtmlDocument2 = {0x332C4425, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
// IID_IHTMLWindow2, {332C4427-26CB-11D0-B483-00C04FD90119}; also the service id SID_SHTMLWindow.
inline constexpr IID kIidHtmlWindow2 = {0x332C4427, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
// IID_IDocHostUIHandler, {BD3F23C0-D43E-11CF-893B-00AA00BDCE1A}.
inline constexpr IID kIidDocHostUiHandler = {
    0xBD3F23C0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};

class CWebBrowser2;
class CPaneExternal;
class CWebIDispatch;

class CWebCustomSite final : public IOleClientSite,
                             public IOleInPlaceSite,
                             public IOleInPlaceFrame,
                             public IOleControlSite {
public:
    // The host window the control lives in, and the control (not owned; until Detach).
    CWebCustomSite(HWND host, CWebBrowser2* browser);
    // Sites alive in this module now (they end with their control).
    static long LiveCount();

    // The host window and the control are going: the site answers no window from now on, and
    // the control's external object, which pages may hold on to, serves nobody any more.
    void Detach();

    // IUnknown, shared by every interface of the site and by its document host.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (for the in-place site and the frame)
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return host_ ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override;
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: the pane offers no tool space and no menus.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS widths) override { return widths ? INPLACE_E_NOTOOLSPACE : S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override;
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** control) override;
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

private:
    // IDocHostUIHandler, with no state of its own: it shares the site's identity and count.
    class DocumentHost final : public IDocHostUIHandler {
    public:
        explicit DocumentHost(CWebCustomSite& site) : site_(site) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return site_.QueryInterface(riid, ppv); }
        STDMETHODIMP_(ULONG) AddRef() override { return site_.AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return site_.Release(); }

        STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return E_NOTIMPL; }
        STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override;
        STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                            IOleInPlaceUIWindow*) override {
            return S_OK;
        }
        STDMETHODIMP HideUI() override { return S_OK; }
        STDMETHODIMP UpdateUI() override { return S_OK; }
        STDMETHODIMP EnableModeless(BOOL) override { return E_NOTIMPL; }
        STDMETHODIMP OnDocWindowActivate(BOOL) override { return E_NOTIMPL; }
        STDMETHODIMP OnFrameWindowActivate(BOOL) override { return E_NOTIMPL; }
        STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return E_NOTIMPL; }
        STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
        STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override;
        STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override;
        STDMETHODIMP GetExternal(IDispatch** external) override;
        STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override;
        STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** filtered) override;

    private:
        CWebCustomSite& site_;
    };

    ~CWebCustomSite();

    ULONG references_ = 1;
    HWND host_;
    CWebBrowser2* browser_;
    DocumentHost documentHost_{*this};
    ComPtr<IOleInPlaceActiveObject> activeObject_;
    ComPtr<CPaneExternal> external_;  // made when a page first asks
};

// Our window-side host of one Web Browser control (not the control's IWebBrowser2 itself). Owned
// by value by its pane.
class CWebBrowser2 {
public:
    CWebBrowser2() = default;
    ~CWebBrowser2() { Destroy(); }
    CWebBrowser2(const CWebBrowser2&) = delete;
    CWebBrowser2& operator=(const CWebBrowser2&) = delete;

    // Creates the control and activates it in place in host, filling rect. False (and no control)
    // when the control cannot be made or activated.
    bool Create(HWND host, const RECT& rect);
    // Places the control; a null size is kept as given.
    void Move(int x, int y, int width, int height);
    // Deactivates and closes the control and lets go of it and its site.
    void Destroy();

    bool HasControl() const { return static_cast<bool>(browser_); }
    // The control's own window (in-place active), or null.
    HWND ControlWindow() const;
    // Navigate2 with the URL as a string and four empty VARIANTs.
    HRESULT Navigate(std::wstring_view url);
    // The current document (a counted reference), or null.
    ComPtr<IDispatch> Document() const;
    // The current page's address as the control reports it; empty when it has none.
    std::wstring LocationUrl() const;
    // The control shows a trusted page (IsTrustedPage) and caller, when given and when it names
    // the window that calls (SID_SHTMLWindow), names the top-level one: not a frame's, not
    // another document's.
    bool TrustsCaller(IServiceProvider* caller) const;

    // The script bridge the control's pages reach through window.external (not owned; it outlives
    // the control); null: pages get no external object.
    void SetScriptBridge(CWebIDispatch* bridge) { scriptBridge_ = bridge; }
    CWebIDispatch* ScriptBridge() const { return scriptBridge_; }

private:
    CWebIDispatch* scriptBridge_ = nullptr;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IOleObject> object_;
    ComPtr<CWebCustomSite> site_;
};

}  // namespace sv
