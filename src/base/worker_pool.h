// Short jobs off the user-interface thread, on the system thread pool. A job keeps the module
// loaded and locked while it waits and runs: the module lock makes DllCanUnloadNow answer S_FALSE,
// and a load reference taken before the job is queued is released by the pool only after the
// callback has returned (FreeLibraryWhenCallbackReturns), so no instruction of an unloaded module
// ever runs. Nothing waits for a job, least of all DllMain.
#pragma once
#include <memory>

namespace sv {

class PoolJob {
public:
    virtual ~PoolJob() = default;
    // Runs on a pool thread. An exception it raises is reported and goes no further.
    virtual void Run() = 0;
};

// Queues the job, which the pool then owns. False when it could not be queued: the job is then
// still the caller's (job is left as it was) to answer or drop.
bool SubmitToPool(std::unique_ptr<PoolJob>& job) noexcept;

}  // namespace sv
