#include "panes/logo.h"

#include "panes/lyrics_pane.h"

namespace sv {

CSVPluginSVLogo::~CSVPluginSVLogo() { Destroy(); }

bool CSVPluginSVLogo::Create(HINSTANCE instance, HWND parent, DWORD style) {
    if (Hwnd() || !CSVPluginLyrics::RegisterPaneClass(instance)) return false;
    return WindowBase::Create(instance, CSVPluginLyrics::kClassName, parent, nullptr, style) != nullptr;
}

}  // namespace sv
