// The lyrics of one track: its request keys, what the lyrics service said about them, the outcome
// of the last fetch and the timed lines. Built on a fetch worker, then owned by the main window and
// used only on the user-interface thread. A document carries no lock and shares nothing with other
// documents, so each thread may build its own.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lyrics/lyrics_text.h"

#ifdef _WIN32
#include <windows.h>
struct IXMLDOMDocument;
#endif

namespace sv {

// The outcome of a document's lookup. The negative codes are the document's own; the others are
// the connection failures a request can end in (service/http_retriever.h: NetworkError, the same
// numbers).
enum class LyricsStatus : int32_t {
    None = -1,
    MissingKeys = -2,  // artist or title missing, nothing requested
    NotFound = -3,
    Timed = -4,
    Final = -5,  // reserved: nothing assigns it
    Untimed = -6,
    Retimed = -8,           // at least one line stamped by re-sync
    ConnectionError = 500,  // no reply and no code
    LoginFailed = 501,
    ServerUnreachable = 504,
    RequestFailed = 505,
};

// The status text (a string-table id) that stands for a status on the status line: the one place
// where statuses meet the string table. Timed, re-timed and untimed lyrics have none of their own.
uint16_t StatusTextId(LyricsStatus status);

// Where shown lyrics came from: the service (or its cache), an LRC file beside the song, or the
// song's own tags. The status line names the last two.
enum class LyricsOrigin : int32_t { Service = 0, OwnFile = 1, SongTags = 2 };

// Where the track plays, and where an event about it comes from.
enum class MediaSource : int32_t { None = 0, Player = 1, VideoPage = 2 };

#ifdef _WIN32
// The current user's folder of cache files: the local application data folder (known-folder API)
// and "\Sonavire\Cache", found on first use and kept; nothing is created here (the first cache
// write makes the folders). Empty, and reported once, when the system names no such folder: then
// nothing is cached.
const std::u16string& UserCacheFolder();
#endif

struct LyricLine {
    double time = 0;      // start in milliseconds from the start of the track; 0 means untimed
    std::u16string text;  // the line as displayed; may hold any UTF-16 unit
    bool rightToLeft = false;
};

class LyricsDocument {
public:
    LyricsDocument() = default;
    // Copies the eight texts, sourceKind and status: the request keys a worker starts from.
    // The copy has no lines and both flags off.
    LyricsDocument(const LyricsDocument& other);
    // Neither assigned nor moved: a "copy" of a document takes its header only, so a whole-document
    // transfer would lose lines silently. Documents live on the heap and are handed over by pointer.
    LyricsDocument& operator=(const LyricsDocument&) = delete;
    LyricsDocument(LyricsDocument&&) = delete;
    LyricsDocument& operator=(LyricsDocument&&) = delete;
    ~LyricsDocument() = default;

    // Replaces the eight texts (embedded NULs kept) and copies sourceKind and status; lines and
    // flags stay.
    void AssignHeader(const LyricsDocument& other);
    // Empty texts, no source, status -1; lines and flags stay.
    void Reset();
    // Both flags off and no lines.
    void ClearLines();

    int LineCount() const { return static_cast<int>(lines.size()); }
    // None when the index is outside 0..LineCount()-1.
    const LyricLine* LineAt(int index) const;
    LyricLine* LineAt(int index);
    // Lyrics are on display: status -4, -6 or -8.
    bool HasLines() const;

    // Appends a line: its time decoded from the "timing" text (absent passed as empty), its
    // reading order from its characters.
    void AddLine(std::u16string_view text, std::u16string_view timing);
    // Appends a line stamped in milliseconds (0: untimed), as read from an LRC text.
    void AddTimedLine(std::u16string_view text, double timeMs);

    // Fresh copies of the texts.
    std::u16string Title() const { return title; }
    std::u16string Artist() const { return artist; }
    std::u16string Album() const { return album; }
    std::u16string Language() const { return language; }
    std::u16string VideoId() const { return videoId; }
    std::u16string Version() const { return version; }
    std::u16string SongLock() const { return songLock; }
    std::u16string LastUpdate() const { return lastUpdate; }

    void SetTitle(std::u16string_view text) { title.assign(text); }
    void SetArtist(std::u16string_view text) { artist.assign(text); }
    void SetAlbum(std::u16string_view text) { album.assign(text); }
    void SetLanguage(std::u16string_view text) { language.assign(text); }
    void SetVideoId(std::u16string_view text) { videoId.assign(text); }
    void SetVersion(std::u16string_view text) { version.assign(text); }
    void SetSongLock(std::u16string_view text) { songLock.assign(text); }
    void SetLastUpdate(std::u16string_view text) { lastUpdate.assign(text); }

    // This document's cache file name for its artist, title, video id and language, in the given
    // folder; none when no safe name fits (see ComposeCachePath).
    std::optional<std::u16string> CachePathIn(std::u16string_view folder) const;

    // Re-timed lyrics good enough to upload: status -8, times never decrease and any two lines
    // two apart are at least one second apart.
    bool PassesResyncTest() const;
    // Every line as "[mm:ss.hh] text", with nothing between entries; none when there are no lines.
    // A pure function of the document: it may run wherever the document is not being changed.
    std::optional<std::u16string> ToTimedText() const;

#ifdef _WIN32
    // The three loads below throw std::bad_alloc when memory runs out on a text copy and leave the
    // document part-filled: the caller drops it (the fetch job answers with a connection error).
    // Parses a lyrics-service reply (UTF-8 XML). With saveToCache, a well-formed reply is also
    // written to this document's cache file in cacheFolder (made as needed), whatever its
    // contents, under the keys as the reply left them (its title and artist replace the request's); a failed write is
    // ignored. Needs COM on the calling thread. E_INVALIDARG for a missing text; S_FALSE (with no
    // lines and nothing saved) for text that is not well-formed XML or that declares a document
    // type.
    HRESULT LoadFromReply(const char* replyUtf8, bool saveToCache, std::u16string_view cacheFolder = UserCacheFolder());
    // Parses this document's cache file in cacheFolder; a missing or malformed file gives a result
    // other than S_OK.
    HRESULT LoadFromCache(std::u16string_view cacheFolder = UserCacheFolder());
    // Reads the texts and lines from a loaded reply. Needs COM on the calling thread.
    HRESULT ParseDom(IXMLDOMDocument* dom);
    // Writes this document's cache path in cacheFolder into buffer; false (and an empty buffer)
    // when there is none. With createFolder, the folder and any missing parents are made first.
    bool CachePath(wchar_t (&buffer)[kCachePathCapacity], bool createFolder,
                   std::u16string_view cacheFolder = UserCacheFolder()) const;
#endif

    MediaSource sourceKind = MediaSource::None;
    LyricsStatus status = LyricsStatus::None;
    bool resyncing = false;     // re-sync mode: clicks stamp lines
    bool manualScroll = false;  // the user scrolls; playback does not move the lines
    // The user's own shift of every line's shown time, in milliseconds (negative: earlier). Kept
    // for this user beside the cache file; never part of the lines' times, so never uploaded.
    int32_t timingOffsetMs = 0;
    // Set by the lookup that filled the lines; a copy starts from the service again.
    LyricsOrigin origin = LyricsOrigin::Service;
    std::u16string originFile;  // the LRC file's path, when origin is OwnFile

private:
    std::u16string title;
    std::u16string artist;
    std::u16string album;
    std::u16string language;  // set by its owner, never by a reply
    std::u16string videoId;   // set by its owner, never by a reply
    std::u16string version;
    std::u16string songLock;
    std::u16string lastUpdate;
    std::vector<LyricLine> lines;
};

#ifdef _WIN32
// The user's timing offset for the document's song, from the file beside its cache file in
// cacheFolder; 0 when there is none or it cannot be read. Reads the disk: never on the player's thread.
int32_t ReadTimingOffset(const LyricsDocument& document, std::u16string_view cacheFolder = UserCacheFolder());
// Writes the offset beside the document's cache file on a pool job (0 removes the file); of
// several offsets queued for one song the last one stays. Takes copies of the document's keys.
void StoreTimingOffsetLater(const LyricsDocument& document, int32_t offsetMs,
                            std::u16string_view cacheFolder = UserCacheFolder()) noexcept;
#endif

}  // namespace sv
