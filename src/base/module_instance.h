// The module's instance handle, for loading its resources (strings, bitmaps, menu, dialogs).
#pragma once
#include <windows.h>

namespace sv {

// The handle stored at process attach; before that (or in a test executable that links the
// resources itself) the image that this code is linked into.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

}  // namespace sv
