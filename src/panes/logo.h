// The logo under the action bar: bitmap 100, drawn at its own size, background never erased. It
// shares the lyrics pane's window class ("SVPluginLyrics"): whichever of the two is created first
// registers it.
#pragma once
#include <windows.h>

#include "base/win_handles.h"
#include "window/window_base.h"

namespace sv {

// The Sonavire logo pane (the "SV" of the name is the product's initials).
class CSVPluginSVLogo : public WindowBase {
public:
    CSVPluginSVLogo() = default;
    ~CSVPluginSVLogo() override;

    // The bitmap comes from instance's resources.
    bool Create(HINSTANCE instance, HWND parent, DWORD style);

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    UniqueBitmap bitmap_;
};

}  // namespace sv
