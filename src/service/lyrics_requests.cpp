#include "service/lyrics_requests.h"

#include <atomic>
#include <map>
#include <new>
#include <optional>
#include <utility>

#include "base/hresult.h"
#include "base/ui_thread.h"
#include "base/utf.h"
#include "base/win_handles.h"
#include "base/worker_pool.h"
#include "lyrics/own_lyrics_file.h"
#include "settings/settings.h"
#include "service/http_retriever.h"
#include "service/languages.h"
#include "service/server_hosts.h"

namespace sv {

// What a fetcher shares with the pool jobs it queues. A job leaves its document here and posts its
// sequence number, both under the lock and only while the channel is open, so once Close() has run
// no message can land in the window's queue any more; and the window adopts only what was left here.
struct LyricsFetcher::Channel {
    SRWLOCK lock = SRWLOCK_INIT;
    bool closed = false;
    // Documents posted and not yet taken, by sequence number.
    std::map<WPARAM, std::unique_ptr<LyricsDocument>> posted;
    std::atomic<long> discarded{0};
    long running = 0;                  // guarded by lock: fetches handed to the pool, up to the limit
    std::unique_ptr<PoolJob> waiting;  // guarded by lock: the newest fetch that found no place

    Channel() = default;
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    ~Channel() = default;

    // Posts the document or deletes it; never leaves it ownerless.
    void Deliver(HWND window, WPARAM sequence, std::unique_ptr<LyricsDocument> document) noexcept {
        {
            ScopedSrwLock hold(lock);
            if (!closed && NotePosted(sequence, document)) {
                if (PostMessageW(window, WM_SV_LYRICS_READY, sequence, 0)) return;
                const auto entered = posted.find(sequence);
                document = std::move(entered->second);
                posted.erase(entered);
            }
        }
        discarded.fetch_add(1, std::memory_order_relaxed);
    }

    // Under the lock. Takes the document only when it could be entered.
    bool NotePosted(WPARAM sequence, std::unique_ptr<LyricsDocument>& document) noexcept {
        try {
            posted[sequence] = std::move(document);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

    std::unique_ptr<LyricsDocument> Take(WPARAM sequence) {
        ScopedSrwLock hold(lock);
        const auto found = posted.find(sequence);
        if (found == posted.end()) return nullptr;
        std::unique_ptr<LyricsDocument> document = std::move(found->second);
        posted.erase(found);
        return document;
    }
};

namespace {

// One lookup: everything it reads was copied on the user-interface thread before it was queued.
class FetchJob final : public PoolJob {
public:
    FetchJob(std::shared_ptr<LyricsFetcher::Channel> channel, HWND window, WPARAM sequence,
             const LyricsDocument& request, const ServiceQuerySettings& settings, std::u16string cacheFolder,
             std::shared_ptr<const LanguageFetch> languages, OwnLyricsSources ownLyrics)
        : channel_(std::move(channel)),
          window_(window),
          sequence_(sequence),
          document_(std::make_unique<LyricsDocument>(request)),
          settings_(settings),
          cacheFolder_(std::move(cacheFolder)),
          languages_(std::move(languages)),
          ownLyrics_(std::move(ownLyrics)) {}
    ~FetchJob() override {
        if (document_) channel_->discarded.fetch_add(1, std::memory_order_relaxed);  // never delivered
    }
    FetchJob(const FetchJob&) = delete;
    FetchJob& operator=(const FetchJob&) = delete;

    void Run() override {
        {
            // The free-threaded apartment: the DOM is usable there, and the thread needs no hidden
            // apartment window (nor the window-system traffic of making one).
            ScopedCoInit com(COINIT_MULTITHREADED);
            if (languages_ && document_->Language().empty() && !document_->Artist().empty() &&
                !document_->Title().empty()) {
                // The first lookups after start-up: the stored translation still counts.
                if (std::optional<std::u16string> code = languages_->WaitForSelectedCode()) {
                    document_->SetLanguage(*code);
                }
            }
            // Out of memory on a text copy: the fetch failed, and the window still hears of it.
            if (!CallbackBoundary("lyrics fetch", [&] {
                    FetchLyrics(*document_, settings_, cacheFolder_);
                    // The user's timing for this song, read here with its cache, off the player's thread.
                    if (document_->HasLines()) document_->timingOffsetMs = ReadTimingOffset(*document_, cacheFolder_);
                })) {
                document_->status = LyricsStatus::ConnectionError;
            }
            if (!CallbackBoundary("own lyrics", [&] { FallBackOnOwnLyrics(*document_, ownLyrics_); })) {
                document_->ClearLines();
                document_->status = LyricsStatus::ConnectionError;
            }
        }
        Deliver();
        HandOverPlace(channel_);
    }

    // A fetch that could not be queued is answered at once, as a failed fetch: the status line
    // must not say "Loading" for ever.
    void AnswerWithoutRunning() {
        document_->status = LyricsStatus::ConnectionError;
        Deliver();
    }

    // Runs the job when a place is free, or makes it the waiting one; the fetch that waited before
    // is dropped (destroyed outside the lock, where its destructor counts it).
    static void Launch(std::unique_ptr<FetchJob> job) noexcept {
        const std::shared_ptr<LyricsFetcher::Channel> channel = job->channel_;
        std::unique_ptr<PoolJob> superseded;
        {
            ScopedSrwLock hold(channel->lock);
            if (channel->running >= LyricsFetcher::kRunningFetchLimit) {
                superseded = std::move(channel->waiting);
                channel->waiting = std::move(job);
                return;
            }
            ++channel->running;
        }
        Submit(std::move(job));
    }

private:
    void Deliver() { channel_->Deliver(window_, sequence_, std::move(document_)); }

    static void Submit(std::unique_ptr<FetchJob> job) noexcept {
        FetchJob* const fetch = job.get();
        std::unique_ptr<PoolJob> queued(job.release());
        if (SubmitToPool(queued)) return;
        fetch->AnswerWithoutRunning();  // queued still owns it and deletes it
        HandOverPlace(fetch->channel_);
    }

    // A running fetch is done: its place goes to the waiting fetch, if there is one and the
    // channel is still open.
    static void HandOverPlace(const std::shared_ptr<LyricsFetcher::Channel>& channel) noexcept {
        std::unique_ptr<PoolJob> next;
        {
            ScopedSrwLock hold(channel->lock);
            if (!channel->closed) next = std::move(channel->waiting);
            if (!next) {
                --channel->running;
                return;
            }
        }
        Submit(std::unique_ptr<FetchJob>(static_cast<FetchJob*>(next.release())));
    }

    std::shared_ptr<LyricsFetcher::Channel> channel_;
    HWND window_;
    WPARAM sequence_;
    std::unique_ptr<LyricsDocument> document_;
    ServiceQuerySettings settings_;
    std::u16string cacheFolder_;
    std::shared_ptr<const LanguageFetch> languages_;
    OwnLyricsSources ownLyrics_;
};

class SaveJob final : public PoolJob {
public:
    explicit SaveJob(std::unique_ptr<LyricsSaveJob> work) : work_(std::move(work)) {}
    void Run() override {
        HttpRetriever retriever;
        HttpRequest request;
        request.url = work_->url.c_str();
        request.post = 1;
        request.body = work_->body.c_str();
        request.bodyLength = -1;
        retriever.Run(request);  // the answer and any failure are ignored
    }

private:
    std::unique_ptr<LyricsSaveJob> work_;
};

std::string ServiceUrl(const char* path, const LyricsDocument& document, const ServiceQuerySettings& settings) {
    return BuildServiceUrl(&document, LyricsServiceUrl(path).c_str(), settings);
}

// Most fetches find no cache file; a DOM is made only for one that exists.
bool HasCacheFile(const LyricsDocument& document, std::u16string_view cacheFolder) {
    wchar_t path[kCachePathCapacity];
    return document.CachePath(path, false, cacheFolder) && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

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

void FetchLyrics(LyricsDocument& document, const ServiceQuerySettings& settings, std::u16string_view cacheFolder) {
    if (document.Artist().empty() || document.Title().empty()) {
        document.status = LyricsStatus::MissingKeys;
        return;
    }
    const LyricsStatus requestStatus = document.status;
    if (HasCacheFile(document, cacheFolder) && document.LoadFromCache(cacheFolder) == S_OK) {
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
        document.status = StatusOfFailure(request.errorCode);
    } else if (request.replyCut || FAILED(document.LoadFromReply(reply, true, cacheFolder))) {
        // A reply too large to be lyrics is not parsed at all.
        document.status = LyricsStatus::NotFound;
    }
}

bool FallBackOnOwnLyrics(LyricsDocument& document, const OwnLyricsSources& ownLyrics) {
    const LyricsStatus status = document.status;
    const bool serviceHasNone = status == LyricsStatus::NotFound || status >= LyricsStatus::ConnectionError;
    if (!serviceHasNone) return false;
    // A cached copy kept under a connection error is the service's, and the own lyrics replace it
    // only when there are some.
    return LoadOwnLyrics(document, ownLyrics);
}

LyricsFetcher::LyricsFetcher(std::u16string cacheFolder)
    : channel_(std::make_shared<Channel>()), cacheFolder_(std::move(cacheFolder)) {}

LyricsFetcher::~LyricsFetcher() { Close(); }

WPARAM LyricsFetcher::StartLyricsFetch(HWND window, const LyricsDocument& request, const ServiceQuerySettings& settings,
                                       std::shared_ptr<const LanguageFetch> languages,
                                       OwnLyricsSources ownLyrics) noexcept {
    SV_ASSERT_UI_THREAD();
    {
        ScopedSrwLock hold(channel_->lock);
        if (channel_->closed) return 0;
    }
    std::unique_ptr<FetchJob> job;
    try {
        job = std::make_unique<FetchJob>(channel_, window, nextSequence_, request, settings, cacheFolder_,
                                         std::move(languages), std::move(ownLyrics));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    window_ = window;
    latest_ = nextSequence_;
    nextSequence_ = nextSequence_ + 1 != 0 ? nextSequence_ + 1 : 1;
    FetchJob::Launch(std::move(job));
    return latest_;
}

size_t LyricsFetcher::Close() {
    std::unique_ptr<PoolJob> waiting;  // never run; its destructor counts it
    {
        ScopedSrwLock hold(channel_->lock);
        channel_->closed = true;
        waiting = std::move(channel_->waiting);
    }
    waiting.reset();
    // Outside the lock: PeekMessage may run handlers of messages sent from other threads.
    size_t discarded = window_ ? DiscardQueuedReplies(window_) : 0;
    window_ = nullptr;  // its handle may be reused once it is destroyed
    // Whatever was posted and is no longer queued can never be taken now.
    std::map<WPARAM, std::unique_ptr<LyricsDocument>> undeliverable;
    {
        ScopedSrwLock hold(channel_->lock);
        undeliverable.swap(channel_->posted);
    }
    discarded += undeliverable.size();
    channel_->discarded.fetch_add(static_cast<long>(discarded), std::memory_order_relaxed);
    return discarded;
}

std::unique_ptr<LyricsDocument> LyricsFetcher::TakeReply(WPARAM sequence) { return channel_->Take(sequence); }

long LyricsFetcher::DiscardedReplies() const { return channel_->discarded.load(std::memory_order_relaxed); }

size_t LyricsFetcher::DiscardQueuedReplies(HWND window) {
    size_t discarded = 0;
    MSG message;
    while (PeekMessageW(&message, window, WM_SV_LYRICS_READY, WM_SV_LYRICS_READY, PM_REMOVE | PM_NOYIELD)) {
        if (TakeReply(message.wParam)) ++discarded;
    }
    return discarded;
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
    SV_ASSERT_UI_THREAD();
    if (!work || work->body.empty()) return false;
    std::unique_ptr<PoolJob> job(new (std::nothrow) SaveJob(std::move(work)));
    return job && SubmitToPool(job);
}

}  // namespace sv
