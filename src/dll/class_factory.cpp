#include "dll/class_factory.h"

#include <atomic>
#include <new>

#include "base/hresult.h"
#include "base/module_lock.h"
#include "base/qi_table.h"
#include "base/win_handles.h"

namespace sv {

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateObjectFunction create) : create_(create) {}
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const InterfaceMapEntry kInterfaces[] = {
            SV_INTERFACE_ENTRY(ClassFactory, IClassFactory),
            SV_INTERFACE_MAP_END,
        };
        return QueryInterfaceFromTable(this, kInterfaces, riid, ppv);
    }

    // The first reference is the module's cache; each one beyond it keeps the module loaded.
    STDMETHODIMP_(ULONG) AddRef() override {
        const ULONG count = ++references_;
        ModuleAddRef();
        return count;
    }

    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --references_;
        if (count == 0) {
            delete this;
        } else {
            ModuleRelease();
        }
        return count;
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        // The plug-in object is never aggregated: the player creates it on its own.
        if (outer) return CLASS_E_NOAGGREGATION;
        return ComBoundary("CreateInstance", [&] { return create_(riid, ppv); });
    }

    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ModuleAddRef();
        } else {
            ModuleRelease();
        }
        return S_OK;
    }

private:
    ~ClassFactory() = default;

    std::atomic<ULONG> references_{1};
    const CreateObjectFunction create_;
};

namespace {
// The module's critical section for the factory cache. Constant-initialised, so it works before
// any static constructor has run and needs no set-up in DllMain.
SRWLOCK g_factoryCacheLock = SRWLOCK_INIT;

ClassObjectEntry* FindEntry(ClassObjectEntry* table, size_t count, REFCLSID clsid) {
    for (size_t i = 0; i < count; ++i) {
        if (table[i].clsid && IsEqualCLSID(clsid, *table[i].clsid)) return &table[i];
    }
    return nullptr;
}
}  // namespace

bool TableServesClass(const ClassObjectEntry* table, size_t count, REFCLSID clsid) {
    return FindEntry(const_cast<ClassObjectEntry*>(table), count, clsid) != nullptr;
}

HRESULT GetClassObjectFromTable(ClassObjectEntry* table, size_t count, REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ClassObjectEntry* entry = FindEntry(table, count, clsid);
    if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
    if (!entry->create) return E_UNEXPECTED;

    ScopedSrwLock hold(g_factoryCacheLock);
    if (!entry->cachedFactory) {
        entry->cachedFactory = new (std::nothrow) ClassFactory(entry->create);
        if (!entry->cachedFactory) return E_OUTOFMEMORY;
    }
    // Under the lock, so that an unload check never sees the cache without this new reference.
    return entry->cachedFactory->QueryInterface(riid, ppv);
}

void ReleaseCachedClassFactories(ClassObjectEntry* table, size_t count) {
    ScopedSrwLock hold(g_factoryCacheLock);
    for (size_t i = 0; i < count; ++i) {
        if (ClassFactory* factory = table[i].cachedFactory) {
            table[i].cachedFactory = nullptr;
            factory->Release();
        }
    }
}

HRESULT CanUnloadModule() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

}  // namespace sv
