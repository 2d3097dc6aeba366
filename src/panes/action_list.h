// The action list: an owner-drawn list box (a superclass of "listbox") whose items are buttons. It
// tracks the item under the mouse and the one held down, keeps both as bits in each item's data
// so the drawing shows hover and pressed faces, and posts an item's command to the main window
// when a press is released over the same item (and once more for a double click). It paints its
// own background: black, with the logo's band along the bottom edge (its height scaled with the
// window's DPI).
#pragma once
#include <windows.h>

#include <cstdint>

#include "base/win_handles.h"
#include "panes/pane_look.h"
#include "window/buffered_paint.h"
#include "window/window_base.h"

namespace sv {

class CSVActionList : public WindowBase {
public:
    static constexpr wchar_t kClassName[] = L"SVActionList";
    // Item data: the command id in the low 16 bits, these state bits in the high 16 bits. An item
    // whose whole data is 0 is a separator.
    static constexpr uint16_t kHoverBit = 0x40;
    static constexpr uint16_t kPressedBit = 0x01;
    static constexpr int kBandHeight = 45;  // at 96 dpi

    CSVActionList() = default;
    ~CSVActionList() override;

    static bool RegisterListClass(HINSTANCE instance);
    // The band bitmap comes from instance's resources.
    bool Create(HINSTANCE instance, HWND parent, DWORD style);
    // The sizes at the window's DPI (not owned; outlives the list); none: 96 dpi.
    void SetLook(const PaneLook* look) { look_ = look; }
    const PaneLook& Look() const { return look_ ? *look_ : PaneLook::Default(); }
    int BandHeight() const { return Look().Scale(kBandHeight); }

    // Sets (on) or clears the bits of an item's state; redraws the item when they changed.
    void SetItemState(int index, uint16_t bits, bool on);
    int PressedItem() const { return pressedItem_; }
    int HoveredItem() const { return hoveredItem_; }

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    int HitTest(LPARAM point) const;
    void PaintBackground(HDC dc);
    void OnMouseMove(LPARAM point);
    void OnMouseLeave();
    void SendCommand(LPARAM point);
    bool CursorOverItem() const;

    BufferedPaintUser bufferedPaint_;
    UniqueBitmap band_;
    const PaneLook* look_ = nullptr;
    int pressedItem_ = -1;
    bool tracking_ = false;
    int hoveredItem_ = -1;
};

}  // namespace sv
