#include "panes/action_bar.h"

#include "resources/resource_ids.h"

namespace sv {

CSVPluginAction::CSVPluginAction(CommandDescriber* describer) : describer_(describer) {}

CSVPluginAction::~CSVPluginAction() { Destroy(); }

bool CSVPluginAction::RegisterPaneClass(HINSTANCE instance) {
    return RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

bool CSVPluginAction::Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect) {
    if (Hwnd() || !RegisterPaneClass(instance)) return false;
    instance_ = instance;
    return WindowBase::Create(instance, kClassName, parent, nullptr, style, 0, rect) != nullptr;
}

int CSVPluginAction::FindItem(int commandId) const {
    const HWND list = ListWindow();
    if (!list) return -1;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT data = SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0);
        if (data != LB_ERR && data != 0 && LOWORD(data) == commandId) return static_cast<int>(i);
    }
    return -1;
}

void CSVPluginAction::RefreshItem(int commandId) {
    const HWND list = ListWindow();
    if (!list) return;
    RECT item;
    const int index = commandId >= 0 ? FindItem(commandId) : -1;
    if (index >= 0 &&
        SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) != LB_ERR) {
        InvalidateRect(list, &item, FALSE);
    } else {
        InvalidateRect(list, nullptr, FALSE);
    }
}

void CSVPluginAction::SetLook(const PaneLook* look) {
    look_ = look;
    list_.SetLook(look);
}

int CSVPluginAction::ItemHeight(bool button) const {
    const PaneLook& look = Look();
    return button ? look.Scale(Settings().buttonHeight) + look.Scale(kItemPadding) : look.Scale(kItemPadding);
}

void CSVPluginAction::MakeFaces() {
    const PluginSettings& settings = Settings();
    const PaneLook& look = Look();
    faceSize_ = {look.Scale(settings.buttonWidth), look.Scale(settings.buttonHeight)};
    faces_.reset(ImageList_Create(faceSize_.cx, faceSize_.cy, ILC_COLOR24, kFaceCount, 0));
    if (!faces_) return;
    UniqueBitmap strip(
        static_cast<HBITMAP>(LoadImageW(instance_, MAKEINTRESOURCEW(IDB_BUTTON_FACES), IMAGE_BITMAP, 0, 0, 0)));
    if (!strip) return;
    if (look.Dpi() == kDefaultDpi) {
        ImageList_Add(faces_.get(), strip.get(), nullptr);
        return;
    }
    // Face by face, so that no face's edge is blended with its neighbour's.
    for (int face = 0; face < kFaceCount; ++face) {
        UniqueBitmap scaled(StretchBitmap(strip.get(), face * settings.buttonWidth, 0, settings.buttonWidth,
                                          settings.buttonHeight, faceSize_.cx, faceSize_.cy));
        if (scaled) ImageList_Add(faces_.get(), scaled.get(), nullptr);
    }
}

void CSVPluginAction::DpiChanged() {
    if (!Hwnd()) return;
    MakeFaces();
    const HWND list = ListWindow();
    if (!list) return;
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT data = SendMessageW(list, LB_GETITEMDATA, static_cast<WPARAM>(i), 0);
        SendMessageW(list, LB_SETITEMHEIGHT, static_cast<WPARAM>(i), ItemHeight(data != 0 && data != LB_ERR));
    }
    InvalidateRect(list, nullptr, TRUE);
}

void CSVPluginAction::OnCreate() {
    MakeFaces();
    if (!list_.Create(instance_, Hwnd(),
                      WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWVARIABLE)) {
        return;
    }
    for (const int command : {CMD_TRANSLATE, CMD_RESYNC, CMD_SCROLL_LYRICS}) {
        SendMessageW(list_.Hwnd(), LB_ADDSTRING, 0, static_cast<LPARAM>(command));
    }
}

bool CSVPluginAction::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM, LPARAM lParam, LRESULT& result,
                                           MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_CREATE:
            OnCreate();
            result = 0;
            return true;
        case WM_SIZE:
            // Repainted in the list's own paint message rather than at once: its frame (the scroll
            // bar) drawn inside the main window's layout held the player's thread for 10-17 ms.
            if (list_.Hwnd()) {
                MoveWindow(list_.Hwnd(), 0, 0, LOWORD(lParam), HIWORD(lParam), FALSE);
                RedrawWindow(list_.Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
            }
            result = 0;
            return true;
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
            result = TRUE;
            return true;
        case WM_MEASUREITEM: {
            auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
            item->itemHeight = static_cast<UINT>(ItemHeight(item->itemData != 0));
            result = TRUE;
            return true;
        }
        case WM_DRAWITEM:
            DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            result = TRUE;
            return true;
        default:
            (void)hwnd;
            return false;
    }
}

void CSVPluginAction::DrawItem(const DRAWITEMSTRUCT& item) {
    if (item.itemID == static_cast<UINT>(-1)) return;  // an empty list's focus rectangle
    const HDC dc = item.hDC;
    RECT area = item.rcItem;
    if (item.itemData == 0) {
        // A separator: two white rules on black.
        FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        UniquePen white(CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
        ScopedSelect selectPen(dc, white.get());
        const PaneLook& look = Look();
        for (const int offset : {3, 5}) {
            const int y = area.top + look.Scale(offset);
            MoveToEx(dc, area.left + 1, y, nullptr);
            LineTo(dc, area.right - 1, y);
        }
        return;
    }
    CommandInfo info;
    info.id = LOWORD(item.itemData);
    info.extra = HIWORD(item.itemData);
    if (!describer_ || !describer_->DescribeCommand(info)) return;

    int face = kFaceNormal;
    COLORREF textColour = GetSysColor(COLOR_WINDOW);
    if (info.state & CMD_STATE_DISABLED) {
        face = kFaceDisabled;
        textColour = kDisabledTextColour;
    } else if (info.state & CSVActionList::kPressedBit) {  // pressed, or a command that is on
        face = kFacePressedOrActive;
    } else if (info.state & CSVActionList::kHoverBit) {
        face = kFaceHover;
    }
    const PaneLook& look = Look();
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (faces_) {
        ImageList_Draw(faces_.get(), face, dc, area.left + (width - faceSize_.cx) / 2,
                       area.top + (height - faceSize_.cy) / 2, ILD_NORMAL);
    }
    const COLORREF oldColour = SetTextColor(dc, textColour);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    ScopedSelect selectFont(dc, look.TextFont());
    RECT label = area;
    label.top += look.Scale(2);
    label.bottom -= look.Scale(2);
    DrawTextW(dc, info.label, -1, &label, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
    SetBkMode(dc, oldMode);
    SetTextColor(dc, oldColour);
}

}  // namespace sv
