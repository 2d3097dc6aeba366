// Entry points of Sonavire.dll.
#include <windows.h>

#include <iterator>

#include "module/application.h"
#include "module/class_factory.h"
#include "module/hresult.h"
#include "module/module_instance.h"
#include "module/registration.h"
#include "plugin/sonavire_factory.h"
#include "plugin/sonavire_ids.h"

namespace {
// The classes this module serves.
sv::ClassObjectEntry g_classObjects[] = {
    {&sv::CLSID_Sonavire, &CreateSonavireObject, nullptr},
};
}  // namespace

// Only kernel32 work here: everything else starts on first use, outside the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // Thread notifications stay on: the statically linked runtime frees its per-thread data
            // (exception state, thread_local) through them when a worker thread ends.
            sv::SetModuleInstance(instance);
            break;
        case DLL_PROCESS_DETACH:
            // At process exit (reserved non-null) the system reclaims everything and other DLLs
            // may already be gone, so only a FreeLibrary unload tidies up.
            if (!reserved) {
                sv::ReleaseCachedClassFactories(g_classObjects, std::size(g_classObjects));
                sv::EndApplication();
            }
            break;
        default:
            break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return sv::CanUnloadModule(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    SV_COM_BOUNDARY({
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!sv::TableServesClass(g_classObjects, std::size(g_classObjects), clsid)) return CLASS_E_CLASSNOTAVAILABLE;
        sv::StartApplication();
        return sv::GetClassObjectFromTable(g_classObjects, std::size(g_classObjects), clsid, riid, ppv);
    })
}

STDAPI DllRegisterServer() {
    SV_COM_BOUNDARY({ return sv::RegisterServer(sv::ModuleInstance()); })
}

STDAPI DllUnregisterServer() {
    SV_COM_BOUNDARY({ return sv::UnregisterServer(sv::ModuleInstance()); })
}
