// Helpers for the tests that run the plug-in inside the stand-in player: message pumping with
// deadlines, the plug-in's registry key pointed at the stand-in service, the plug-in's windows
// found as the player sees them, and a dismisser for modal dialogs.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "plugin_key_scope.h"

namespace plugintest {

// Dispatches this thread's messages until done() holds or the deadline passes; returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
// Dispatches every message waiting now.
void PumpPending();

// "127.0.0.1:PORT" of the stand-in service (SONAVIRE_STANDIN).
std::wstring StandinHost();

// The plug-in's key, made fresh, with "Lyrics Host" and "Community Host" naming the stand-in.
class StandinKeyScope : public sv::testing::PluginKeyScope {
public:
    StandinKeyScope();
};

// The children of a window from the top of the z-order down.
std::vector<HWND> ChildrenInZOrder(HWND parent);
std::wstring ClassOf(HWND hwnd);
std::wstring TextOf(HWND hwnd);
// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND hwnd);

// The plug-in's windows inside a host window (none when it has made none).
struct PluginWindows {
    HWND main = nullptr;
    HWND statusLine = nullptr, actionBar = nullptr, browse = nullptr, advert = nullptr, logo = nullptr,
         lyrics = nullptr;
    std::vector<HWND> panes;  // in the order they were created
    static PluginWindows In(HWND hostWindow);
    bool found() const { return main != nullptr; }
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

// Deletes the cache files in the plug-in's cache folder (C:\Program Files\Sonavire\*.xml).
void DeleteCacheFiles();

}  // namespace plugintest
