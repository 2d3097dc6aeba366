#include "window/property_subclass.h"

namespace sv {

bool PropertySubclass::Install(HWND hwnd, const wchar_t* property, WNDPROC procedure) {
    if (Previous(hwnd, property)) return false;
    const LONG_PTR previous = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
    if (!previous || previous == reinterpret_cast<LONG_PTR>(procedure)) return false;
    // The property before the procedure: the procedure must find it from its first message on.
    if (!SetPropW(hwnd, property, reinterpret_cast<HANDLE>(previous))) return false;
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    return true;
}

WNDPROC PropertySubclass::Previous(HWND hwnd, const wchar_t* property) {
    return reinterpret_cast<WNDPROC>(GetPropW(hwnd, property));
}

bool PropertySubclass::Restore(HWND hwnd, const wchar_t* property, WNDPROC procedure) {
    const WNDPROC previous = Previous(hwnd, property);
    if (!previous) return false;
    if (GetWindowLongPtrW(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(procedure)) return false;
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    return Forget(hwnd, property);
}

bool PropertySubclass::Forget(HWND hwnd, const wchar_t* property) { return RemovePropW(hwnd, property) != nullptr; }

}  // namespace sv
