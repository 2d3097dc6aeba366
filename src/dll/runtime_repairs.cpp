#include "dll/runtime_repairs.h"

#include <windows.h>

#include "base/module_instance.h"

namespace __gnu_cxx {
// The statically linked C++ runtime's: frees the emergency pool for exceptions (about 70 KB on
// 64-bit) that it allocates when the module loads and never frees by itself.
void __freeres() noexcept;
}  // namespace __gnu_cxx

namespace sv {

// Gives back what the statically linked runtime keeps for the calling thread (the threads
// library's record of it, with a duplicate of the thread's handle and an event, and the
// per-thread data of exceptions), as it would if the thread ended: the module's own TLS callbacks,
// called for this thread's detach. The 32-bit runtime makes that record on the loading thread
// (the player's) when the module registers its unwind tables, and the loader's unload does not
// free it, so each load and unload of the module would leave a thread handle and an event in the
// player. Should the module be used again on this thread, the runtime makes the record anew.
void ReleaseThisThreadsRuntimeState() noexcept {
    const auto base = reinterpret_cast<const BYTE*>(ModuleInstance());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& tls = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (tls.VirtualAddress == 0 || tls.Size < sizeof(IMAGE_TLS_DIRECTORY)) return;
    const auto* directory = reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + tls.VirtualAddress);
    // AddressOfCallBacks holds a relocated address: a null-terminated list of callbacks.
    auto* callback = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(static_cast<ULONG_PTR>(directory->AddressOfCallBacks));
    for (; callback && *callback; ++callback) (*callback)(const_cast<BYTE*>(base), DLL_THREAD_DETACH, nullptr);
}

// The player loads and frees the module again and again, and the pool would stay in its heap every
// time. Nothing may throw after this, so it comes last in the unload.
void FreeRuntimeExceptionPool() noexcept { __gnu_cxx::__freeres(); }

}  // namespace sv
