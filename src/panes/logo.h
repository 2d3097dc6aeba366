// The logo under the action bar: bitmap 100, drawn at its own size (stretched at another DPI than
// 96), background never erased. It
// shares the lyrics pane's window class ("SVPluginLyrics"): whichever of the two is created first
// registers it.
#pragma once
#include <windows.h>

#include "base/win_handles.h"
#include "panes/pane_look.h"
#include "window/window_base.h"

namespace sv {

// The Sonavire logo pane (the "SV" of the name is the product's initials).
class CSVPluginSVLogo : public WindowBase {
public:
    CSVPluginSVLogo() = default;
    ~CSVPluginSVLogo() override;

    // The bitmap comes from instance's resources; rect: its place in parent (none: empty).
    bool Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect = nullptr);
    // The size at the window's DPI (not owned; outlives the pane); none: 96 dpi.
    void SetLook(const PaneLook* look) { look_ = look; }
    const PaneLook& Look() const { return look_ ? *look_ : PaneLook::Default(); }

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    // The bitmap at the look's DPI, stretched once per DPI.
    HBITMAP ShownBitmap();

    UniqueBitmap bitmap_;
    const PaneLook* look_ = nullptr;
    UniqueBitmap scaled_;
    int scaledDpi_ = 0;
};

}  // namespace sv
