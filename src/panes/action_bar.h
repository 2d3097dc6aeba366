// The action bar: the column of command buttons left of the lyrics (Translate, Re-sync, Scroll),
// an action list whose items it draws from four button faces, with each item's label and state
// asked of the main window. Pressing a button sends its command to the main window.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "base/win_handles.h"
#include "panes/action_list.h"
#include "panes/command_info.h"
#include "panes/pane_look.h"
#include "window/window_base.h"

namespace sv {

struct ImageListTraits {
    using Handle = HIMAGELIST;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { ImageList_Destroy(h); }
};
using UniqueImageList = UniqueHandle<ImageListTraits>;

class CSVPluginAction : public WindowBase {
public:
    static constexpr wchar_t kClassName[] = L"SVPluginAction";
    // RefreshItem with this id refreshes the whole list.
    static constexpr int kWholeList = -1;
    // The faces of bitmap 103, left to right.
    enum Face { kFaceNormal = 0, kFaceHover = 1, kFacePressedOrActive = 2, kFaceDisabled = 3 };
    static constexpr int kFaceCount = 4;
    static constexpr COLORREF kDisabledTextColour = 0x008D8D8E;
    static constexpr int kItemPadding = 10;  // an item is the button's height plus this (at 96 dpi)

    // describer answers each button's label and state (the main window); it must outlive the bar.
    explicit CSVPluginAction(CommandDescriber* describer);
    ~CSVPluginAction() override;

    static bool RegisterPaneClass(HINSTANCE instance);
    // rect: its place in parent (none: empty).
    bool Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect = nullptr);
    // The fonts and sizes at the window's DPI (not owned; outlives the bar); none: 96 dpi.
    void SetLook(const PaneLook* look);
    const PaneLook& Look() const { return look_ ? *look_ : PaneLook::Default(); }
    // The look's DPI changed: the button faces are made again and the items measured again.
    void DpiChanged();
    // An item's height at the look's DPI (a button's, or a separator's).
    int ItemHeight(bool button) const;

    // Repaints the button of a command (or the whole list for an id that no button has).
    void RefreshItem(int commandId);
    // The list window inside the bar; none before the bar is created.
    HWND ListWindow() const { return list_.Hwnd(); }
    const CSVActionList& List() const { return list_; }
    // The list index of a command's button; -1 when it has none.
    int FindItem(int commandId) const;

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    void OnCreate();
    void DrawItem(const DRAWITEMSTRUCT& item);
    // The four faces of bitmap 103 at the look's DPI (stretched with halftone when it is not 96).
    void MakeFaces();

    CommandDescriber* describer_;
    HINSTANCE instance_ = nullptr;
    CSVActionList list_;
    UniqueImageList faces_;
    const PaneLook* look_ = nullptr;
    SIZE faceSize_ = {0, 0};  // one face as drawn
};

}  // namespace sv
