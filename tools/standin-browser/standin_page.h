// One page shown in the stand-in browser: its parsed text, its script engine (JScript) and the
// objects its scripts see: window (external, document, setInterval, setTimeout, clearInterval,
// clearTimeout, alert; to the container an IHTMLWindow2 with its document), document
// (getElementById, title, URL; to the browser's container an IHTMLDocument2 whose Script is the
// engine's global object and whose parentWindow is the window) and external (the container's
// external object, called as a browser calls it). Its frames (<iframe src>) are pages of their
// own, with their own engine, window and external object from the same container; they have no
// timers and are not drawn.
#pragma once
#include <windows.h>
#include <activscp.h>
#include <mshtmhst.h>

#include <map>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "html_model.h"

namespace sv::standin {

// What a page needs from the browser that shows it.
class PageOwner {
public:
    // The container's document host (IDocHostUIHandler), or null.
    virtual IDocHostUIHandler* DocumentHost() = 0;
    // The browser's window, for timers; null while it has none.
    virtual HWND PageWindow() = 0;
    // The page's text changed: draw it again.
    virtual void PageChanged() = 0;
    // The browser asked the container for window.external.
    virtual void CountExternalRequest() = 0;

protected:
    ~PageOwner() = default;
};

// Loads an address as the browser does: "http://" and "https://" over WinINet (or from the
// pages served in memory), "about:" as an empty page, anything else as a file path or "file:"
// address. location gets the address as a browser reports it, html the page (an error page
// when it cannot be loaded). False when it could not be loaded.
bool LoadDocument(const std::wstring& url, std::wstring& location, std::wstring& html);

class Page final : public IActiveScriptSite, private PageOwner {
public:
    // frameDepth: 0 for the browser's own page, 1 for its frames, and so on.
    Page(PageOwner* owner, std::wstring location, HtmlPage model, int frameDepth = 0);

    // Starts the script engine and runs the page's scripts in order.
    void Start();
    // The browser lets go of the page: timers stop, and the engine closes now, or once the script
    // running now (a call into the page that led here) has returned.
    void Shutdown();
    // Runs code; with value, code is an expression and value gets its text.
    bool Run(const std::wstring& code, std::wstring* value);
    void OnTimer(UINT_PTR id);

    const std::wstring& Location() const { return location_; }
    const HtmlPage& Model() const { return model_; }
    HtmlPage& Model() { return model_; }
    const std::vector<std::wstring>& Errors() const { return errors_; }
    // The document object the browser hands out (IHTMLDocument2).
    ComPtr<IDispatch> Document();
    // The window object (IHTMLWindow2).
    ComPtr<IDispatch> ScriptWindow();
    // Runs code in frame index of this page (in page order), as Run; false without that frame.
    bool FrameScript(size_t index, const std::wstring& code, std::wstring* value);
    // The engine's global object for the container (a counted gate around it); null once closed.
    ComPtr<IDispatch> ScriptObject();
    // window.external: asked of the container once, on first use; null when it gives none.
    ComPtr<IDispatch> External();
    // The browser's window; null once the browser has let go of the page.
    HWND Window() const { return owner_ ? owner_->PageWindow() : nullptr; }
    // window.setInterval / setTimeout: a timer calling function every milliseconds; its id.
    long AddTimer(IDispatch* function, UINT milliseconds, bool repeat);
    void RemoveTimer(long id);
    void Changed();

    // Script running now, entered through the page's own entry points (nested calls count).
    void Enter() { ++depth_; }
    void Leave();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override;
    // IActiveScriptSite
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type) override;
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    ~Page();
    void CloseEngine();

    // PageOwner, for the page's frames: the same document host; no window, nothing drawn.
    IDocHostUIHandler* DocumentHost() override { return owner_ ? owner_->DocumentHost() : nullptr; }
    HWND PageWindow() override { return nullptr; }
    void PageChanged() override {}
    void CountExternalRequest() override {
        if (owner_) owner_->CountExternalRequest();
    }

    struct Timer {
        ComPtr<IDispatch> function;
        bool repeat = false;
    };

    ULONG references_ = 1;
    PageOwner* owner_;
    std::wstring location_;
    HtmlPage model_;
    ComPtr<IActiveScript> engine_;
    ComPtr<IActiveScriptParse> parse_;
    ComPtr<IDispatch> global_;
    ComPtr<IDispatch> document_;
    ComPtr<IDispatch> window_;
    ComPtr<IDispatch> external_;
    bool externalAsked_ = false;
    std::map<long, Timer> timers_;
    long nextTimer_ = 1000;
    std::vector<std::wstring> errors_;
    int depth_ = 0;
    bool shutdownPending_ = false;
    int frameDepth_;
    std::vector<ComPtr<Page>> frames_;
};

}  // namespace sv::standin
