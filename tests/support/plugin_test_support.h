// Helpers for the tests that run the plug-in inside the stand-in player: message pumping with
// deadlines, the plug-in's registry key pointed at the stand-in service, the plug-in's windows
// found as the player sees them, and a dismisser for modal dialogs.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "win_test_support.h"

namespace svtest {

// The plug-in's windows inside a host window (none when it has made none).
struct PluginWindows {
    HWND main = nullptr;
    HWND statusLine = nullptr, actionBar = nullptr, browse = nullptr, advert = nullptr, logo = nullptr,
         lyrics = nullptr;
    std::vector<HWND> panes;  // in the order they were created
    static PluginWindows In(HWND hostWindow);
    bool found() const { return main != nullptr; }
    // All six panes are made and laid out (the logo, made last, has its width).
    bool laidOut() const { return logo && RectInParent(logo).right > RectInParent(logo).left; }
    // The status line keeps the current status text as its window text.
    std::wstring StatusText() const { return statusLine ? TextOf(statusLine) : std::wstring(); }
};

// The text of a string-table entry of the plug-in's resources.
std::wstring ResourceText(HMODULE module, UINT id);

// While it lives, every dialog that this thread opens is answered with IDCANCEL once it has
// initialised; its caption and the text of one control are recorded.
class DialogDismisser {
public:
    explicit DialogDismisser(int recordedControlId);
    ~DialogDismisser();
    DialogDismisser(const DialogDismisser&) = delete;
    DialogDismisser& operator=(const DialogDismisser&) = delete;

    struct Seen {
        std::wstring caption;
        std::wstring controlText;
    };
    const std::vector<Seen>& seen() const { return seen_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK hook_ = nullptr;
    int controlId_;
    std::vector<Seen> seen_;
};

}  // namespace svtest
