// Table-driven QueryInterface: a class lists the interfaces it hands out, each with the offset of
// that interface's base inside the object. The first entry also answers IID_IUnknown, so every
// interface of one object gives the same IUnknown pointer.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace sv {

struct InterfaceMapEntry {
    const IID* iid;  // null ends the table
    ptrdiff_t offset;
};

// Offset of Interface inside Class, computed on a dummy non-null address (as static_cast adjusts
// pointers for multiple inheritance only when they are not null).
#define SV_INTERFACE_ENTRY(Class, Interface)                                                                       \
    ::sv::InterfaceMapEntry {                                                                                      \
        &__uuidof(Interface), reinterpret_cast<char*>(static_cast<Interface*>(reinterpret_cast<Class*>(0x1000))) - \
                                  reinterpret_cast<char*>(0x1000)                                                  \
    }
#define SV_INTERFACE_ENTRY_IID(iidValue, Class, Interface)                                                \
    ::sv::InterfaceMapEntry {                                                                             \
        &(iidValue), reinterpret_cast<char*>(static_cast<Interface*>(reinterpret_cast<Class*>(0x1000))) - \
                         reinterpret_cast<char*>(0x1000)                                                  \
    }
#define SV_INTERFACE_MAP_END \
    ::sv::InterfaceMapEntry { nullptr, 0 }

// Finds riid in the table and hands out that interface with a new reference (AddRef through the
// found interface). E_POINTER for a null out pointer, E_NOINTERFACE when the table lacks riid.
inline HRESULT QueryInterfaceFromTable(void* object, const InterfaceMapEntry* table, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!object || !table || !table[0].iid) return E_NOINTERFACE;
    const InterfaceMapEntry* found = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        found = &table[0];
    } else {
        for (const InterfaceMapEntry* entry = table; entry->iid; ++entry) {
            if (IsEqualIID(riid, *entry->iid)) {
                found = entry;
                break;
            }
        }
    }
    if (!found) return E_NOINTERFACE;
    auto* unknown = reinterpret_cast<IUnknown*>(static_cast<char*>(object) + found->offset);
    unknown->AddRef();
    *ppv = unknown;
    return S_OK;
}

}  // namespace sv
