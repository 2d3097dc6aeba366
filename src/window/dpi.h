// The DPI a window is shown at: what the system answers for it, whatever the player's DPI
// awareness (a player that is not DPI aware is shown at 96 and stretched by the system; a
// system-aware one at the system DPI; a per-monitor-aware one at its screen's).
#pragma once
#include <windows.h>

#include "window/dpi_scale.h"

namespace sv {

// Sent to a child window of a per-monitor (v2) aware window after its parent's DPI changed. The
// headers for older systems lack it.
inline constexpr UINT kDpiChangedAfterParent = 0x02E3;

// user32's GetDpiForWindow where the system has it (looked up at run time: older systems lack
// it), else the screen's LOGPIXELSY; 96 when neither answers.
int WindowDpi(HWND hwnd);

}  // namespace sv
