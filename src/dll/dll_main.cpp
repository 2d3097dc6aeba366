// Entry points of Sonavire.dll.
#include <windows.h>

#include <iterator>

#include "base/hresult.h"
#include "base/module_instance.h"
#include "dll/application.h"
#include "dll/class_factory.h"
#include "dll/registration.h"
#include "settings/plugin_identity.h"

namespace {
// The classes this module serves.
sv::ClassObjectEntry g_classObjects[] = {
    {&sv::CLSID_Sonavire, &sv::CreatePluginObject, nullptr},
};

// Gives back what the statically linked runtime keeps for the calling thread (the threads
// library's record of it, with a duplicate of the thread's handle and an event, and the
// per-thread data of exceptions), as it would if the thread ended: the module's own TLS callbacks,
// called for this thread's detach. The 32-bit runtime makes that record on the loading thread
// (the player's) when the module registers its unwind tables, and the loader's unload does not
// free it, so each load and unload of the module would leave a thread handle and an event in the
// player. Should the module be used again on this thread, the runtime makes the record anew.
void ReleaseThisThreadsRuntimeState() {
    const auto base = reinterpret_cast<const BYTE*>(sv::ModuleInstance());
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
}  // namespace

// Only kernel32 work here: everything else starts on first use and ends when the module may be
// unloaded, outside the loader lock.
namespace __gnu_cxx {
// The statically linked C++ runtime's: frees the emergency pool for exceptions (about 70 KB on
// 64-bit) that it allocates when the module loads and never frees by itself.
void __freeres() noexcept;
}  // namespace __gnu_cxx

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // Thread notifications stay on: the statically linked runtime frees its per-thread data
            // (exception state, thread_local) through them when a worker thread ends.
            sv::SetModuleInstance(instance);
            break;
        case DLL_PROCESS_DETACH:
            // At process exit (reserved non-null) the system reclaims everything and other DLLs
            // may already be gone, so only a FreeLibrary unload tidies up, and only memory: the
            // module-wide fonts and records went when DllCanUnloadNow last said yes.
            if (!reserved) {
                sv::ReleaseCachedClassFactories(g_classObjects, std::size(g_classObjects));
                // Last: the player loads and frees the module again and again, and the pool would
                // stay in its heap every time.
                __gnu_cxx::__freeres();
            }
            break;
        default:
            break;
    }
    return TRUE;
}

// Once nothing holds the module it may be unloaded at any moment: what the application started
// (settings record, fonts) and the runtime's state for this thread end here, outside the loader
// lock; the next class request starts them again should the module stay.
STDAPI DllCanUnloadNow() {
    // A page that still holds window.external would call into an unloaded module.
    const HRESULT answer = sv::PagesHoldScriptBridge() ? S_FALSE : sv::CanUnloadModule();
    if (answer == S_OK) {
        sv::EndApplication();
        ReleaseThisThreadsRuntimeState();
    }
    return answer;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    return sv::ComBoundary("DllGetClassObject", [&]() -> HRESULT {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!sv::TableServesClass(g_classObjects, std::size(g_classObjects), clsid)) return CLASS_E_CLASSNOTAVAILABLE;
        sv::StartApplication();
        return sv::GetClassObjectFromTable(g_classObjects, std::size(g_classObjects), clsid, riid, ppv);
    });
}

STDAPI DllRegisterServer() {
    return sv::ComBoundary("DllRegisterServer", [] { return sv::RegisterServer(sv::ModuleInstance()); });
}

STDAPI DllUnregisterServer() {
    return sv::ComBoundary("DllUnregisterServer", [] { return sv::UnregisterServer(sv::ModuleInstance()); });
}
