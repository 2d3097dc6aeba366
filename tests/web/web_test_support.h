// What the web tests share: the plug-in object's side of the bridge recorded, a bare JScript
// engine (which calls window.external's members as JScript does: DISPATCH_METHOD alone, arguments
// by value), panes in a window of their own with the stand-in browser, and pages written to files.
#pragma once
#include <windows.h>
#include <activscp.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "lyrics/lyrics_document.h"
#include "standin_browser.h"
#include "web/bridge_target.h"
#include "web/browse_pane.h"
#include "web/script_bridge.h"
#include "win_test_support.h"

namespace svtest {

// The plug-in object as the bridge sees it: every event as "open", "play", "pause", "stop",
// "end", "position", "show" or "hide", and a request document the tests fill.
class RecordingTarget : public sv::BridgeTarget {
public:
    void PageMediaOpened(const sv::LyricsDocument&) override { Record("open"); }
    void PagePlayStateChanged(sv::PagePlayState state) override {
        static const char* const kNames[] = {"stop", "pause", "play", "end"};
        Record(kNames[static_cast<int>(state)]);
    }
    void PagePositionChanged() override { Record("position"); }
    void PageShowsLyrics(bool show) override { Record(show ? "show" : "hide"); }
    const sv::LyricsDocument* CurrentRequestDocument() override { return &request; }

    std::vector<std::string> events;
    sv::LyricsDocument request;
    // Runs after each event is recorded (a page called back, a pane ended, ...).
    std::function<void(const std::string&)> onEvent;

private:
    void Record(const std::string& event) {
        events.push_back(event);
        if (onEvent) onEvent(event);
    }
};

// A bridge acting on a RecordingTarget, handed to every pane PaneWindow makes while it lives.
class BridgeScope {
public:
    explicit BridgeScope(std::function<bool()> trusted = nullptr);
    ~BridgeScope();
    sv::CWebIDispatch& bridge() { return *bridge_; }
    RecordingTarget target;
    // Whether the bridge finds a live plug-in object.
    bool live = true;

private:
    std::unique_ptr<sv::CWebIDispatch> bridge_;
};

// A bare JScript engine with named items.
class ScriptHost final : public IActiveScriptSite {
public:
    ScriptHost();
    ~ScriptHost();
    // Before Start.
    void AddItem(const wchar_t* name, IDispatch* object);
    // Before Start: the language of Internet Explorer 9 and later (getters and setters), which
    // pages in a browser may use.
    bool UseEs5();
    bool Start();
    // Runs code; with value, code is an expression and value its text ("" for undefined).
    bool Run(const std::wstring& code, std::wstring* value = nullptr);
    // Calls a global function with no arguments through the engine's global object, as a pane
    // calls a page's function.
    bool CallFunction(const wchar_t* name);
    std::vector<std::wstring> errors;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** type) override;
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

private:
    sv::ComPtr<IActiveScript> engine_;
    sv::ComPtr<IActiveScriptParse> parse_;
    std::vector<std::pair<std::wstring, sv::ComPtr<IDispatch>>> items_;
    bool started_ = false;
};

// A visible top-level window holding panes, each created as the main window creates them.
class PaneWindow {
public:
    PaneWindow(int width = 640, int height = 480);
    ~PaneWindow();
    HWND hwnd() const { return frame_; }
    // A new browse pane filling the window's client area (or the given rectangle).
    sv::CSVPluginBrowse& AddPane(const RECT* rect = nullptr);
    void DestroyPanes() { panes_.clear(); }

private:
    HWND frame_ = nullptr;
    std::vector<std::unique_ptr<sv::CSVPluginBrowse>> panes_;
};

// The stand-in browser hosted by the pane (null when the pane hosts another control or none).
sv::standin::StandinBrowser* StandinIn(sv::CSVPluginBrowse& pane);
// Navigates the pane and waits until its stand-in has loaded the page.
bool ShowPage(sv::CSVPluginBrowse& pane, const std::wstring& address);
// Writes a page into a folder of this test run; returns its full path.
std::wstring WritePage(const std::wstring& name, const std::string& html);
// Runs code in the pane's page (see StandinBrowser::RunScript); its value's text.
std::wstring PageValue(sv::CSVPluginBrowse& pane, const std::wstring& expression);

}  // namespace svtest
