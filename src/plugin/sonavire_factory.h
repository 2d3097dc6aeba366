// The creator of the plug-in object, as the module's class factory calls it.
#pragma once
#include <windows.h>

// Makes a new CSonavire, runs its final construction (it enters itself in the settings record)
// and asks it for riid. On failure the new object is destroyed again, *ppv is null and the
// failure is returned (E_OUTOFMEMORY when memory runs out). Never throws. Each living object holds
// one module lock (sv::ModuleAddRef) from construction to destruction.
HRESULT CreateSonavireObject(REFIID riid, void** ppv);
