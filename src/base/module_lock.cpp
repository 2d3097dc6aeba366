#include "base/module_lock.h"

#include <atomic>

namespace sv {
namespace {
// Constant-initialised: usable before any static constructor of the module has run.
std::atomic<long> g_moduleLocks{0};
}  // namespace

void ModuleAddRef() { g_moduleLocks.fetch_add(1, std::memory_order_relaxed); }

// Release order: whatever a lock holder wrote must be visible before an unload decision sees zero.
void ModuleRelease() { g_moduleLocks.fetch_sub(1, std::memory_order_release); }

long ModuleLockCount() { return g_moduleLocks.load(std::memory_order_acquire); }
}  // namespace sv
