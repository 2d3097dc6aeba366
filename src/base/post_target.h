// A window that pool jobs report to by posting, for as long as its owner lets them. Once Close()
// has run (on the window's thread, when the window goes) no job's message reaches that handle,
// which the system may already have given to another window. Shared by the owner and its jobs.
#pragma once
#include <windows.h>

#include "base/win_handles.h"

namespace sv {

class PostTarget {
public:
    explicit PostTarget(HWND window) noexcept : window_(window) {}
    PostTarget(const PostTarget&) = delete;
    PostTarget& operator=(const PostTarget&) = delete;

    // False when closed or the post failed: whatever the message would have carried is the
    // caller's to free.
    bool Post(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
        ScopedSrwLock hold(lock_);
        return window_ && PostMessageW(window_, message, wParam, lParam);
    }
    void Close() noexcept {
        ScopedSrwLock hold(lock_);
        window_ = nullptr;
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    HWND window_;
};

}  // namespace sv
