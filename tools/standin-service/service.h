// The lyrics service and community site: answers the plug-in's requests. Started for tests, it
// also records every request (passwords only as a keyed mark) and lets the tests change how each
// path answers through the control API under /_control/, to requests that carry the control
// token; otherwise that API does not exist (404) and nothing is recorded.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "http_server.h"
#include "store.h"
#include "text.h"

namespace standin {

struct RecordedRequest {
    long long seq = 0;
    std::string method, path, target, body;
    QueryPairs query;
};

struct Behaviour {
    enum class Mode {
        None,
        Delay,
        Slow,
        Close,
        Status,
        Malformed,
        Large,
        Truncate,
        Bomb,
        Nul,
        BadUtf8
    } mode = Mode::None;
    int ms = 0;
    int code = 0;
    long long bytes = 0;
};

// The header that carries the control token.
inline constexpr char kControlTokenHeader[] = "X-Sonavire-Control-Token";

// What the record keeps of a password: "" for an empty one, else a mark made with the control
// token, so that tests can tell which password was sent without the record holding it.
std::string PasswordMark(const std::string& token, const std::string& password);

struct ServiceOptions {
    std::string controlToken;    // not empty: the request record and the control API, for tests
    bool requireSignIn = false;  // uploads and edits need a member's name and password
    int writesPerMinute = 20;    // uploads and edits per client; 0: no limit
    int signInsPerMinute = 10;   // password checks per client; 0: no limit
};

// How often each client may do something: a bucket of perMinute turns per client, refilled
// evenly over a minute. IPv6 clients count by their /64, which one household holds whole.
class RateLimit {
public:
    explicit RateLimit(int perMinute) : perMinute_(perMinute) {}
    // 0 when the client may go on now (the turn is taken), else the seconds until it may.
    int Take(const std::string& client);

private:
    struct Bucket {
        double turns = 0;
        std::chrono::steady_clock::time_point at;
    };
    const int perMinute_;
    std::mutex lock_;
    std::map<std::string, Bucket> buckets_;
};

class Service {
public:
    Service(Store& store, ServiceOptions options);
    Answer Handle(const HttpRequest& request);
    // Wakes requests that wait for the record, so that the server can stop.
    void Shutdown();

    // Imports every *.lrc file of a folder, in name order; a song whose lines are unchanged keeps
    // its version. A file without a [la:] tag named NAME.CODE.lrc is a translation into CODE.
    // Only regular files of at most 4 MiB are read. Commits a thousand files at a time; a file
    // that fails is skipped alone. Returns the number of files imported;
    // problems, and the lines of each file that were left out, go to stderr.
    int ImportLibrary(const std::string& folder);

private:
    Answer Control(const HttpRequest& request);
    Answer Record(const HttpRequest& request, const QueryPairs& query);
    void Remember(const HttpRequest& request, const QueryPairs& query);  // with lock_ held
    Answer Serve(const HttpRequest& request, const QueryPairs& query);
    HttpResponse FetchLyrics(const QueryPairs& query);
    HttpResponse LyricsVersion(const QueryPairs& query);
    HttpResponse StoreLyrics(const HttpRequest& request, const QueryPairs& query, const std::string& author);
    // Whether the client may check a password now: nothing, or the answer that says why not.
    std::optional<HttpResponse> RefuseSignIn(const std::string& peer);
    // With --require-sign-in: the member the request signs in as (Basic authorization, or the
    // editor form's user and password), or the answer that refuses it.
    std::optional<HttpResponse> SignedIn(const HttpRequest& request, std::string& member);
    HttpResponse VerifyUser(const QueryPairs& query);
    HttpResponse SupportedLanguages();
    HttpResponse LargeReply(const std::string& path, long long bytes);
    std::string RecordText(const std::string& path);

    Store& store_;
    std::mutex lock_;
    std::condition_variable recorded_;
    const ServiceOptions options_;
    RateLimit writes_, signIns_;
    bool shuttingDown_ = false;
    long long nextSeq_ = 1;
    std::deque<RecordedRequest> record_;  // the latest requests, bounded in number and bytes
    size_t recordBytes_ = 0;
    std::map<std::string, Behaviour> behaviours_;
    std::mt19937 random_;
    // The last large reply made, by path and size: making 50 MB takes the server seconds, which
    // would count as the client's time.
    std::mutex largeLock_;
    std::string largePath_;
    long long largeBytes_ = -1;
    std::string largeBody_;
};

// Writes the current version of every song and translation into the folder (which must exist) as
// LRC files that import reads back to the same song; files already there are left alone. The
// number of files written, or -1 when some could not be.
int ExportLibrary(Store& store, const std::string& folder);

// "de" for "song.de.lrc", "pt-BR" for "song.pt-BR.lrc", "" when the name carries no language.
std::string LanguageFromFileName(const std::string& name);

// Reply builders, also used by the tests of the service.
std::string LyricsXml(const StoredSong& song, std::mt19937& random);
std::string UnknownSongXml();
std::string MalformedXml();
// A reply whose document type defines entities of entities: read with the definitions expanded it
// would be gigabytes.
std::string DocumentTypeBombXml();
// The reply with NUL bytes inside every line's text.
std::string WithNulBytes(const std::string& xml);
// The reply with byte sequences that are no UTF-8 (a stray continuation byte, an overlong form, an
// encoded surrogate, 0xFF, a lead byte cut short) inside every line's text.
std::string WithInvalidUtf8(const std::string& xml);

}  // namespace standin
