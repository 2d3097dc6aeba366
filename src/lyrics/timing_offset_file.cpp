// The user's timing offset of a song, kept in a small file beside its cache file. Read by the fetch
// worker with the cache; written by pool jobs, so the user-interface thread never waits on the disk.
#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "base/hresult.h"
#include "base/win_handles.h"
#include "base/worker_pool.h"
#include "lyrics/lyrics_document.h"

namespace sv {
namespace {

std::optional<std::u16string> OffsetPathOf(const LyricsDocument& document, std::u16string_view cacheFolder) {
    const std::optional<std::u16string> cachePath = document.CachePathIn(cacheFolder);
    if (!cachePath) return std::nullopt;
    return TimingOffsetPathFor(*cachePath);
}

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

void WriteOffsetFile(const std::u16string& path, int32_t offsetMs) {
    if (offsetMs == 0) {
        DeleteFileW(Wide(path));  // none left means no offset; a missing file is fine
        return;
    }
    const std::string text = std::to_string(offsetMs);
    const UniqueFileHandle file(
        CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        ReportFailure("timing offset write", HRESULT_FROM_WIN32(GetLastError()));
    }
}

// Offsets waiting to be written, the newest per file. One job at a time writes them, so two quick
// nudges of one song never land on the disk in the wrong order.
struct PendingOffsets {
    SRWLOCK lock = SRWLOCK_INIT;
    struct Entry {
        std::unique_ptr<LyricsDocument> keys;  // to make the cache folder
        std::u16string folder;
        int32_t offset = 0;
    };
    std::map<std::u16string, Entry> byPath;
    bool writing = false;
};
PendingOffsets g_pending;

class OffsetWriteJob final : public PoolJob {
public:
    void Run() override {
        for (;;) {
            std::u16string path;
            PendingOffsets::Entry entry;
            {
                ScopedSrwLock hold(g_pending.lock);
                if (g_pending.byPath.empty()) {
                    g_pending.writing = false;
                    return;
                }
                auto first = g_pending.byPath.begin();
                path = first->first;
                entry = std::move(first->second);
                g_pending.byPath.erase(first);
            }
            // The cache folder may not exist yet (lyrics shown from a reply that was not cached).
            wchar_t cachePath[kCachePathCapacity];
            if (entry.offset != 0) entry.keys->CachePath(cachePath, true, entry.folder);
            WriteOffsetFile(path, entry.offset);
        }
    }
};

}  // namespace

int32_t ReadTimingOffset(const LyricsDocument& document, std::u16string_view cacheFolder) {
    const std::optional<std::u16string> path = OffsetPathOf(document, cacheFolder);
    if (!path) return 0;
    const UniqueFileHandle file(CreateFileW(Wide(*path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    char text[32];
    DWORD read = 0;
    if (!ReadFile(file.get(), text, sizeof(text), &read, nullptr)) return 0;
    return ParseTimingOffset(std::string_view(text, read));
}

void StoreTimingOffsetLater(const LyricsDocument& document, int32_t offsetMs,
                            std::u16string_view cacheFolder) noexcept {
    try {
        std::optional<std::u16string> path = OffsetPathOf(document, cacheFolder);
        if (!path) return;
        auto keys = std::make_unique<LyricsDocument>(document);
        bool start = false;
        {
            ScopedSrwLock hold(g_pending.lock);
            g_pending.byPath[*path] = {std::move(keys), std::u16string(cacheFolder), ClampTimingOffset(offsetMs)};
            start = !g_pending.writing;
            g_pending.writing = true;
        }
        if (!start) return;
        std::unique_ptr<PoolJob> job = std::make_unique<OffsetWriteJob>();
        if (!SubmitToPool(job)) {
            ScopedSrwLock hold(g_pending.lock);
            g_pending.writing = false;  // the next nudge tries again
        }
    } catch (const std::bad_alloc&) {
        ReportFailure("timing offset write", E_OUTOFMEMORY);  // the offset stays for this session only
    }
}

}  // namespace sv
