// Subclassing a window that belongs to someone else (the player's host window) with the previous
// procedure kept as a named window property rather than in an object: the procedure finds it from
// the window's first message on, whoever owns the window, and survives the object that installed it.
#pragma once
#include <windows.h>

namespace sv {

class PropertySubclass {
public:
    // Makes procedure the window's procedure and keeps the previous one under property. True when
    // it did; false when the window already holds the property (it is subclassed already) or the
    // window's procedure could not be read or replaced.
    static bool Install(HWND hwnd, const wchar_t* property, WNDPROC procedure);
    // The previous procedure kept under property; null when the window holds none.
    static WNDPROC Previous(HWND hwnd, const wchar_t* property);
    // Puts the previous procedure back and removes the property, when procedure is still the
    // current one. Someone who installed a procedure on top would have their chain cut, so then
    // nothing changes and false comes back.
    static bool Restore(HWND hwnd, const wchar_t* property, WNDPROC procedure);
    // Removes the property only (the window is going); true when it was there.
    static bool Forget(HWND hwnd, const wchar_t* property);
};

}  // namespace sv
