// The creator of the plug-in object, as the module's class factory calls it.
#pragma once
#include <windows.h>

#include "web/script_bridge.h"

// Makes a new CSonavire, runs its final construction (it becomes the live object, CSonavire::Live)
// and asks it for riid. On failure the new object is destroyed again, *ppv is null and the
// failure is returned (E_OUTOFMEMORY when memory runs out). Never throws. Each living object holds
// one module lock (sv::ModuleAddRef) from construction to destruction. Its main windows hand
// scriptBridge (the module's, which outlives them) to their pages as window.external.
HRESULT CreateSonavireObject(REFIID riid, void** ppv, sv::CWebIDispatch* scriptBridge);
