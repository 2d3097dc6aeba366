// Painting through a buffer the system keeps (uxtheme's buffered paint): a window is drawn off
// screen and reaches the screen in one copy, without flicker, and holds no bitmap of its own.
#pragma once
#include <windows.h>
#include <uxtheme.h>

namespace sv {

// Held by each window that paints through BufferedPaint, for the window's life, on its thread: the
// system's buffers for the thread are set up while one is held (the calls are counted).
class BufferedPaintUser {
public:
    BufferedPaintUser() : initialised_(SUCCEEDED(BufferedPaintInit())) {}
    ~BufferedPaintUser() {
        if (initialised_) BufferedPaintUnInit();
    }
    BufferedPaintUser(const BufferedPaintUser&) = delete;
    BufferedPaintUser& operator=(const BufferedPaintUser&) = delete;

private:
    bool initialised_;
};

// One paint of area of target: draw on dc(), which has target's coordinates; the buffer is copied
// to target when the object ends. dc() is null when no buffer could be had (nothing is drawn).
class BufferedPaint {
public:
    BufferedPaint(HDC target, const RECT& area)
        : paint_(BeginBufferedPaint(target, &area, BPBF_COMPATIBLEBITMAP, nullptr, &dc_)) {}
    ~BufferedPaint() {
        if (paint_) EndBufferedPaint(paint_, TRUE);
    }
    BufferedPaint(const BufferedPaint&) = delete;
    BufferedPaint& operator=(const BufferedPaint&) = delete;

    HDC dc() const { return paint_ ? dc_ : nullptr; }

private:
    HDC dc_ = nullptr;
    HPAINTBUFFER paint_;
};

}  // namespace sv
