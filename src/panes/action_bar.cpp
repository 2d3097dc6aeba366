#include "panes/action_bar.h"

namespace sv {

CSVPluginAction::~CSVPluginAction() { Destroy(); }

bool CSVPluginAction::RegisterPaneClass(HINSTANCE instance) {
    return RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

bool CSVPluginAction::Create(HINSTANCE instance, HWND parent, DWORD style) {
    if (Hwnd() || !RegisterPaneClass(instance)) return false;
    return WindowBase::Create(instance, kClassName, parent, nullptr, style) != nullptr;
}

void CSVPluginAction::RefreshItem(int) {
    // Without a list every id refreshes the whole bar.
    if (Hwnd()) InvalidateRect(Hwnd(), nullptr, FALSE);
}

}  // namespace sv
