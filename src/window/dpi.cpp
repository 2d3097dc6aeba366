#include "window/dpi.h"

#include "base/win_handles.h"

namespace sv {

int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = [] {
        const HMODULE user32 = GetModuleHandleW(L"user32.dll");
        FARPROC found = user32 ? GetProcAddress(user32, "GetDpiForWindow") : nullptr;
        return reinterpret_cast<GetDpiForWindowFunction>(reinterpret_cast<void*>(found));
    }();
    if (getDpiForWindow && hwnd) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) return UsableDpi(static_cast<int>(dpi));
    }
    ScopedDc screen(nullptr, DCX_CACHE);
    if (!screen.get()) return kDefaultDpi;
    return UsableDpi(GetDeviceCaps(screen.get(), LOGPIXELSY));
}

}  // namespace sv
