// The module's lock count: while it is above zero DllCanUnloadNow answers S_FALSE, so the DLL
// stays loaded. Taken by living objects, server locks and worker threads that outlive their caller.
#pragma once

namespace sv {
void ModuleAddRef();
void ModuleRelease();
long ModuleLockCount();
}  // namespace sv
