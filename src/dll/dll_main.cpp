// Entry points of Sonavire.dll.
#include <windows.h>

#include <iterator>

#include "base/hresult.h"
#include "base/module_instance.h"
#include "dll/application.h"
#include "dll/class_factory.h"
#include "dll/registration.h"
#include "dll/runtime_repairs.h"
#include "settings/plugin_identity.h"

namespace {
// The classes this module serves.
sv::ClassObjectEntry g_classObjects[] = {
    {&sv::CLSID_Sonavire, &sv::CreatePluginObject, nullptr},
};
}  // namespace

// Only kernel32 work here: everything else starts on first use and ends when the module may be
// unloaded, outside the loader lock.
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
                sv::FreeRuntimeExceptionPool();
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
        sv::ReleaseThisThreadsRuntimeState();
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
