#include "base/worker_pool.h"

#include <windows.h>

#include <deque>
#include <new>

#include "base/hresult.h"
#include "base/module_lock.h"
#include "base/win_handles.h"

namespace sv {
namespace {

struct Queued {
    std::unique_ptr<PoolJob> job;
    HMODULE module = nullptr;  // the load reference given back after the job's callback
};

// Jobs are handed to the pool by one dispatching callback, not by the thread that queues them:
// when every pool thread is busy, a submission makes a new thread on the submitting thread (several
// milliseconds under Wine), and a burst of lookups would hold up the player's window for all of
// them. The queuing thread only appends to this list and, when no dispatcher is scheduled yet,
// schedules one.
SRWLOCK g_waitingLock = SRWLOCK_INIT;
std::deque<Queued*> g_waiting;       // guarded by g_waitingLock
bool g_dispatcherScheduled = false;  // guarded by g_waitingLock

// The module that holds this code (the DLL, or the executable in tests), referenced once more.
HMODULE ReferenceThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ReferenceThisModule),
                       &module);
    return module;
}

// Runs a job on this thread and gives back what it held (a job that found no pool thread).
void RunHere(Queued* queued) {
    const HMODULE module = queued->module;
    CallbackBoundary("pool job", [&] { queued->job->Run(); });
    delete queued;
    ModuleRelease();
    if (module) FreeLibrary(module);  // the caller is still in this module, which it holds too
}

void CALLBACK RunQueued(PTP_CALLBACK_INSTANCE instance, void* context) {
    Queued* queued = static_cast<Queued*>(context);
    if (queued->module) FreeLibraryWhenCallbackReturns(instance, queued->module);
    CallbackBoundary("pool job", [&] { queued->job->Run(); });
    delete queued;  // the job's destructor runs here, inside the module
    // The last of this module's work; the pool releases the load reference after the return.
    ModuleRelease();
}

// Hands every waiting job to the pool until none is left, then lets the next job schedule a new
// dispatcher.
void DispatchAll() {
    for (;;) {
        std::deque<Queued*> batch;
        {
            ScopedSrwLock hold(g_waitingLock);
            batch.swap(g_waiting);
            if (batch.empty()) {
                g_dispatcherScheduled = false;
                return;
            }
        }
        for (Queued* queued : batch) {
            if (!TrySubmitThreadpoolCallback(&RunQueued, queued, nullptr)) RunHere(queued);
        }
    }
}

void CALLBACK DispatchWaiting(PTP_CALLBACK_INSTANCE instance, void* context) {
    if (HMODULE module = static_cast<HMODULE>(context)) FreeLibraryWhenCallbackReturns(instance, module);
    DispatchAll();
    ModuleRelease();
}

}  // namespace

bool SubmitToPool(std::unique_ptr<PoolJob>& job) noexcept {
    if (!job) return false;
    Queued* queued = new (std::nothrow) Queued;
    if (!queued) return false;
    queued->module = ReferenceThisModule();
    ModuleAddRef();
    queued->job = std::move(job);
    bool queuedNow = false;
    bool schedule = false;
    {
        ScopedSrwLock hold(g_waitingLock);
        try {
            g_waiting.push_back(queued);
            queuedNow = true;
            schedule = !g_dispatcherScheduled;
            g_dispatcherScheduled = true;
        } catch (const std::bad_alloc&) {
            job = std::move(queued->job);
        }
    }
    // Once queued, the entry may already be running (and gone) on a pool thread: not touched again.
    if (!queuedNow) {  // the job is the caller's again
        ModuleRelease();
        if (queued->module) FreeLibrary(queued->module);
        delete queued;
        return false;
    }
    if (!schedule) return true;

    HMODULE dispatcherModule = ReferenceThisModule();
    ModuleAddRef();
    if (TrySubmitThreadpoolCallback(&DispatchWaiting, dispatcherModule, nullptr)) return true;
    // No dispatcher to be had: this thread hands the waiting jobs over itself.
    DispatchAll();
    ModuleRelease();
    if (dispatcherModule) FreeLibrary(dispatcherModule);
    return true;
}

}  // namespace sv
