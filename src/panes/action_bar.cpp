#include "panes/action_bar.h"

namespace sv {

CSVPluginAction::CSVPluginAction(CSonavire* owner) : owner_(owner) {}

CSVPluginAction::~CSVPluginAction() { Destroy(); }

bool CSVPluginAction::RegisterPaneClass(HINSTANCE instance) {
    WindowClassInfo info;
    info.name = kClassName;
    info.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    info.background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    info.cursor = LoadCursorW(nullptr, IDC_ARROW);
    return RegisterWindowClass(instance, info);
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
