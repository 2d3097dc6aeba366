#include "base/ui_thread.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace sv {
namespace {

// 0: none noted. Thread ids are never 0 on Windows.
std::atomic<DWORD> g_uiThread{0};

}  // namespace

void NoteUiThread() noexcept { g_uiThread.store(GetCurrentThreadId()); }

bool OnUiThread() noexcept {
    const DWORD noted = g_uiThread.load();
    return noted == 0 || noted == GetCurrentThreadId();
}

void UiThreadAssertionFailed(const char* file, int line) noexcept {
    char text[512];
    std::snprintf(text, sizeof(text), "Sonavire: %s:%d must run on the user-interface thread\n", file, line);
    OutputDebugStringA(text);
    std::fputs(text, stderr);
    std::abort();
}

}  // namespace sv
