// The browse pane and the advert pane: the two child windows that show community pages beside the
// lyrics. The browse pane is also the plug-in's way into the video page's script: it calls the
// page functions ("OnMediaPlayerOpened", "stop", "getCurrentTime", ...) when the main window tells
// it to.
//
// Until a browser is hosted here, a pane is a plain window of class "SVPluginBrowse" that
// remembers the address it was sent to (and shows it as its window text), and its page-function
// calls go to a replaceable PageScript, which by default finds no page.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "web/page_script.h"
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
    bool Create(HINSTANCE instance, HWND parent, DWORD style);

    // Shows a web address or a full local file path.
    void NavigateTo(std::wstring_view url);
    // The address last navigated to; empty before the first navigation.
    const std::wstring& CurrentAddress() const { return address_; }
    int NavigationCount() const { return navigations_; }

    // Replaces the page's script (null: no page).
    void SetPageScript(std::unique_ptr<PageScript> script);
    PageScript& Script() { return *script_; }

    // Calls a global function of the page's script; see PageScript. Never throws.
    bool CallPageFunction(std::wstring_view name, const std::vector<std::wstring>& arguments,
                          VARIANT* result = nullptr);

    // The page functions. Without a window each does nothing (PageGetCurrentTime answers 0.0).
    void PageMediaOpened(std::wstring_view userName, std::wstring_view artist, std::wstring_view title);
    void PageMediaStarted();
    void PageMediaStopped();
    void PageMediaPaused();
    void PageMediaEnded();
    void PageStop();
    void PageSeekTo(int32_t position);
    // The video's position in seconds; 0.0 when the page does not answer a number.
    double PageGetCurrentTime();

private:
    void CallWithoutResult(const wchar_t* name, const std::vector<std::wstring>& arguments = {});

    std::unique_ptr<PageScript> script_;
    std::wstring address_;
    int navigations_ = 0;
};

// The advertisement page's pane: the browse pane's class and behaviour under a name of its own.
class CSVPluginAdvert : public CSVPluginBrowse {
public:
    CSVPluginAdvert() = default;
    ~CSVPluginAdvert() override = default;
};

}  // namespace sv
