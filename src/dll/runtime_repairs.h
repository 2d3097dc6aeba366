// What the statically linked MinGW runtime leaves behind when the player loads and frees the module
// again and again; each repair is called from one entry point (dll_main.cpp).
#pragma once

namespace sv {

// From DllCanUnloadNow, once it says yes (outside the loader lock): the runtime's record of the
// calling thread goes, as it would if the thread ended.
void ReleaseThisThreadsRuntimeState() noexcept;

// From DllMain at a FreeLibrary unload (not at process exit), last: the C++ runtime's emergency
// pool for exceptions goes.
void FreeRuntimeExceptionPool() noexcept;

}  // namespace sv
