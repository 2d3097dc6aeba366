// The module's class objects: a table of the classes it serves, each with the function that makes
// an instance, and one cached class factory per class, made on first request and kept for the
// module's life.
//
// Module locks: the factory's own cached reference holds none; every further reference holds one,
// as does each LockServer(TRUE). Instances made by a creator must hold one for their own life
// (ModuleAddRef in the constructor, ModuleRelease in the destructor).
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace sv {

// Makes a new instance and asks it for riid; on failure the instance is destroyed again and
// *ppv is null. Must not throw.
using CreateObjectFunction = HRESULT (*)(REFIID riid, void** ppv);

class ClassFactory;

struct ClassObjectEntry {
    const CLSID* clsid;
    CreateObjectFunction create;
    ClassFactory* cachedFactory;  // null until first requested; guarded by the table's lock
};

// DllGetClassObject over a table: E_POINTER for a null out pointer, CLASS_E_CLASSNOTAVAILABLE for
// a class id that is not in the table, otherwise the cached factory's QueryInterface for riid.
HRESULT GetClassObjectFromTable(ClassObjectEntry* table, size_t count, REFCLSID clsid, REFIID riid, void** ppv);

bool TableServesClass(const ClassObjectEntry* table, size_t count, REFCLSID clsid);

// Module unload: drops the cached references (after DllCanUnloadNow said yes, nobody else holds one).
void ReleaseCachedClassFactories(ClassObjectEntry* table, size_t count);

// The answer of DllCanUnloadNow: S_OK when nothing holds the module, otherwise S_FALSE.
HRESULT CanUnloadModule();

}  // namespace sv
