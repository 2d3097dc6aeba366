// The plug-in's conversation with the lyrics service about one song: the fetch of its lyrics (the
// cache file, the version check, the full request) and the upload of re-timed lyrics, each a job
// on the system thread pool (base/worker_pool.h, which keeps the module loaded under it), and the
// addresses of the community pages that carry the song's query.
//
// Jobs never read what the user-interface thread owns (the settings record included): everything
// a job needs (a copy of the request document, a snapshot of the query settings, the cache folder,
// the save's text and address) is taken on that thread before it is queued. A fetch reports back
// only by posting WM_SV_LYRICS_READY; a save reports nothing. Nothing waits for a job. The rule in
// full: docs/architecture.md, "Lifetimes and threads".
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "lyrics/lyrics_document.h"
#include "lyrics/own_lyrics.h"
#include "service/service_query.h"

namespace sv {

struct PluginSettings;
class LanguageFetch;

// Posted to the window that started a fetch when its reply is ready: wParam the fetch's sequence
// number (1, 2, ... per LyricsFetcher), lParam 0. The document waits in the fetcher (TakeReply).
inline constexpr UINT WM_SV_LYRICS_READY = 2993;

inline constexpr char kFetchLyricsPath[] = "/sonavire/services/getLyricXML_2?";
inline constexpr char kLyricsVersionPath[] = "/sonavire/services/getLyricVerXML.php?";
inline constexpr char kStoreLyricsPath[] = "/sonavire/services/setLyrics.php?";

// Copies what a query carries from the module's record; on the user-interface thread.
ServiceQuerySettings CaptureQuerySettings(const PluginSettings& settings);

// The address of a community page from the string table (at most 259 characters, its host the
// configured community host), with the unescaped query of the shown document for the pages that
// take one (301, 302, 309). Empty when the string table has no such entry.
std::wstring BuildCommunityUrl(HINSTANCE resources, int stringId, const LyricsDocument* shown,
                               const ServiceQuerySettings& settings);

// Asks the service for the version of the document's song, waiting at most 3000 ms. A reply is
// parsed into the document (its version changes only when the reply holds one); E_FAIL and the
// document untouched when no reply came. Needs COM on the calling thread.
HRESULT CheckLyricsVersion(LyricsDocument& document, const ServiceQuerySettings& settings);

// The fetch itself, on the calling thread: fills the document (a copy of the request) with the
// cached or fetched lyrics and sets its status code: -2 without artist or title (nothing is
// sent); the connection error code, or 500 when there is none, when the request failed; -3 when
// the reply could not be parsed. Cache files are read from and written to cacheFolder. Needs COM
// on the calling thread. Throws std::bad_alloc when memory runs out (the document is then
// part-filled).
void FetchLyrics(LyricsDocument& document, const ServiceQuerySettings& settings,
                 std::u16string_view cacheFolder = UserCacheFolder());

// After FetchLyrics: the listener's own lyrics in place of a "not found" or a failed request. True
// when they were used (the document's lines, status and origin are theirs).
bool FallBackOnOwnLyrics(LyricsDocument& document, const OwnLyricsSources& ownLyrics);

// Starts fetches for one window and keeps their replies from outliving it. Owned by the window
// and used on its thread.
class LyricsFetcher {
public:
    static constexpr long kRunningFetchLimit = 2;

    // Lookups read and write their cache files in cacheFolder.
    explicit LyricsFetcher(std::u16string cacheFolder = UserCacheFolder());
    ~LyricsFetcher();  // Close()
    LyricsFetcher(const LyricsFetcher&) = delete;
    LyricsFetcher& operator=(const LyricsFetcher&) = delete;

    // Queues a job that fetches the lyrics of a copy of request and posts WM_SV_LYRICS_READY to
    // window. Returns the fetch's sequence number, which the message carries in wParam; the newest
    // fetch is LatestFetch(). When the job cannot be queued, the copy is posted at once with status
    // 500, so the window never waits for a reply that will not come. 0 after Close() or when memory
    // runs out: nothing was started and nothing will be posted.
    // At most kRunningFetchLimit fetches run at once; a newer fetch waits for a place, and the one
    // that waited before it is dropped unrun (counted in DiscardedReplies): it was for a track the
    // user has already left. So a user skipping through tracks while the service hangs holds a
    // few pool threads, not one per track.
    // While the language list is still on its way (languages not null), a request without a
    // language waits for the stored choice on the worker, at most as long as the list's own wait,
    // and is sent in it.
    // When the service answers "not found" or cannot be reached, the job falls back on the
    // listener's own lyrics (ownLyrics: the LRC file beside the song, then the song's tags).
    WPARAM StartLyricsFetch(HWND window, const LyricsDocument& request, const ServiceQuerySettings& settings,
                            std::shared_ptr<const LanguageFetch> languages = nullptr,
                            OwnLyricsSources ownLyrics = {}) noexcept;

    WPARAM LatestFetch() const { return latest_; }
    // The folder the lookups' cache files (and the timing offsets beside them) live in.
    const std::u16string& CacheFolder() const { return cacheFolder_; }

    // The document of a WM_SV_LYRICS_READY: the reply of this fetcher's fetch with that sequence
    // number, the first time it is asked; null for any other number (a message someone else posted).
    std::unique_ptr<LyricsDocument> TakeReply(WPARAM sequence);
    // Removes the WM_SV_LYRICS_READY messages queued for window (on its thread) and deletes the
    // documents this fetcher posted with them; returns how many there were.
    size_t DiscardQueuedReplies(HWND window);

    // For the window's WM_DESTROY or WM_NCDESTROY, on its thread: from now on jobs delete their
    // documents instead of posting them, and the replies already posted are removed and deleted.
    // Returns how many were deleted. Never waits for a job.
    size_t Close();

    // Documents deleted instead of delivered (closed channel, a window that no longer exists, or
    // a fetch dropped unrun).
    long DiscardedReplies() const;

    struct Channel;

private:
    std::shared_ptr<Channel> channel_;
    std::u16string cacheFolder_;
    HWND window_ = nullptr;  // the window fetches were started for, whose queue Close() empties
    WPARAM nextSequence_ = 1;
    WPARAM latest_ = 0;
};

// What a save sends: the address with the shown document's query and its timed text as UTF-8
// ending in one NUL byte. Taken on the user-interface thread.
struct LyricsSaveJob {
    std::string url;
    std::string body;
};

// The save of the shown document when it passes the re-sync test and has timed text; none
// otherwise (nothing is to be sent).
std::unique_ptr<LyricsSaveJob> PrepareLyricsSave(const LyricsDocument* shown, const ServiceQuerySettings& settings);

// Queues a job that POSTs the save and ignores the answer. False when there is nothing to send or
// the job could not be queued (the save is then dropped).
bool StartLyricsSave(std::unique_ptr<LyricsSaveJob> job) noexcept;

}  // namespace sv
