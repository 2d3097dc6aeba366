// The browse pane and the advert pane: the two child windows that show community pages beside the
// lyrics. The browse pane is also the plug-in's way into the video page's script: it calls the
// page functions ("OnMediaPlayerOpened", "stop", "getCurrentTime", ...) when the main window tells
// it to.
//
// Each pane is a window of class "SVPluginBrowse" filled with one Web Browser control
// (web/web_browser.h). Page functions reach the shown page's script through the control; tests
// may put a PageScript of their own in its place.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/com_ptr.h"
#include "web/page_script.h"
#include "web/web_browser.h"
#include "window/window_base.h"

namespace sv {

class CSVPluginBrowse : public WindowBase {
public:
    static constexpr wchar_t kClassName[] = L"SVPluginBrowse";

    // Page functions the pane calls, exactly as the community pages define them.
    static constexpr wchar_t kMediaOpenedFunction[] = L"OnMediaPlayerOpened";
    static constexpr wchar_t kMediaStartedFunction[] = L"OnMediaPlayerStarted";
    static constexpr wchar_t kMediaStoppedFunction[] = L"OnMediaPlayerStoped";  // sic: the pages' name
    static constexpr wchar_t kMediaPausedFunction[] = L"OnMediaPlayerPaused";
    static constexpr wchar_t kMediaEndedFunction[] = L"OnMediaPlayerEnded";
    static constexpr wchar_t kStopFunction[] = L"stop";
    static constexpr wchar_t kSeekToFunction[] = L"seekTo";
    static constexpr wchar_t kGetCurrentTimeFunction[] = L"getCurrentTime";

    CSVPluginBrowse();
    ~CSVPluginBrowse() override;

    static bool RegisterPaneClass(HINSTANCE instance);
    // Creates the pane's window and, unless told to wait, the control in it. Making the control
    // and its first navigation each hold the thread for tens of milliseconds: a caller that must
    // not (the main window on the player's thread) makes the control later with CreateControl.
    // rect: the pane's place in parent (none: empty).
    bool Create(HINSTANCE instance, HWND parent, DWORD style, bool makeControl = true, const RECT* rect = nullptr);
    // Makes the control in the existing window, filling it; nothing when there is one already.
    bool CreateControl();

    // Shows a web address or a full local file path (Navigate2; the control loads it on its own
    // time). The pane's window text is the address too. Before the control is made the address
    // is kept and loaded by NavigateKeptAddress.
    void NavigateTo(std::wstring_view url);
    // Loads the address kept while there was no control; false when none waits or no control.
    bool NavigateKeptAddress();
    // The address last navigated to; empty before the first navigation.
    const std::wstring& CurrentAddress() const { return address_; }

    // The hosted control; it has none before WM_CREATE or when it could not be made.
    CWebBrowser2& Browser() { return browser_; }
    // The current document's script object: Document, then IHTMLDocument2, then Script. False
    // when any step gives nothing (no page yet, not an HTML page).
    bool GetPageScript(ComPtr<IDispatch>& script);

    // The top-level page shown now is trusted (IsTrustedPage): the track and the user name may go
    // to it.
    bool ShowsTrustedPage() const;

    // The script bridge this pane's pages reach as window.external (not owned; it outlives the
    // pane); null, as at first: they get none.
    void SetScriptBridge(CWebIDispatch* bridge) { browser_.SetScriptBridge(bridge); }

    // Puts a script of a test's own in place of the page's (null: the page's through the control).
    void SetPageScript(std::unique_ptr<PageScript> script);

    // Calls a global function of the page's script: arguments last first as strings,
    // DISPATCH_METHOD, the return value copied into result when given. True when the call was
    // made and succeeded. Never throws; nothing of the pane is used once the page runs, so a page
    // may even end the pane during its call. Calls nested deeper than kMostNestedPageCalls
    // (a page answering each call with another) fail.
    bool CallPageFunction(std::wstring_view name, const std::vector<std::wstring>& arguments,
                          VARIANT* result = nullptr);
    static constexpr int kMostNestedPageCalls = 8;

    // The page functions. Without a window each does nothing (PageGetCurrentTime answers 0.0).
    // PageMediaOpened calls the page only while it is a trusted page (ShowsTrustedPage).
    void PageMediaOpened(std::wstring_view userName, std::wstring_view artist, std::wstring_view title);
    void PageMediaStarted();
    void PageMediaStopped();
    void PageMediaPaused();
    void PageMediaEnded();
    void PageStop();
    void PageSeekTo(int32_t position);
    // The video's position in seconds; 0.0 when the page does not answer a number.
    double PageGetCurrentTime();

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    void CallWithoutResult(const wchar_t* name, const std::vector<std::wstring>& arguments = {});

    std::unique_ptr<PageScript> script_;  // a test's own; null: the page's through the control
    std::wstring address_;
    bool makeControlOnCreate_ = true;
    bool navigationKept_ = false;  // address_ waits for the control
    CWebBrowser2 browser_;
};

// The advertisement page's pane: the browse pane's class and behaviour under a name of its own.
class CSVPluginAdvert : public CSVPluginBrowse {
public:
    CSVPluginAdvert() = default;
    ~CSVPluginAdvert() override = default;
};

}  // namespace sv
