#include "store.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <tuple>

#include "password.h"
#include "text.h"

namespace standin {
namespace {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("store: ") + sqlite3_errmsg(db));
        }
    }
    // A kept statement (Store::Prepared), borrowed: reset for its next use instead of finalized.
    Statement(sqlite3* db, sqlite3_stmt* kept) : db_(db), stmt_(kept), kept_(true) {}
    ~Statement() {
        if (kept_)
            Reset();
        else
            sqlite3_finalize(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, long long value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& BindNull(int index) {
        sqlite3_bind_null(stmt_, index);
        return *this;
    }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    // True while there is a row.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw std::runtime_error(std::string("store: ") + sqlite3_errmsg(db_));
    }
    std::string Text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p ? std::string(p, sqlite3_column_bytes(stmt_, column)) : std::string();
    }
    long long Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    bool kept_ = false;
};

// A short digest of the lines, so that a version text names its content: a cache that holds a
// version from an earlier run of the service never matches different lines.
std::string Digest(const Song& song) {
    uint32_t hash = 2166136261u;
    const auto add = [&](const std::string& bytes) {
        for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
        hash = (hash ^ 0xFF) * 16777619u;
    };
    for (const Line& line : song.lines) {
        add(line.timed ? std::to_string(line.timeMs) : std::string("-"));
        add(line.text);
    }
    char text[16];
    snprintf(text, sizeof text, "%08x", hash);
    return text;
}

std::string NowUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

bool SameLines(const std::vector<Line>& a, const std::vector<Line>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].timed != b[i].timed || a[i].timeMs != b[i].timeMs || a[i].text != b[i].text) return false;
    }
    return true;
}

}  // namespace

size_t LargestReplyBytes(const Song& song) {
    // "<line timing=\"K...\">" with the longest key and time, and "</line>"
    constexpr size_t kLineOverhead = 64;
    size_t bytes = 1024 + XmlEscape(song.artist).size() + XmlEscape(song.title).size() + XmlEscape(song.album).size() +
                   XmlEscape(song.language).size() + XmlEscape(song.languageName).size();
    for (const Line& line : song.lines) bytes += kLineOverhead + XmlEscape(line.text).size();
    return bytes;
}

Store::Store(const std::string& path) {
    // No memory statistics: they put one process-wide lock around every allocation SQLite makes,
    // which lookups on many threads then queue at. (Only possible before SQLite's first use.)
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)configured;
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open the store " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    Execute("PRAGMA foreign_keys = ON");
    try {
        Migrate();
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

int Store::SchemaVersion() {
    std::lock_guard<std::mutex> hold(lock_);
    Statement query(db_, "PRAGMA user_version");
    return query.Step() ? static_cast<int>(query.Int(0)) : 0;
}

// The schema's version is SQLite's user_version. Each step runs in a transaction of its own and
// keeps what the store held; a store of a later version than this program knows is refused.
void Store::Migrate() {
    int version;
    {
        Statement query(db_, "PRAGMA user_version");
        version = query.Step() ? static_cast<int>(query.Int(0)) : 0;
    }
    if (version > kSchemaVersion) {
        throw std::runtime_error("the store has schema version " + std::to_string(version) +
                                 ", newer than this program's " + std::to_string(kSchemaVersion));
    }
    const auto step = [&](int to, const std::function<void()>& change) {
        if (version >= to) return;
        Execute("BEGIN IMMEDIATE");
        try {
            change();
            Execute(("PRAGMA user_version = " + std::to_string(to)).c_str());
            Execute("COMMIT");
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        version = to;
    };
    // 1: songs, their versions and lines, and users (stores written before versions were
    // counted have these tables already, at version 0).
    step(1, [&] {
        Execute(
            "CREATE TABLE IF NOT EXISTS songs ("
            "  id INTEGER PRIMARY KEY,"
            "  artist TEXT NOT NULL, title TEXT NOT NULL, album TEXT NOT NULL DEFAULT '',"
            "  language TEXT NOT NULL DEFAULT '', language_name TEXT NOT NULL DEFAULT '',"
            "  artist_key TEXT NOT NULL, title_key TEXT NOT NULL,"
            "  UNIQUE (artist_key, title_key, language));"
            "CREATE TABLE IF NOT EXISTS versions ("
            "  id INTEGER PRIMARY KEY,"
            "  song_id INTEGER NOT NULL REFERENCES songs(id),"
            "  number INTEGER NOT NULL, version TEXT NOT NULL, last_update TEXT NOT NULL,"
            "  song_lock TEXT NOT NULL DEFAULT '0', source TEXT NOT NULL, author TEXT NOT NULL DEFAULT '',"
            "  UNIQUE (song_id, number));"
            "CREATE TABLE IF NOT EXISTS lines ("
            "  version_id INTEGER NOT NULL REFERENCES versions(id),"
            "  position INTEGER NOT NULL, time_ms INTEGER, text TEXT NOT NULL,"
            "  PRIMARY KEY (version_id, position));"
            "CREATE TABLE IF NOT EXISTS users (name TEXT PRIMARY KEY, password TEXT NOT NULL);");
    });
    // 2: passwords kept as salted hashes only; passwords kept in plain text are hashed here.
    step(2, [&] {
        Execute("CREATE TABLE users_hashed (name TEXT PRIMARY KEY, password_hash TEXT NOT NULL)");
        Statement old(db_, "SELECT name, password FROM users");
        Statement add(db_, "INSERT INTO users_hashed (name, password_hash) VALUES (?1, ?2)");
        while (old.Step()) {
            const std::string password = old.Text(1);
            add.Reset();
            add.Bind(1, old.Text(0)).Bind(2, IsPasswordHash(password) ? password : HashPassword(password)).Step();
        }
        Execute("DROP TABLE users; ALTER TABLE users_hashed RENAME TO users");
    });
}

Store::~Store() {
    for (const auto& entry : prepared_) sqlite3_finalize(entry.second);
    sqlite3_close(db_);
}

sqlite3_stmt* Store::Prepared(const char* sql) {
    sqlite3_stmt*& kept = prepared_[sql];
    if (!kept && sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &kept, nullptr) != SQLITE_OK) {
        prepared_.erase(sql);
        throw std::runtime_error(std::string("store: ") + sqlite3_errmsg(db_));
    }
    return kept;
}

void Store::Execute(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("store: " + message);
    }
}

std::optional<StoredSong> Store::FindLocked(const std::string& artistKey, const std::string& titleKey,
                                            const std::string& language) {
    Statement song(db_, Prepared("SELECT s.id, s.artist, s.title, s.album, s.language, s.language_name,"
                                 "       v.id, v.number, v.version, v.last_update, v.song_lock"
                                 "  FROM songs s JOIN versions v ON v.song_id = s.id"
                                 " WHERE s.artist_key = ?1 AND s.title_key = ?2 AND s.language = ?3"
                                 " ORDER BY v.number DESC LIMIT 1"));
    song.Bind(1, artistKey).Bind(2, titleKey).Bind(3, language);
    if (!song.Step()) return std::nullopt;
    StoredSong found;
    found.id = song.Int(0);
    found.song.artist = song.Text(1);
    found.song.title = song.Text(2);
    found.song.album = song.Text(3);
    found.song.language = song.Text(4);
    found.song.languageName = song.Text(5);
    const long long versionId = song.Int(6);
    found.number = static_cast<int>(song.Int(7));
    found.version = song.Text(8);
    found.lastUpdate = song.Text(9);
    found.songLock = song.Text(10);
    Statement lines(db_, Prepared("SELECT time_ms, text FROM lines WHERE version_id = ?1 ORDER BY position"));
    lines.Bind(1, versionId);
    while (lines.Step()) {
        Line line;
        line.timed = !lines.IsNull(0);
        line.timeMs = line.timed ? lines.Int(0) : 0;
        line.text = lines.Text(1);
        found.song.lines.push_back(std::move(line));
    }
    return found;
}

std::shared_ptr<const StoredSong> Store::Find(const std::string& artist, const std::string& title,
                                              const std::string& language) {
    const std::string artistKey = FoldForMatch(artist), titleKey = FoldForMatch(title);
    std::string key = artistKey;
    key.append(1, '\0').append(titleKey).append(1, '\0').append(language);
    std::lock_guard<std::mutex> hold(lock_);
    // Answers found earlier hold while nothing has been written: not through this connection
    // (its change count, checked every time) and not by another process, such as an import (the
    // data version). Reading that costs a read transaction, file locks and a look for a journal,
    // so it is read at most once a millisecond: another process's change shows within that.
    const long long changes = sqlite3_total_changes64(db_);
    const auto now = std::chrono::steady_clock::now();
    if (changes != foundChanges_ || now - dataVersionChecked_ >= std::chrono::milliseconds(1)) {
        Statement version(db_, Prepared("PRAGMA data_version"));
        const long long dataVersion = version.Step() ? version.Int(0) : -1;
        dataVersionChecked_ = now;
        if (dataVersion != foundDataVersion_ || changes != foundChanges_) {
            found_.clear();
            foundDataVersion_ = dataVersion;
            foundChanges_ = changes;
        }
    }
    if (const auto cached = found_.find(key); cached != found_.end()) return cached->second;
    std::optional<StoredSong> song;
    if (!language.empty()) song = FindLocked(artistKey, titleKey, language);
    if (!song) song = FindLocked(artistKey, titleKey, "");
    std::shared_ptr<const StoredSong> shared = song ? std::make_shared<const StoredSong>(std::move(*song)) : nullptr;
    if (found_.size() >= kMaxFound) found_.clear();  // bounded; popular songs come back at once
    found_.emplace(std::move(key), shared);
    return shared;
}

std::optional<StoredSong> Store::FindExact(const std::string& artist, const std::string& title,
                                           const std::string& language) {
    std::lock_guard<std::mutex> hold(lock_);
    return FindLocked(FoldForMatch(artist), FoldForMatch(title), language);
}

std::string Store::Save(const Song& input, NewVersion when, const std::string& source, const std::string& author,
                        bool replaceNames) {
    std::lock_guard<std::mutex> hold(lock_);
    Song song = input;
    song.artist = Trim(SanitizeUtf8(song.artist));
    song.title = Trim(SanitizeUtf8(song.title));
    song.album = Trim(SanitizeUtf8(song.album));
    const std::string artistKey = FoldForMatch(song.artist), titleKey = FoldForMatch(song.title);
    if (artistKey.empty() || titleKey.empty()) throw std::invalid_argument("a song needs an artist and a title");
    if (LargestReplyBytes(song) > kMaxSongReplyBytes) throw SongTooLarge();

    // In a batch, a savepoint of its own: a save that fails is undone without the batch's others.
    const bool batched = batchOpen_;
    Execute(batched ? "SAVEPOINT save" : "BEGIN IMMEDIATE");
    try {
        const auto existing = FindLocked(artistKey, titleKey, song.language);
        if (existing && when == NewVersion::OnlyWhenChanged && SameLines(existing->song.lines, song.lines) &&
            existing->song.artist == song.artist && existing->song.title == song.title &&
            existing->song.album == song.album && existing->song.languageName == song.languageName) {
            Execute(batched ? "RELEASE save" : "COMMIT");
            return existing->version;
        }
        long long songId;
        int number = 1;
        if (existing) {
            songId = existing->id;
            number = existing->number + 1;
            if (replaceNames) {
                Statement update(db_,
                                 Prepared("UPDATE songs SET artist = ?1, title = ?2, album = ?3, language_name = ?4"
                                          " WHERE id = ?5"));
                update.Bind(1, song.artist).Bind(2, song.title).Bind(3, song.album).Bind(4, song.languageName);
                update.Bind(5, songId).Step();
            }
        } else {
            Statement insert(db_, Prepared("INSERT INTO songs (artist, title, album, language, language_name,"
                                           " artist_key, title_key) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)"));
            insert.Bind(1, song.artist).Bind(2, song.title).Bind(3, song.album).Bind(4, song.language);
            insert.Bind(5, song.languageName).Bind(6, artistKey).Bind(7, titleKey).Step();
            songId = sqlite3_last_insert_rowid(db_);
        }
        const std::string version = std::to_string(number) + "." + Digest(song);
        Statement addVersion(db_, Prepared("INSERT INTO versions (song_id, number, version, last_update, source,"
                                           " author) VALUES (?1, ?2, ?3, ?4, ?5, ?6)"));
        addVersion.Bind(1, songId).Bind(2, number).Bind(3, version).Bind(4, NowUtc()).Bind(5, source);
        addVersion.Bind(6, author).Step();
        const long long versionId = sqlite3_last_insert_rowid(db_);
        Statement addLine(db_, Prepared("INSERT INTO lines (version_id, position, time_ms, text)"
                                        " VALUES (?1, ?2, ?3, ?4)"));
        for (size_t i = 0; i < song.lines.size(); ++i) {
            addLine.Reset();
            addLine.Bind(1, versionId).Bind(2, static_cast<long long>(i));
            if (song.lines[i].timed)
                addLine.Bind(3, song.lines[i].timeMs);
            else
                addLine.BindNull(3);
            addLine.Bind(4, SanitizeUtf8(song.lines[i].text)).Step();
        }
        if (maxVersions_ > 0 && number > maxVersions_) {
            Statement dropLines(db_,
                                "DELETE FROM lines WHERE version_id IN"
                                " (SELECT id FROM versions WHERE song_id = ?1 AND number <= ?2)");
            dropLines.Bind(1, songId).Bind(2, static_cast<long long>(number - maxVersions_)).Step();
            Statement dropVersions(db_, "DELETE FROM versions WHERE song_id = ?1 AND number <= ?2");
            dropVersions.Bind(1, songId).Bind(2, static_cast<long long>(number - maxVersions_)).Step();
        }
        Execute(batched ? "RELEASE save" : "COMMIT");
        return version;
    } catch (...) {
        // An I/O or memory error can end the whole transaction; then there is nothing to roll back to.
        if (!batched)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        else if (!sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK TO save; RELEASE save", nullptr, nullptr, nullptr);
        throw;
    }
}

Store::Batch::Batch(Store& store) : store_(store) {
    std::lock_guard<std::mutex> hold(store_.lock_);
    store_.Execute("BEGIN IMMEDIATE");
    store_.batchOpen_ = true;
}

Store::Batch::~Batch() {
    try {
        End();
    } catch (const std::exception& e) {
        fprintf(stderr, "store: %s\n", e.what());
    }
}

void Store::Batch::End() {
    std::lock_guard<std::mutex> hold(store_.lock_);
    if (!store_.batchOpen_) return;
    store_.batchOpen_ = false;
    if (sqlite3_get_autocommit(store_.db_)) throw std::runtime_error("store: the batch was rolled back by an error");
    try {
        store_.Execute("COMMIT");
    } catch (...) {
        sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<std::pair<std::string, std::string>> Store::Languages() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::pair<std::string, std::string>> languages;
    Statement query(db_,
                    "SELECT language, MAX(language_name) FROM songs WHERE language <> ''"
                    " GROUP BY language ORDER BY language");
    while (query.Step()) languages.emplace_back(query.Text(0), query.Text(1));
    return languages;
}

std::vector<SongSummary> Store::Originals() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<SongSummary> songs;
    Statement query(db_,
                    "SELECT s.artist, s.title, s.album, v.version,"
                    "       (SELECT COUNT(*) FROM lines l WHERE l.version_id = v.id),"
                    "       (SELECT COUNT(*) FROM lines l WHERE l.version_id = v.id AND l.time_ms IS NOT NULL),"
                    "       (SELECT group_concat(t.language, ' ') FROM songs t WHERE t.artist_key = s.artist_key"
                    "          AND t.title_key = s.title_key AND t.language <> ''),"
                    "       (SELECT IFNULL(MAX(time_ms), 0) FROM lines l WHERE l.version_id = v.id)"
                    "  FROM songs s JOIN versions v ON v.song_id = s.id"
                    " WHERE s.language = '' AND v.number = (SELECT MAX(number) FROM versions WHERE song_id = s.id)"
                    " ORDER BY s.artist_key, s.title_key");
    while (query.Step()) {
        SongSummary summary;
        summary.artist = query.Text(0);
        summary.title = query.Text(1);
        summary.album = query.Text(2);
        summary.version = query.Text(3);
        summary.lineCount = static_cast<int>(query.Int(4));
        summary.timed = query.Int(5) > 0;
        summary.lastTimeMs = query.Int(7);
        const std::string codes = query.Text(6);
        size_t start = 0;
        while (start < codes.size()) {
            size_t end = codes.find(' ', start);
            if (end == std::string::npos) end = codes.size();
            if (end > start) summary.translations.push_back(codes.substr(start, end - start));
            start = end + 1;
        }
        songs.push_back(std::move(summary));
    }
    return songs;
}

void Store::ForEachCurrent(const std::function<void(const StoredSong&)>& visit) {
    std::vector<std::tuple<std::string, std::string, std::string>> keys;
    {
        std::lock_guard<std::mutex> hold(lock_);
        Statement query(db_,
                        "SELECT artist_key, title_key, language FROM songs ORDER BY artist_key, title_key, language");
        while (query.Step()) keys.emplace_back(query.Text(0), query.Text(1), query.Text(2));
    }
    for (const auto& [artist, title, language] : keys) {
        std::optional<StoredSong> song;
        {
            std::lock_guard<std::mutex> hold(lock_);
            song = FindLocked(artist, title, language);
        }
        if (song) visit(*song);
    }
}

void Store::SetUser(const std::string& name, const std::string& password) {
    const std::string hash = HashPassword(password);  // slow: outside the store's lock
    std::lock_guard<std::mutex> hold(lock_);
    Statement upsert(db_,
                     "INSERT INTO users (name, password_hash) VALUES (?1, ?2)"
                     " ON CONFLICT (name) DO UPDATE SET password_hash = excluded.password_hash");
    upsert.Bind(1, name).Bind(2, hash).Step();
}

bool Store::RemoveUser(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock_);
    Statement remove(db_, "DELETE FROM users WHERE name = ?1");
    remove.Bind(1, name).Step();
    return sqlite3_changes(db_) > 0;
}

std::vector<std::string> Store::UserNames() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> names;
    Statement query(db_, "SELECT name FROM users ORDER BY name");
    while (query.Step()) names.push_back(query.Text(0));
    return names;
}

bool Store::CheckUser(const std::string& name, const std::string& password) {
    std::string hash;
    bool known;
    {
        std::lock_guard<std::mutex> hold(lock_);
        Statement query(db_, "SELECT password_hash FROM users WHERE name = ?1");
        query.Bind(1, name);
        known = query.Step();
        if (known) hash = query.Text(0);
    }
    return known ? VerifyPassword(hash, password) : VerifyAgainstNobody(password);
}

}  // namespace standin
