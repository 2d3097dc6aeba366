// The logo under the action bar. It shares the lyrics pane's window class ("SVPluginLyrics"):
// whichever of the two is created first registers it. Its bitmap drawing comes later.
#pragma once
#include <windows.h>

#include "window/window_base.h"

namespace sv {

class CSVPluginSVLogo : public WindowBase {
public:
    CSVPluginSVLogo() = default;
    ~CSVPluginSVLogo() override;

    bool Create(HINSTANCE instance, HWND parent, DWORD style);
};

}  // namespace sv
