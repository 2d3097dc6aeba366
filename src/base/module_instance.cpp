#include "base/module_instance.h"

#include <atomic>

// Provided by the linker: the base address of the image (DLL or EXE) that holds this code.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace sv {
namespace {
std::atomic<HINSTANCE> g_moduleInstance{nullptr};
}  // namespace

HINSTANCE ModuleInstance() {
    HINSTANCE instance = g_moduleInstance.load(std::memory_order_acquire);
    return instance ? instance : reinterpret_cast<HINSTANCE>(&__ImageBase);
}

void SetModuleInstance(HINSTANCE instance) { g_moduleInstance.store(instance, std::memory_order_release); }

}  // namespace sv
