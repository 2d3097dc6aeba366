#include "panes/action_list.h"

#include <windowsx.h>

#include "resources/resource_ids.h"

namespace sv {

CSVActionList::~CSVActionList() { Destroy(); }

bool CSVActionList::RegisterListClass(HINSTANCE instance) {
    return RegisterSuperclass(instance, kClassName, L"listbox");
}

bool CSVActionList::Create(HINSTANCE instance, HWND parent, DWORD style) {
    if (Hwnd() || !RegisterListClass(instance)) return false;
    band_.reset(static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, 0)));
    return WindowBase::Create(instance, kClassName, parent, nullptr, style) != nullptr;
}

void CSVActionList::SetItemState(int index, uint16_t bits, bool on) {
    if (!Hwnd() || index < 0) return;
    const LRESULT data = SendMessageW(Hwnd(), LB_GETITEMDATA, static_cast<WPARAM>(index), 0);
    if (data == LB_ERR || data == 0) return;
    const uint32_t old = static_cast<uint32_t>(data);
    const uint32_t stateBits = static_cast<uint32_t>(bits) << 16;
    const uint32_t updated = on ? (old | stateBits) : (old & ~stateBits);
    if (updated == old) return;
    SendMessageW(Hwnd(), LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(updated));
    RECT item;
    if (SendMessageW(Hwnd(), LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) != LB_ERR)
        InvalidateRect(Hwnd(), &item, FALSE);
}

int CSVActionList::HitTest(LPARAM point) const {
    // The whole answer is the index; LB_ITEMFROMPOINT's high word says "outside", -1 means none.
    const LRESULT hit = SendMessageW(Hwnd(), LB_ITEMFROMPOINT, 0, point);
    if (hit == LB_ERR || HIWORD(hit) != 0) return -1;
    const int index = static_cast<int>(hit);
    const LRESULT count = SendMessageW(Hwnd(), LB_GETCOUNT, 0, 0);
    return index >= 0 && index < count ? index : -1;
}

bool CSVActionList::CursorOverItem() const {
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(Hwnd(), &cursor);
    const LRESULT count = SendMessageW(Hwnd(), LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        RECT item;
        if (SendMessageW(Hwnd(), LB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item)) != LB_ERR &&
            PtInRect(&item, cursor))
            return true;
    }
    return false;
}

void CSVActionList::PaintBackground(HDC dc) {
    RECT client{};
    GetClientRect(Hwnd(), &client);
    const SIZE size = {client.right, client.bottom};
    if (size.cx <= 0 || size.cy <= 0) return;
    BufferedPaint buffer(dc, client);
    const HDC memory = buffer.dc();
    if (!memory) return;
    FillRect(memory, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    if (band_) {
        UniqueMemoryDc source(CreateCompatibleDC(dc));
        if (source) {
            ScopedSelect selectBand(source.get(), band_.get());
            // The band is the logo's first pixel column, stretched across the bottom.
            const int bandHeight = BandHeight();
            if (bandHeight != kBandHeight) SetStretchBltMode(memory, HALFTONE);
            StretchBlt(memory, 0, size.cy - bandHeight, size.cx, bandHeight, source.get(), 0, 0, 1, kBandHeight,
                       SRCCOPY);
        }
    }
}

void CSVActionList::OnMouseMove(LPARAM point) {
    if (!tracking_) {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof(track);
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = Hwnd();
        track.dwHoverTime = HOVER_DEFAULT;
        tracking_ = TrackMouseEvent(&track) != FALSE;
    }
    const int hit = HitTest(point);
    if (hit != hoveredItem_) {
        const LRESULT count = SendMessageW(Hwnd(), LB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; ++i) SetItemState(i, kHoverBit, i == hit);
        hoveredItem_ = hit;
    }
    // Moving off a held button releases its pressed face; moving back restores it.
    if (pressedItem_ >= 0) SetItemState(pressedItem_, kPressedBit, pressedItem_ == hoveredItem_);
}

void CSVActionList::OnMouseLeave() {
    tracking_ = false;
    hoveredItem_ = -1;
    const LRESULT count = SendMessageW(Hwnd(), LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) SetItemState(i, kHoverBit, false);
}

void CSVActionList::SendCommand(LPARAM point) {
    const int hit = HitTest(point);
    if (hit < 0) return;
    const LRESULT data = SendMessageW(Hwnd(), LB_GETITEMDATA, static_cast<WPARAM>(hit), 0);
    if (data == LB_ERR || LOWORD(data) == 0) return;
    // Posted, not sent: the main window acts once this mouse message is done.
    const HWND mainWindow = GetParent(GetParent(Hwnd()));
    if (mainWindow) PostMessageW(mainWindow, WM_COMMAND, MAKEWPARAM(LOWORD(data), 0), 0);
}

bool CSVActionList::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                         MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_ERASEBKGND:
            PaintBackground(reinterpret_cast<HDC>(wParam));
            result = 1;
            return true;
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, CursorOverItem() ? IDC_HAND : IDC_ARROW));
            result = TRUE;
            return true;
        case WM_MOUSEMOVE:
            OnMouseMove(lParam);
            result = 0;
            return true;
        case WM_MOUSELEAVE:
            OnMouseLeave();
            result = 0;
            return true;
        case WM_LBUTTONDOWN:
            pressedItem_ = HitTest(lParam);
            if (pressedItem_ >= 0) SetItemState(pressedItem_, kPressedBit, true);
            return false;  // the list box takes the press too (focus, selection)
        case WM_LBUTTONUP:
            if (pressedItem_ >= 0) {
                if (HitTest(lParam) == pressedItem_) SendCommand(lParam);
                SetItemState(pressedItem_, kPressedBit, false);
                pressedItem_ = -1;
            }
            return false;
        case WM_LBUTTONDBLCLK:
            SendCommand(lParam);
            return false;
        default:
            return false;
    }
}

}  // namespace sv
