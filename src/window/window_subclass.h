// Subclassing a window that belongs to someone else (the player's host window) through comctl32's
// subclass chain: procedures installed through the chain before or after ours stay chained in
// whatever order they leave, and the window keeps nothing of ours once ours is removed.
#pragma once
#include <windows.h>
#include <commctrl.h>

namespace sv {

class WindowSubclass {
public:
    // Adds procedure under id to the window's chain (the window must belong to this thread). False
    // when it is in the chain already or could not be added. The procedure's reference data is
    // the helper's own.
    static bool Install(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id);
    static bool Installed(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id);
    // Takes procedure out of the chain; true when it did. While someone has put a procedure of
    // their own on top of the chain the old way (SetWindowLongPtr), nothing changes and false comes
    // back: once the chain were empty comctl32 would hand the window its first procedure again and
    // cut theirs off. Messages pass a removed procedure by, even while a call of it is on the stack.
    static bool Remove(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id);
    // Takes procedure out of the chain whatever is on top (for WM_NCDESTROY: the window is going).
    static bool Forget(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id);
};

}  // namespace sv
