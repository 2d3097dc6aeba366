// The player's user-interface thread, on which the plug-in object, its windows and the module's
// settings record live (docs/architecture.md, "Lifetimes and threads"). The thread is noted when
// the plug-in object or the main window is made; debug builds then check, at the entry points
// that must run there, that they do. Release builds (NDEBUG) check nothing.
#pragma once
#include <windows.h>

namespace sv {

// Notes the calling thread as the user-interface thread (the latest note counts).
void NoteUiThread() noexcept;
// Whether the calling thread is the noted one; true while none is noted (a pane or a settings
// call tested on its own).
bool OnUiThread() noexcept;
// Reports the misplaced call (OutputDebugString and the standard error) and aborts.
[[noreturn]] void UiThreadAssertionFailed(const char* file, int line) noexcept;

}  // namespace sv

#ifdef NDEBUG
#define SV_ASSERT_UI_THREAD() ((void)0)
#else
#define SV_ASSERT_UI_THREAD() (::sv::OnUiThread() ? (void)0 : ::sv::UiThreadAssertionFailed(__FILE__, __LINE__))
#endif
