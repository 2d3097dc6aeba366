#include "service/lyrics_requests.h"

#include <atomic>
#include <deque>
#include <map>
#include <new>
#include <optional>
#include <utility>

#include "module/hresult.h"
#include "module/module_lock.h"
#include "module/utf.h"
#include "module/win_handles.h"
#include "plugin/settings.h"
#include "service/http_retriever.h"
#include "service/server_hosts.h"

namespace sv {

namespace {
struct FetchJob;
}  // namespace

// What a fetcher shares with the threads it starts. Fetch workers are created by a launcher
// thread, not by the user-interface thread: thread creation can take milliseconds (several under
// Wine), and a burst of fetches would hold up the window's messages for all of them. The launcher
// lives from the first fetch until Close(), waiting on a condition variable in between.
//
// A worker posts its document only under the lock and only while the channel is open, so once
// Close() has run no message can land in the window's queue any more.
struct LyricsFetcher::Channel {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE jobsWaiting = CONDITION_VARIABLE_INIT;
    bool closed = false;
    bool launcherRunning = false;
    std::deque<FetchJob*> pending;  // owned; waiting for the launcher
    // Documents posted and not yet taken, by sequence number: only these may be adopted from a
    // WM_SV_LYRICS_READY, so a message posted by anyone else never frees what its lParam names.
    std::map<WPARAM, LyricsDocument*> posted;
    std::atomic<long> inFlight{0};  // queued or running fetches
    std::atomic<long> discarded{0};

    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    ~Channel();

    // Posts the document or deletes it; never leaves it ownerless.
    void Deliver(HWND window, WPARAM sequence, std::unique_ptr<LyricsDocument> document) noexcept {
        {
            ScopedSrwLock hold(lock);
            if (!closed && NotePosted(sequence, document.get())) {
                if (PostMessageW(window, WM_SV_LYRICS_READY, sequence, reinterpret_cast<LPARAM>(document.get()))) {
                    document.release();
                    return;
                }
                posted.erase(sequence);
            }
        }
        discarded.fetch_add(1, std::memory_order_relaxed);
    }

    // Under the lock.
    bool NotePosted(WPARAM sequence, LyricsDocument* document) noexcept {
        try {
            posted[sequence] = document;
            return true;
        } catch (...) {
            return false;
        }
    }
    std::unique_ptr<LyricsDocument> Take(WPARAM sequence, LPARAM lParam) {
        ScopedSrwLock hold(lock);
        const auto found = posted.find(sequence);
        if (found == posted.end() || reinterpret_cast<LPARAM>(found->second) != lParam) return nullptr;
        std::unique_ptr<LyricsDocument> document(found->second);
        posted.erase(found);
        return document;
    }
};

namespace {

struct FetchJob {
    HWND window = nullptr;
    WPARAM sequence = 0;
    std::unique_ptr<LyricsDocument> document;
    ServiceQuerySettings settings;
    std::shared_ptr<LyricsFetcher::Channel> channel;
    HMODULE pinnedModule = nullptr;
};

struct LauncherJob {
    std::shared_ptr<LyricsFetcher::Channel> channel;
    HMODULE pinnedModule = nullptr;
};

struct SaveJob {
    std::unique_ptr<LyricsSaveJob> work;
    HMODULE pinnedModule = nullptr;
};

// A load reference on the module that holds this code (the DLL, or the executable in tests), so
// that it stays mapped until the worker has left it.
HMODULE PinThisModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&FetchLyricsWorker),
                            &module))
        return nullptr;
    return module;
}

// Starts a worker that owns job; on failure the job is still the caller's.
template <class Job>
bool StartWorker(LPTHREAD_START_ROUTINE procedure, Job* job) {
    job->pinnedModule = PinThisModule();
    ModuleAddRef();
    UniqueKernelHandle thread(CreateThread(nullptr, 0, procedure, job, 0, nullptr));
    if (thread) return true;  // fire and forget: the handle closes here
    ModuleRelease();
    if (job->pinnedModule) FreeLibrary(job->pinnedModule);
    job->pinnedModule = nullptr;
    return false;
}

// The worker's last act: let go of the module lock, then of the load reference, from system code.
[[noreturn]] void EndWorker(HMODULE pinnedModule, DWORD exitCode) {
    ModuleRelease();
    if (pinnedModule) FreeLibraryAndExitThread(pinnedModule, exitCode);
    ExitThread(exitCode);
}

std::string ServiceUrl(const char* path, const LyricsDocument& document, const ServiceQuerySettings& settings) {
    return BuildServiceUrl(&document, LyricsServiceUrl(path).c_str(), settings);
}

// Most fetches find no cache file; a DOM is made only for one that exists.
bool HasCacheFile(const LyricsDocument& document) {
    wchar_t path[kCachePathCapacity];
    return document.CachePath(path, false) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// A fetch whose worker could not be started is answered at once, as a failed fetch: the status
// line must not say "Loading" for ever.
void AnswerWithoutWorker(FetchJob* job) noexcept {
    std::unique_ptr<FetchJob> owned(job);
    owned->document->status = kConnectionError;
    owned->channel->Deliver(owned->window, owned->sequence, std::move(owned->document));
    owned->channel->inFlight.fetch_sub(1, std::memory_order_release);
}

void LaunchWorker(FetchJob* job) noexcept {
    if (!StartWorker(FetchLyricsWorker, job)) AnswerWithoutWorker(job);
}

// Runs until the fetcher closes; every local is gone before the thread ends through EndWorker,
// which does not return and so would skip their destructors.
void RunLauncher(LyricsFetcher::Channel& channel) {
    std::deque<FetchJob*> dropped;
    for (;;) {
        FetchJob* job = nullptr;
        {
            ScopedSrwLock hold(channel.lock);
            while (channel.pending.empty() && !channel.closed)
                SleepConditionVariableSRW(&channel.jobsWaiting, &channel.lock, INFINITE, 0);
            if (channel.closed) {
                // Whatever they fetched would be thrown away.
                dropped.swap(channel.pending);
                channel.launcherRunning = false;
                break;
            }
            job = channel.pending.front();
            channel.pending.pop_front();
        }
        LaunchWorker(job);
    }
    for (FetchJob* job : dropped) {
        delete job;
        channel.discarded.fetch_add(1, std::memory_order_relaxed);
        channel.inFlight.fetch_sub(1, std::memory_order_release);
    }
}

DWORD WINAPI LaunchFetchWorkers(LPVOID parameter) {
    std::unique_ptr<LauncherJob> launcher(static_cast<LauncherJob*>(parameter));
    const HMODULE pinnedModule = launcher->pinnedModule;
    RunLauncher(*launcher->channel);
    launcher.reset();
    EndWorker(pinnedModule, 0);
}

}  // namespace

LyricsFetcher::Channel::~Channel() {
    for (FetchJob* job : pending) delete job;
    for (const auto& entry : posted) delete entry.second;
}

ServiceQuerySettings CaptureQuerySettings(const PluginSettings& settings) {
    ServiceQuerySettings snapshot;
    snapshot.userName = AsU16(settings.userName);
    snapshot.deviceText = AsU16(settings.deviceText);
    snapshot.screenWidth = settings.screenWidth;
    snapshot.screenHeight = settings.screenHeight;
    return snapshot;
}

std::wstring BuildCommunityUrl(HINSTANCE resources, int stringId, const LyricsDocument* shown,
                               const ServiceQuerySettings& settings) {
    wchar_t base[kSettingTextChars] = {};
    const int length = LoadStringW(resources, static_cast<UINT>(stringId), base, static_cast<int>(std::size(base)));
    if (length <= 0) return std::wstring();
    std::wstring url = ResolveCommunityUrl(std::wstring_view(base, static_cast<size_t>(length)));
    if (CommunityPageTakesQuery(stringId)) {
        const std::u16string query = BuildCommunityQuery(shown, settings);
        url.append(AsWide(query.c_str()), query.size());
    }
    return url;
}

HRESULT CheckLyricsVersion(LyricsDocument& document, const ServiceQuerySettings& settings) {
    std::optional<std::string> reply;
    {
        const std::string url = ServiceUrl(kLyricsVersionPath, document, settings);
        reply = RetrieveWithTimeout(url.c_str(), kRetrieveTimeoutMs);
    }
    if (!reply) return E_FAIL;
    return document.LoadFromReply(reply->c_str(), false);
}

void FetchLyrics(LyricsDocument& document, const ServiceQuerySettings& settings) noexcept {
    try {
        if (document.Artist().empty() || document.Title().empty()) {
            document.status = kStatusMissingKeys;
            return;
        }
        const int32_t requestStatus = document.status;
        if (HasCacheFile(document) && document.LoadFromCache() == S_OK) {
            std::u16string checkedVersion;
            {
                LyricsDocument check(document);
                CheckLyricsVersion(check, settings);  // no answer keeps the cached version
                checkedVersion = check.Version();
            }
            if (checkedVersion == document.Version()) return;
            // The cached copy is out of date: the full reply decides the status, and a reply that
            // is not XML leaves the request's own status rather than the cache's (which would claim
            // lines that the reply has just cleared).
            document.status = requestStatus;
        }

        const std::string url = ServiceUrl(kFetchLyricsPath, document, settings);
        HttpRetriever retriever;
        HttpRequest request;
        request.url = url.c_str();
        const char* reply = retriever.Run(request);
        if (!reply) {
            // A cached copy that loaded keeps its lines, under the connection error.
            document.status = request.errorCode != 0 ? request.errorCode : kConnectionError;
        } else if (FAILED(document.LoadFromReply(reply, true))) {
            document.status = kStatusNotFound;
        }
    } catch (...) {
        document.status = kConnectionError;
    }
}

LyricsFetcher::LyricsFetcher() : channel_(std::make_shared<Channel>()) {}

LyricsFetcher::~LyricsFetcher() { Close(); }

WPARAM LyricsFetcher::StartLyricsFetch(HWND window, const LyricsDocument& request,
                                       const ServiceQuerySettings& settings) noexcept {
    std::unique_ptr<FetchJob> job;
    try {
        job = std::make_unique<FetchJob>();
        job->document = std::make_unique<LyricsDocument>(request);
        job->settings = settings;
    } catch (...) {
        return 0;
    }
    job->window = window;
    job->channel = channel_;
    job->sequence = nextSequence_;

    bool startLauncher = false;
    try {
        ScopedSrwLock hold(channel_->lock);
        if (channel_->closed) return 0;
        channel_->pending.push_back(job.get());
        channel_->inFlight.fetch_add(1, std::memory_order_relaxed);
        startLauncher = !channel_->launcherRunning;
        channel_->launcherRunning = true;
    } catch (...) {
        return 0;  // the queue could not grow
    }
    FetchJob* const queued = job.release();
    window_ = window;
    latest_ = queued->sequence;
    nextSequence_ = nextSequence_ + 1 != 0 ? nextSequence_ + 1 : 1;

    if (!startLauncher) {
        WakeConditionVariable(&channel_->jobsWaiting);
        return latest_;
    }
    LauncherJob* launcher = new (std::nothrow) LauncherJob;
    if (launcher) {
        launcher->channel = channel_;
        if (StartWorker(LaunchFetchWorkers, launcher)) return latest_;
        delete launcher;
    }
    // No launcher: this thread starts the waiting workers itself, and the next fetch tries again.
    std::deque<FetchJob*> waiting;
    {
        ScopedSrwLock hold(channel_->lock);
        waiting.swap(channel_->pending);
        channel_->launcherRunning = false;
    }
    for (FetchJob* waitingJob : waiting) LaunchWorker(waitingJob);
    return latest_;
}

size_t LyricsFetcher::Close() {
    {
        ScopedSrwLock hold(channel_->lock);
        channel_->closed = true;
    }
    WakeAllConditionVariable(&channel_->jobsWaiting);  // the launcher ends
    // Outside the lock: PeekMessage may run handlers of messages sent from other threads.
    size_t discarded = window_ ? DiscardQueuedReplies(window_) : 0;
    window_ = nullptr;  // its handle may be reused once it is destroyed
    // Whatever was posted and is no longer queued can never be taken now.
    std::map<WPARAM, LyricsDocument*> undeliverable;
    {
        ScopedSrwLock hold(channel_->lock);
        undeliverable.swap(channel_->posted);
    }
    for (const auto& entry : undeliverable) delete entry.second;
    discarded += undeliverable.size();
    channel_->discarded.fetch_add(static_cast<long>(discarded), std::memory_order_relaxed);
    return discarded;
}

std::unique_ptr<LyricsDocument> LyricsFetcher::TakeReply(WPARAM sequence, LPARAM lParam) {
    return channel_->Take(sequence, lParam);
}

long LyricsFetcher::DiscardedReplies() const { return channel_->discarded.load(std::memory_order_relaxed); }

long LyricsFetcher::FetchesInFlight() const { return channel_->inFlight.load(std::memory_order_acquire); }

size_t LyricsFetcher::DiscardQueuedReplies(HWND window) {
    size_t discarded = 0;
    MSG message;
    while (PeekMessageW(&message, window, WM_SV_LYRICS_READY, WM_SV_LYRICS_READY, PM_REMOVE | PM_NOYIELD)) {
        if (TakeReply(message.wParam, message.lParam)) ++discarded;
    }
    return discarded;
}

DWORD WINAPI FetchLyricsWorker(LPVOID parameter) {
    std::unique_ptr<FetchJob> job(static_cast<FetchJob*>(parameter));
    const HMODULE pinnedModule = job->pinnedModule;
    {
        // The free-threaded apartment: the DOM is usable there, and the thread needs no hidden
        // apartment window (nor the window-system traffic of making one).
        ScopedCoInit com(COINIT_MULTITHREADED);
        FetchLyrics(*job->document, job->settings);
    }
    job->channel->Deliver(job->window, job->sequence, std::move(job->document));
    job->channel->inFlight.fetch_sub(1, std::memory_order_release);
    job.reset();
    EndWorker(pinnedModule, 1);
}

std::unique_ptr<LyricsSaveJob> PrepareLyricsSave(const LyricsDocument* shown, const ServiceQuerySettings& settings) {
    if (!shown || !shown->PassesResyncTest()) return nullptr;
    const std::optional<std::u16string> timedText = shown->ToTimedText();
    if (!timedText || timedText->empty()) return nullptr;
    auto job = std::make_unique<LyricsSaveJob>();
    job->body = Utf8FromUtf16(*timedText);
    job->body.push_back('\0');
    job->url = ServiceUrl(kStoreLyricsPath, *shown, settings);
    return job;
}

bool StartLyricsSave(std::unique_ptr<LyricsSaveJob> work) noexcept {
    if (!work) return false;
    SaveJob* job = new (std::nothrow) SaveJob;
    if (!job) return false;
    job->work = std::move(work);
    if (StartWorker(SaveLyricsWorker, job)) return true;
    delete job;
    return false;
}

DWORD WINAPI SaveLyricsWorker(LPVOID parameter) {
    std::unique_ptr<SaveJob> job(static_cast<SaveJob*>(parameter));
    const HMODULE pinnedModule = job->pinnedModule;
    DWORD sent = 0;
    if (job->work && !job->work->body.empty()) {
        try {
            HttpRetriever retriever;
            HttpRequest request;
            request.url = job->work->url.c_str();
            request.post = 1;
            request.body = job->work->body.c_str();
            request.bodyLength = -1;
            retriever.Run(request);  // the answer and any failure are ignored
        } catch (...) {
        }
        sent = 1;
    }
    job.reset();
    EndWorker(pinnedModule, sent);
}

}  // namespace sv
