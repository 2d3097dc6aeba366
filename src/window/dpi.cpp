#include "window/dpi.h"

#include "base/win_handles.h"

namespace sv {

int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    // Looked up at each call (it is asked for rarely): a function-local static would be state
    // the runtime keeps past the module's unload.
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(user32 ? GetProcAddress(user32, "GetDpiForWindow") : nullptr));
    if (getDpiForWindow && hwnd) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) return UsableDpi(static_cast<int>(dpi));
    }
    ScopedDc screen(nullptr, DCX_CACHE);
    if (!screen.get()) return kDefaultDpi;
    return UsableDpi(GetDeviceCaps(screen.get(), LOGPIXELSY));
}

}  // namespace sv
