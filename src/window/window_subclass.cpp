#include "window/window_subclass.h"

namespace sv {
namespace {

// The 64-bit MinGW import library lacks GetWindowSubclass: it is taken from the comctl32 that
// serves this module's SetWindowSubclass (a process may hold two versions of comctl32, each with
// subclass chains of its own), by name or as its ordinal 411 where only that is exported. The
// MinGW import libraries hand out a stub of this module as SetWindowSubclass's address: then the
// comctl32 loaded under that name is taken.
bool ReadSubclass(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id, DWORD_PTR* data) {
    using GetWindowSubclassFunction = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR*);
    HMODULE comctl32 = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&SetWindowSubclass)), &comctl32) ||
        !GetProcAddress(comctl32, "SetWindowSubclass"))
        comctl32 = GetModuleHandleW(L"comctl32.dll");
    if (!comctl32) return false;
    FARPROC found = GetProcAddress(comctl32, "GetWindowSubclass");
    if (!found) found = GetProcAddress(comctl32, MAKEINTRESOURCEA(411));
    if (!found) return false;
    const auto read = reinterpret_cast<GetWindowSubclassFunction>(reinterpret_cast<void*>(found));
    return read(hwnd, procedure, id, data) != FALSE;
}

}  // namespace

bool WindowSubclass::Install(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id) {
    if (!IsWindow(hwnd) || GetWindowThreadProcessId(hwnd, nullptr) != GetCurrentThreadId()) return false;
    // Installing again would only replace the reference data: a second install is refused, so
    // whoever counts installs counts each window once.
    if (Installed(hwnd, procedure, id)) return false;
    if (!SetWindowSubclass(hwnd, procedure, id, 0)) return false;
    // The procedure the window runs now is the chain's own; kept as the reference data, so that
    // Remove sees one put on top of it later.
    SetWindowSubclass(hwnd, procedure, id, static_cast<DWORD_PTR>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)));
    return true;
}

bool WindowSubclass::Installed(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id) {
    DWORD_PTR data = 0;
    return ReadSubclass(hwnd, procedure, id, &data);
}

bool WindowSubclass::Remove(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id) {
    DWORD_PTR chainProcedure = 0;
    if (!ReadSubclass(hwnd, procedure, id, &chainProcedure)) return false;
    if (static_cast<LONG_PTR>(chainProcedure) != GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) return false;
    return RemoveWindowSubclass(hwnd, procedure, id) != FALSE;
}

bool WindowSubclass::Forget(HWND hwnd, SUBCLASSPROC procedure, UINT_PTR id) {
    return RemoveWindowSubclass(hwnd, procedure, id) != FALSE;
}

}  // namespace sv
