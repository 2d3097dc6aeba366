// The service's store: songs, their translations and every version of their lines, and the
// community's users. One SQLite file, created and migrated to the current schema when opened;
// every call is serialised by one lock.
#pragma once
#include <functional>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "lyrics.h"

struct sqlite3;
struct sqlite3_stmt;

namespace standin {

struct StoredSong {
    long long id = 0;
    Song song;
    int number = 0;          // 1 for the first version of this song
    std::string version;     // the version text given out: number and a digest of the lines
    std::string lastUpdate;  // UTC, "YYYY-MM-DD hh:mm:ss"
    std::string songLock;    // "0": nothing here locks a song
};

struct SongSummary {
    std::string artist, title, album, version;
    int lineCount = 0;
    bool timed = false;
    long long lastTimeMs = 0;
    std::vector<std::string> translations;  // language codes
};

// The plug-in reads replies of at most 2 MiB; a stored song's reply stays well below that, its
// texts escaped and every line's timing at its longest.
inline constexpr size_t kMaxSongReplyBytes = 1536 * 1024;
size_t LargestReplyBytes(const Song& song);

struct SongTooLarge : std::invalid_argument {
    SongTooLarge() : std::invalid_argument("the lyrics are too large to be served (at most 1.5 MiB once escaped)") {}
};

class Store {
public:
    // Opens or creates the file. Throws std::runtime_error when it cannot.
    explicit Store(const std::string& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    enum class NewVersion { Always, OnlyWhenChanged };
    // Stores the song (matched on artist, title and language) as a new version and returns the
    // version that is current afterwards. An existing song keeps its names unless replaceNames.
    // Versions older than the latest maxVersions are removed. Throws SongTooLarge, or
    // std::invalid_argument without an artist or title.
    std::string Save(const Song& song, NewVersion when, const std::string& source, const std::string& author,
                     bool replaceNames = true);
    // Many saves in one transaction, so that an import commits (and waits for the disk) once per
    // batch instead of once per song. Each Save in it is undone alone when it fails; End (or the
    // destructor) commits every save that succeeded. For one thread that writes alone, as import.
    class Batch {
    public:
        explicit Batch(Store& store);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        void End();  // throws std::runtime_error when the commit fails

    private:
        Store& store_;
    };

    // The song in that language; an empty language or one it has no translation in gives the
    // original. Nothing when the song is unknown. Shared with the store's kept answers, so a
    // popular song is not copied for every lookup.
    std::shared_ptr<const StoredSong> Find(const std::string& artist, const std::string& title,
                                           const std::string& language);
    // Only exactly that language ("" is the original).
    std::optional<StoredSong> FindExact(const std::string& artist, const std::string& title,
                                        const std::string& language);
    // (code, display name) of every language that some translation is in, by code.
    std::vector<std::pair<std::string, std::string>> Languages();
    std::vector<SongSummary> Originals();
    // Every song and translation in its current version, by artist, title and language.
    void ForEachCurrent(const std::function<void(const StoredSong&)>& visit);

    // The schema version this program writes; a store is migrated to it when opened.
    static constexpr int kSchemaVersion = 2;
    void SetMaxVersions(int versions) { maxVersions_ = versions; }
    int SchemaVersion();

    // Community users: only a salted hash of each password is kept (password.h).
    void SetUser(const std::string& name, const std::string& password);
    bool RemoveUser(const std::string& name);  // false when there was no such user
    std::vector<std::string> UserNames();
    bool CheckUser(const std::string& name, const std::string& password);

private:
    void Migrate();
    std::optional<StoredSong> FindLocked(const std::string& artistKey, const std::string& titleKey,
                                         const std::string& language);
    void Execute(const char* sql);
    // The statement for sql, compiled once and kept: a lookup then costs no SQL compilation.
    sqlite3_stmt* Prepared(const char* sql);

    std::mutex lock_;
    sqlite3* db_ = nullptr;
    std::map<std::string, sqlite3_stmt*> prepared_;  // finalized before the database closes
    // Lookups answered since the store last changed (key: artist, title and language keys).
    static constexpr size_t kMaxFound = 4096;
    std::unordered_map<std::string, std::shared_ptr<const StoredSong>> found_;  // null: not found
    long long foundDataVersion_ = -1, foundChanges_ = -1;
    std::chrono::steady_clock::time_point dataVersionChecked_;
    int maxVersions_ = 20;
    bool batchOpen_ = false;
};

}  // namespace standin
