// Handle types that state their invalid value and close what they hold exactly once.
#pragma once
#include <windows.h>
#include <objbase.h>  // CoInitializeEx: WIN32_LEAN_AND_MEAN leaves it out of windows.h
#include <wininet.h>
#include <utility>

namespace sv {

template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;
    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) : h_(h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.h_) { o.h_ = Traits::Invalid(); }
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) {
            reset(o.h_);
            o.h_ = Traits::Invalid();
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::Invalid(); }
    void reset(Handle h = Traits::Invalid()) {
        Handle old = h_;
        h_ = h;
        if (old != Traits::Invalid()) Traits::Close(old);
    }
    // Closes what it held and gives the address for an out parameter.
    Handle* put() {
        reset();
        return &h_;
    }
    Handle release() {
        Handle h = h_;
        h_ = Traits::Invalid();
        return h;
    }

private:
    Handle h_ = Traits::Invalid();
};

struct KernelHandleTraits {  // threads, events, processes: invalid is null
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile: invalid is INVALID_HANDLE_VALUE
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { InternetCloseHandle(h); }
};
// Every GDI object that DeleteObject frees (fonts, bitmaps, brushes, pens), under its own type.
template <class GdiHandle>
struct GdiObjectTraits {
    using Handle = GdiHandle;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
struct MemoryDcTraits {  // CreateCompatibleDC
    using Handle = HDC;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DeleteDC(h); }
};
struct MenuTraits {
    using Handle = HMENU;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { DestroyMenu(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueHkey = UniqueHandle<RegKeyTraits>;
using UniqueHinternet = UniqueHandle<InternetHandleTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits<HGDIOBJ>>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueHandle<GdiObjectTraits<HPEN>>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;

// Selects an object into a DC for a scope and puts the previous one back.
class ScopedSelect {
public:
    ScopedSelect(HDC dc, HGDIOBJ obj) : dc_(dc), old_(SelectObject(dc, obj)) {}
    ~ScopedSelect() {
        if (old_) SelectObject(dc_, old_);
    }
    ScopedSelect(const ScopedSelect&) = delete;
    ScopedSelect& operator=(const ScopedSelect&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A window's device context for a scope (GetDCEx, then ReleaseDC).
class ScopedDc {
public:
    ScopedDc(HWND hwnd, DWORD flags) : hwnd_(hwnd), dc_(GetDCEx(hwnd, nullptr, flags)) {}
    ~ScopedDc() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    ScopedDc(const ScopedDc&) = delete;
    ScopedDc& operator=(const ScopedDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// BeginPaint and EndPaint as a pair, for a WM_PAINT handler.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &paint_)) {}
    ~PaintScope() { EndPaint(hwnd_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC dc() const { return dc_; }
    const RECT& area() const { return paint_.rcPaint; }

private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// CoInitializeEx for a scope; CoUninitialize only when it succeeded.
class ScopedCoInit {
public:
    explicit ScopedCoInit(DWORD model = COINIT_APARTMENTTHREADED) : hr_(CoInitializeEx(nullptr, model)) {}
    ~ScopedCoInit() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ScopedCoInit(const ScopedCoInit&) = delete;
    ScopedCoInit& operator=(const ScopedCoInit&) = delete;
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

// Holds a slim reader/writer lock for a scope, exclusively or shared.
class ScopedSrwLock {
public:
    enum Mode { kExclusive, kShared };
    explicit ScopedSrwLock(SRWLOCK& lock, Mode mode = kExclusive) : lock_(lock), mode_(mode) {
        if (mode_ == kExclusive)
            AcquireSRWLockExclusive(&lock_);
        else
            AcquireSRWLockShared(&lock_);
    }
    ~ScopedSrwLock() {
        if (mode_ == kExclusive)
            ReleaseSRWLockExclusive(&lock_);
        else
            ReleaseSRWLockShared(&lock_);
    }
    ScopedSrwLock(const ScopedSrwLock&) = delete;
    ScopedSrwLock& operator=(const ScopedSrwLock&) = delete;

private:
    SRWLOCK& lock_;
    Mode mode_;
};

}  // namespace sv
