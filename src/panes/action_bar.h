// The action bar: the column of command buttons (Translate, Re-sync, Scroll) left of the lyrics.
// Its list and drawing come later; for now it is a plain window of its class that the main window
// places and asks to refresh items.
#pragma once
#include <windows.h>

#include "window/window_base.h"

namespace sv {

class CSVPluginAction : public WindowBase {
public:
    static constexpr wchar_t kClassName[] = L"SVPluginAction";
    // RefreshItem with this id refreshes the whole list.
    static constexpr int kWholeList = -1;

    CSVPluginAction() = default;
    ~CSVPluginAction() override;

    static bool RegisterPaneClass(HINSTANCE instance);
    bool Create(HINSTANCE instance, HWND parent, DWORD style);

    // Repaints the button of a command (or the whole list for an id that no button has).
    void RefreshItem(int commandId);
    // The list window inside the bar; none until the list is built.
    HWND ListWindow() const { return nullptr; }
};

}  // namespace sv
