#include "panes/logo.h"

#include "panes/lyrics_pane.h"
#include "resources/resource_ids.h"

namespace sv {

CSVPluginSVLogo::~CSVPluginSVLogo() { Destroy(); }

bool CSVPluginSVLogo::Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect) {
    if (Hwnd() || !CSVPluginLyrics::RegisterPaneClass(instance)) return false;
    bitmap_.reset(static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, 0)));
    return WindowBase::Create(instance, CSVPluginLyrics::kClassName, parent, nullptr, style, 0, rect) != nullptr;
}

HBITMAP CSVPluginSVLogo::ShownBitmap() {
    const PaneLook& look = Look();
    if (look.Dpi() == kDefaultDpi || !bitmap_) return bitmap_.get();
    if (scaled_ && scaledDpi_ == look.Dpi()) return scaled_.get();
    BITMAP info{};
    if (GetObjectW(bitmap_.get(), sizeof(info), &info) != sizeof(info)) return bitmap_.get();
    scaled_.reset(StretchBitmap(bitmap_.get(), 0, 0, info.bmWidth, info.bmHeight, look.Scale(info.bmWidth),
                                look.Scale(info.bmHeight)));
    scaledDpi_ = look.Dpi();
    return scaled_ ? scaled_.get() : bitmap_.get();
}

bool CSVPluginSVLogo::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT& result, MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_PAINT: {
            PaintScope paint(hwnd);
            const HBITMAP shown = ShownBitmap();
            BITMAP info{};
            if (shown && GetObjectW(shown, sizeof(info), &info) == sizeof(info)) {
                UniqueMemoryDc memory(CreateCompatibleDC(paint.dc()));
                if (memory) {
                    ScopedSelect select(memory.get(), shown);
                    BitBlt(paint.dc(), 0, 0, info.bmWidth, info.bmHeight, memory.get(), 0, 0, SRCCOPY);
                }
            }
            result = 0;
            return true;
        }
        case WM_ERASEBKGND:
            result = 1;  // the bitmap covers what it covers; nothing flickers under it
            return true;
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_ARROW));
            result = TRUE;
            return true;
        default:
            return false;
    }
}

}  // namespace sv
