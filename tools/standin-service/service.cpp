#include "service.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <set>
#include <stdexcept>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "pages.h"
#include "password.h"

namespace standin {
namespace {

constexpr char kServices[] = "/sonavire/services/";
constexpr char kXmlType[] = "text/xml; charset=utf-8";
constexpr char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// Enough to go past the plug-in's 2 MiB reply limit, small enough that no request can make the
// server hold much memory.
constexpr long long kMaxLargeBytes = 8LL * 1024 * 1024;
constexpr size_t kMaxRecorded = 10000;
constexpr size_t kMaxRecordedBytes = 64u * 1024 * 1024;

HttpResponse Xml(std::string body, int status = 200) {
    HttpResponse response;
    response.status = status;
    response.contentType = kXmlType;
    response.body = kXmlDeclaration + body;
    return response;
}

HttpResponse Text(std::string body, int status = 200) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

std::string Element(const char* name, const std::string& value) {
    return std::string("<") + name + ">" + XmlEscape(value) + "</" + name + ">";
}

void AppendElement(std::string& xml, std::string_view name, const std::string& value) {
    xml.append("<").append(name).append(">");
    AppendXmlEscaped(xml, value);
    xml.append("</").append(name).append(">\n");
}

// Lines follow each other with no white space between them: each child node of "lyric" is a line.
void AppendLines(std::string& xml, const std::vector<Line>& lines, std::mt19937& random) {
    xml += "<lyric>";
    for (const Line& line : lines) {
        if (line.timed) {
            xml += "<line timing=\"";
            AppendTiming(xml, line.timeMs, random);
            xml += "\">";
        } else {
            xml += "<line>";
        }
        AppendXmlEscaped(xml, line.text);
        xml += "</line>";
    }
    xml += "</lyric>";
}

// The lyrics reply, appended to what xml holds already (the declaration, for a whole reply).
void AppendLyricsXml(std::string& xml, const StoredSong& stored, std::mt19937& random) {
    const Song& song = stored.song;
    size_t size = 256 + song.title.size() + song.artist.size() + song.album.size() + stored.version.size();
    for (const Line& line : song.lines) size += 48 + line.text.size();
    xml.reserve(xml.size() + size + size / 8);
    xml += "<lyrics>\n";
    AppendElement(xml, "title", song.title);
    AppendElement(xml, "artist", song.artist);
    AppendElement(xml, "album", song.album);
    if (!song.language.empty()) {
        xml += "<language code=\"";
        AppendXmlEscaped(xml, song.language);
        xml += "\">";
        AppendXmlEscaped(xml, song.languageName);
        xml += "</language>\n";
    }
    AppendElement(xml, "version", stored.version);
    AppendElement(xml, "songLock", stored.songLock);
    AppendElement(xml, "lastUpdate", stored.lastUpdate);
    AppendLines(xml, song.lines, random);
    xml += "\n</lyrics>\n";
}

// Constant time, so that the time of a refusal does not tell how much of a token was right.
bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size() || a.empty()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool IsPasswordName(const std::string& name) { return name == "password"; }

// A query or form text with every password value replaced by its mark; the rest stays as sent.
std::string WithPasswordsMarked(const std::string& text, const std::string& token) {
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string pair = text.substr(start, end - start);
        const size_t eq = pair.find('=');
        if (eq != std::string::npos && IsPasswordName(PercentDecode(pair.substr(0, eq), true))) {
            out += pair.substr(0, eq + 1) + PasswordMark(token, pair.substr(eq + 1));
        } else {
            out += pair;
        }
        if (end == text.size()) break;
        out += '&';
        start = end + 1;
    }
    return out;
}

// 429 or 503 with the seconds after which to try again.
HttpResponse Busy(int status, int retryAfterSeconds, const std::string& why) {
    HttpResponse response = Text(why + "\n", status);
    response.headers.emplace_back("Retry-After", std::to_string(retryAfterSeconds));
    return response;
}

bool ParseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long parsed = strtoll(text.c_str(), &end, 10);
    if (*end != '\0') return false;
    value = parsed;
    return true;
}

}  // namespace

std::string LanguageFromFileName(const std::string& name) {
    // NAME.CODE.lrc, CODE being two or three letters with an optional region: "de", "pt-BR".
    const size_t end = name.size() >= 4 ? name.size() - 4 : 0;
    const size_t dot = name.rfind('.', end ? end - 1 : 0);
    if (end == 0 || dot == std::string::npos || dot == 0) return std::string();
    const std::string code = name.substr(dot + 1, end - dot - 1);
    const size_t dash = code.find('-');
    const std::string letters = code.substr(0, dash);
    const std::string region = dash == std::string::npos ? "" : code.substr(dash + 1);
    const auto all = [](const std::string& text, int (*test)(int)) {
        return std::all_of(text.begin(), text.end(), [test](unsigned char c) { return test(c) != 0; });
    };
    if (letters.size() < 2 || letters.size() > 3 || !all(letters, ::isalpha)) return std::string();
    if (dash != std::string::npos && (region.size() < 2 || region.size() > 3 || !all(region, ::isalnum))) {
        return std::string();
    }
    return code;
}

std::string LyricsXml(const StoredSong& stored, std::mt19937& random) {
    std::string xml;
    AppendLyricsXml(xml, stored, random);
    return xml;
}

// An unknown song: a well-formed answer with an empty version and an empty "lyric" element, as
// a service answers a search that found nothing.
std::string UnknownSongXml() {
    return "<lyrics>\n<version></version>\n<songLock>0</songLock>\n<lastUpdate></lastUpdate>\n<lyric></lyric>\n"
           "</lyrics>\n";
}

std::string MalformedXml() {
    return std::string(kXmlDeclaration) +
           "<lyrics><title>Broken reply</title><version>broken</version>"
           "<lyric><line timing=\"1\">first line</line><line>second line & more</lyric>\n";
}

std::string DocumentTypeBombXml() {
    std::string xml = std::string(kXmlDeclaration) + "<!DOCTYPE lyrics [\n<!ENTITY e0 \"lalalalalalalalalala\">\n";
    for (int i = 1; i <= 12; ++i) {
        const std::string previous = "&e" + std::to_string(i - 1) + ";";
        std::string value;
        for (int k = 0; k < 10; ++k) value += previous;
        xml += "<!ENTITY e" + std::to_string(i) + " \"" + value + "\">\n";
    }
    xml += "]>\n<lyrics><title>&e12;</title><version>1</version><lyric><line>&e12;</line></lyric></lyrics>\n";
    return xml;
}

namespace {

// Puts insert after the opening tag of every "line" element.
std::string InsertIntoLines(const std::string& xml, const std::string& insert) {
    std::string out;
    size_t from = 0;
    for (size_t at = xml.find("<line", from); at != std::string::npos; at = xml.find("<line", from)) {
        const size_t close = xml.find('>', at);
        if (close == std::string::npos) break;
        out.append(xml, from, close + 1 - from);
        out += insert;
        from = close + 1;
    }
    out.append(xml, from, std::string::npos);
    return out;
}

}  // namespace

std::string WithNulBytes(const std::string& xml) { return InsertIntoLines(xml, std::string("a\0b\0", 4)); }

std::string WithInvalidUtf8(const std::string& xml) {
    return InsertIntoLines(xml, "\x80x\xC0\xAFx\xED\xA0\x80x\xFFx\xE2\x82");
}

std::string PasswordMark(const std::string& token, const std::string& password) {
    if (password.empty()) return std::string();
    uint64_t hash = 14695981039346656037ull;  // FNV-1a over the token, a separator and the password
    const auto add = [&](const std::string& bytes) {
        for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    };
    add(token);
    add(std::string(1, '\0'));
    add(password);
    char text[32];
    snprintf(text, sizeof text, "hidden-%016llx", static_cast<unsigned long long>(hash));
    return text;
}

int RateLimit::Take(const std::string& client) {
    if (perMinute_ <= 0) return 0;
    std::string key = client;
    unsigned char address[16];
    if (client.find(':') != std::string::npos && inet_pton(AF_INET6, client.c_str(), address) == 1) {
        key.clear();
        for (int i = 0; i < 8; ++i) key += static_cast<char>(address[i]);
    }
    const auto now = std::chrono::steady_clock::now();
    const double perSecond = perMinute_ / 60.0;
    std::lock_guard<std::mutex> hold(lock_);
    if (buckets_.size() > 100000) {
        // Forget clients whose bucket has filled up again: they lose nothing.
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            const double seconds = std::chrono::duration<double>(now - it->second.at).count();
            it = it->second.turns + seconds * perSecond >= perMinute_ ? buckets_.erase(it) : std::next(it);
        }
        // Still that many busy clients (addresses made up by the thousand): start afresh rather than
        // scan them on every request.
        if (buckets_.size() > 100000) buckets_.clear();
    }
    auto [found, fresh] = buckets_.try_emplace(key);
    Bucket& bucket = found->second;
    if (fresh)
        bucket.turns = perMinute_;
    else
        bucket.turns = std::min<double>(
            perMinute_, bucket.turns + std::chrono::duration<double>(now - bucket.at).count() * perSecond);
    bucket.at = now;
    if (bucket.turns >= 1) {
        bucket.turns -= 1;
        return 0;
    }
    return std::max(1, static_cast<int>(std::ceil((1 - bucket.turns) / perSecond)));
}

Service::Service(Store& store, ServiceOptions options)
    : store_(store),
      options_(std::move(options)),
      writes_(options_.writesPerMinute),
      signIns_(options_.signInsPerMinute),
      random_(std::random_device{}()) {}

void Service::Shutdown() {
    std::lock_guard<std::mutex> hold(lock_);
    shuttingDown_ = true;
    recorded_.notify_all();
}

namespace {

constexpr off_t kMaxImportBytes = 4 * 1024 * 1024;

// The whole of a regular file of at most kMaxImportBytes: a symbolic link, a FIFO or a device
// is refused without being opened for reading (a FIFO would block, /dev/zero never ends).
bool ReadLibraryFile(const std::string& path, std::string& content, std::string& why) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        why = errno == ELOOP ? "a symbolic link, not a regular file" : std::string("cannot open: ") + strerror(errno);
        return false;
    }
    struct stat facts {};
    bool ok = fstat(fd, &facts) == 0;
    if (!ok)
        why = "cannot read its facts";
    else if (!S_ISREG(facts.st_mode))
        why = "not a regular file", ok = false;
    else if (facts.st_size > kMaxImportBytes)
        why = "larger than 4 MiB", ok = false;
    content.clear();
    char buffer[65536];
    ssize_t got = 0;
    while (ok && (got = read(fd, buffer, sizeof buffer)) > 0) {
        content.append(buffer, static_cast<size_t>(got));
        if (content.size() > static_cast<size_t>(kMaxImportBytes)) why = "larger than 4 MiB", ok = false;
    }
    if (ok && got < 0) why = std::string("cannot read: ") + strerror(errno), ok = false;
    close(fd);
    return ok;
}

// A file name for a song: its artist and title, with what a file name cannot hold replaced, and
// the language code before ".lrc" for a translation.
std::string ExportName(const Song& song) {
    std::string base = song.artist + " - " + song.title;
    for (char& c : base) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    if (base[0] == '.') base[0] = '_';
    if (base.size() > 180) base.resize(180);  // whole UTF-8 sequences need not survive: names only
    if (!song.language.empty()) return base + "." + song.language;
    // An original whose name would read as a translation's ("Song.de") gets a tail that does not.
    return LanguageFromFileName(base + ".lrc").empty() ? base : base + " (original)";
}

}  // namespace

int Service::ImportLibrary(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        fprintf(stderr, "cannot read the library folder %s\n", folder.c_str());
        return 0;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".lrc") == 0) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    int imported = 0;
    // One transaction per thousand files, not per song: each commit waits for the disk.
    constexpr size_t kFilesPerBatch = 1000;
    std::optional<Store::Batch> batch;
    for (size_t index = 0; index < names.size(); ++index) {
        const std::string& name = names[index];
        if (index % kFilesPerBatch == 0) {
            if (batch) batch->End();
            batch.emplace(store_);
        }
        std::string content, why;
        if (!ReadLibraryFile(folder + "/" + name, content, why)) {
            fprintf(stderr, "%s skipped: %s\n", name.c_str(), why.c_str());
            continue;
        }
        LrcParse parsed = ParseLrc(content);
        if (!parsed.ok) {
            fprintf(stderr, "%s skipped: %s\n", name.c_str(), parsed.error.c_str());
            continue;
        }
        for (const std::string& line : parsed.skipped) fprintf(stderr, "%s: %s\n", name.c_str(), line.c_str());
        if (parsed.song.language.empty()) {
            parsed.song.language = LanguageFromFileName(name);
            parsed.song.languageName = parsed.song.language;
        }
        try {
            store_.Save(parsed.song, Store::NewVersion::OnlyWhenChanged, "library", "");
            ++imported;
        } catch (const std::invalid_argument& e) {
            fprintf(stderr, "%s skipped: %s\n", name.c_str(), e.what());
        }
    }
    if (batch) batch->End();
    return imported;
}

int ExportLibrary(Store& store, const std::string& folder) {
    std::set<std::string> used;
    int written = 0;
    bool failed = false;
    store.ForEachCurrent([&](const StoredSong& stored) {
        std::string name = ExportName(stored.song);
        for (int n = 2; !used.insert(name).second; ++n) name = ExportName(stored.song) + " (" + std::to_string(n) + ")";
        const std::string path = folder + "/" + name + ".lrc";
        // A new file only: an export never writes through a link or over a file already there.
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        const std::string text = FormatLrc(stored.song);
        if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            fprintf(stderr, "cannot write %s: %s\n", path.c_str(), strerror(errno));
            failed = true;
        } else {
            ++written;
        }
        if (fd >= 0) close(fd);
    });
    return failed ? -1 : written;
}

Answer Service::Handle(const HttpRequest& request) {
    const QueryPairs query = ParseQuery(request.rawQuery);
    if (options_.controlToken.empty()) return Serve(request, query);
    if (request.path.compare(0, 10, "/_control/") == 0) {
        if (!SameSecret(request.Header(kControlTokenHeader), options_.controlToken)) {
            Answer refused;
            refused.response = Text("the control API wants its token\n", 403);
            return refused;
        }
        return Control(request);
    }
    return Record(request, query);
}

void Service::Remember(const HttpRequest& request, const QueryPairs& query) {
    const std::string& token = options_.controlToken;
    RecordedRequest entry{nextSeq_++, request.method, request.path, request.target, request.body, query};
    const size_t mark = entry.target.find('?');
    if (mark != std::string::npos) {
        entry.target = entry.target.substr(0, mark + 1) + WithPasswordsMarked(entry.target.substr(mark + 1), token);
    }
    for (auto& [name, value] : entry.query) {
        if (IsPasswordName(name)) value = PasswordMark(token, value);
    }
    entry.body = WithPasswordsMarked(entry.body, token);  // a form, whatever type it claims
    const auto size = [](const RecordedRequest& r) { return r.target.size() + r.body.size() + 64; };
    recordBytes_ += size(entry);
    record_.push_back(std::move(entry));
    while (record_.size() > kMaxRecorded || (recordBytes_ > kMaxRecordedBytes && record_.size() > 1)) {
        recordBytes_ -= size(record_.front());
        record_.pop_front();
    }
    recorded_.notify_all();
}

Answer Service::Record(const HttpRequest& request, const QueryPairs& query) {
    Behaviour behaviour;
    {
        std::lock_guard<std::mutex> hold(lock_);
        Remember(request, query);
        const auto found = behaviours_.find(request.path);
        if (found != behaviours_.end()) behaviour = found->second;
    }
    Answer answer;
    using Mode = Behaviour::Mode;
    switch (behaviour.mode) {
        case Mode::Close:
            answer.delivery.kind = Delivery::Kind::CloseWithoutAnswer;
            return answer;
        case Mode::Status: {
            const int code = behaviour.code >= 200 && behaviour.code <= 599 ? behaviour.code : 500;
            answer.response = ErrorPage(code);
            return answer;
        }
        case Mode::Malformed:
            answer.response.contentType = kXmlType;
            answer.response.body = MalformedXml();
            return answer;
        case Mode::Truncate: {
            answer = Serve(request, query);
            const size_t size = answer.response.body.size();
            answer.delivery.cutAfterBytes =
                behaviour.bytes > 0 ? static_cast<size_t>(behaviour.bytes) : std::max<size_t>(1, size / 2);
            return answer;
        }
        case Mode::Bomb:
            answer.response.contentType = kXmlType;
            answer.response.body = DocumentTypeBombXml();
            return answer;
        case Mode::Nul:
            answer = Serve(request, query);
            answer.response.body = WithNulBytes(answer.response.body);
            return answer;
        case Mode::BadUtf8:
            answer = Serve(request, query);
            answer.response.body = WithInvalidUtf8(answer.response.body);
            return answer;
        case Mode::Large:
            answer.response = LargeReply(request.path, behaviour.bytes > 0 ? behaviour.bytes : 1024 * 1024);
            return answer;
        case Mode::Delay:
            answer = Serve(request, query);
            answer.delivery.delayMs = behaviour.ms;
            return answer;
        case Mode::Slow:
            answer = Serve(request, query);
            answer.delivery.kind = Delivery::Kind::Slow;
            answer.delivery.pieceIntervalMs = behaviour.ms;
            if (behaviour.bytes > 0) answer.delivery.pieceBytes = static_cast<size_t>(behaviour.bytes);
            return answer;
        case Mode::None:
            break;
    }
    return Serve(request, query);
}

Answer Service::Serve(const HttpRequest& request, const QueryPairs& query) {
    Answer answer;
    const std::string& path = request.path;
    const bool service = path.compare(0, sizeof kServices - 1, kServices) == 0;
    const std::string name = service ? path.substr(sizeof kServices - 1) : std::string();
    const bool write = name == "setLyrics.php" || (path == "/wiki/wmp/editLyrics.php" && request.method == "POST");
    std::string member;
    if (write) {
        if (const int wait = writes_.Take(request.peer)) {
            answer.response = Busy(429, wait, "too many changes from your address; try again later");
            return answer;
        }
        if (options_.requireSignIn) {
            if (auto refused = SignedIn(request, member)) {
                answer.response = std::move(*refused);
                return answer;
            }
        }
    }
    if (service) {
        if (name == "getLyricXML_2")
            answer.response = FetchLyrics(query);
        else if (name == "getLyricVerXML.php")
            answer.response = LyricsVersion(query);
        else if (name == "setLyrics.php")
            answer.response = StoreLyrics(request, query, member);
        else if (name == "appVerifyUser.php") {
            auto refused = RefuseSignIn(request.peer);
            answer.response = refused ? std::move(*refused) : VerifyUser(query);
        } else if (name == "getSupportedLanguages.php")
            answer.response = SupportedLanguages();
        else
            answer.response = ErrorPage(404);
        return answer;
    }
    answer.response = CommunityPage(store_, request, query, member, options_.requireSignIn);
    return answer;
}

std::optional<HttpResponse> Service::RefuseSignIn(const std::string& peer) {
    if (const int wait = signIns_.Take(peer)) return Busy(429, wait, "too many sign-in attempts; try again later");
    if (PasswordQueueFull()) return Busy(503, 1, "too many sign-ins at once; try again in a moment");
    return std::nullopt;
}

std::optional<HttpResponse> Service::SignedIn(const HttpRequest& request, std::string& member) {
    std::string name, password;
    const std::string authorization = request.Header("Authorization");
    if (authorization.compare(0, 6, "Basic ") == 0) {
        const std::string encoded = Trim(std::string_view(authorization).substr(6));
        std::string decoded(encoded.size(), '\0');
        size_t length = 0;
        if (sodium_base642bin(reinterpret_cast<unsigned char*>(decoded.data()), decoded.size(), encoded.c_str(),
                              encoded.size(), nullptr, &length, nullptr, sodium_base64_VARIANT_ORIGINAL) == 0) {
            decoded.resize(length);
            const size_t colon = decoded.find(':');
            if (colon != std::string::npos) {
                name = decoded.substr(0, colon);
                password = decoded.substr(colon + 1);
            }
        }
    } else if (request.method == "POST") {
        const QueryPairs form = ParseQuery(request.body);
        name = QueryValue(form, "user");
        password = QueryValue(form, "password");
    }
    HttpResponse refused = Text("changes need a community member's name and password\n", 401);
    refused.headers.emplace_back("WWW-Authenticate", "Basic realm=\"Sonavire\", charset=\"UTF-8\"");
    if (name.empty()) return refused;
    if (auto busy = RefuseSignIn(request.peer)) return busy;
    if (!store_.CheckUser(name, password)) return refused;
    member = name;
    return std::nullopt;
}

HttpResponse Service::FetchLyrics(const QueryPairs& query) {
    const auto song = store_.Find(QueryValue(query, "artist"), QueryValue(query, "title"), QueryValue(query, "lang"));
    if (!song) return Xml(UnknownSongXml());
    // A generator per thread: lookups build their replies side by side, not one at a time.
    thread_local std::mt19937 random(std::random_device{}());
    HttpResponse response;
    response.contentType = kXmlType;
    response.body = kXmlDeclaration;
    AppendLyricsXml(response.body, *song, random);
    return response;
}

HttpResponse Service::LyricsVersion(const QueryPairs& query) {
    const auto song = store_.Find(QueryValue(query, "artist"), QueryValue(query, "title"), QueryValue(query, "lang"));
    return Xml("<lyrics>" + Element("version", song ? song->version : std::string()) + "</lyrics>\n");
}

HttpResponse Service::StoreLyrics(const HttpRequest& request, const QueryPairs& query, const std::string& author) {
    const std::string artist = QueryValue(query, "artist"), title = QueryValue(query, "title");
    const std::string language = QueryValue(query, "lang");
    const auto refuse = [](const std::string& why) {
        return Xml("<result><status>error</status>" + Element("message", why) + "</result>\n", 400);
    };
    if (Trim(artist).empty() || Trim(title).empty()) return refuse("artist and title are required");
    const std::vector<Line> lines = ParseTimedText(request.body);
    if (lines.empty()) return refuse("the body holds no timed lines");

    // The lines re-time what a fetch with the same query returned: the translation in that
    // language when there is one, else the original. A song nobody knew becomes a new one.
    std::optional<StoredSong> existing;
    if (!language.empty()) existing = store_.FindExact(artist, title, language);
    if (!existing) existing = store_.FindExact(artist, title, "");
    Song song;
    if (existing) {
        song = existing->song;
    } else {
        song.artist = artist;
        song.title = title;
        song.album = QueryValue(query, "album");
    }
    song.lines = lines;
    if (LargestReplyBytes(song) > kMaxSongReplyBytes) {
        HttpResponse tooLarge = refuse(SongTooLarge().what());
        tooLarge.status = 413;
        return tooLarge;
    }
    // Signed in, the change is the member's; otherwise it carries whatever name the client gave.
    const std::string version = store_.Save(song, Store::NewVersion::Always, "upload",
                                            author.empty() ? QueryValue(query, "user") : author, false);
    return Xml("<result><status>ok</status>" + Element("version", version) + "</result>\n");
}

HttpResponse Service::VerifyUser(const QueryPairs& query) {
    bool hasName = false;
    const std::string name = QueryValue(query, "username", &hasName);
    const bool valid = hasName && !name.empty() && store_.CheckUser(name, QueryValue(query, "password"));
    return Text(valid ? "true" : "false");
}

HttpResponse Service::SupportedLanguages() {
    std::string xml = "<languages>";
    for (const auto& [code, name] : store_.Languages()) {
        xml += "<language code=\"" + XmlEscape(code) + "\">" + XmlEscape(name) + "</language>";
    }
    xml += "</languages>\n";
    return Xml(xml);
}

HttpResponse Service::LargeReply(const std::string& path, long long bytes) {
    bytes = std::min(bytes, kMaxLargeBytes);
    std::lock_guard<std::mutex> holdLarge(largeLock_);
    if (path == largePath_ && bytes == largeBytes_) return Xml(largeBody_);
    const size_t wanted = static_cast<size_t>(bytes);
    const std::string servicePath = kServices;
    std::string xml = kXmlDeclaration;
    xml.reserve(wanted + 256);
    if (path == servicePath + "getSupportedLanguages.php") {
        xml += "<languages>";
        for (int i = 0; xml.size() + 13 < wanted; ++i) {
            const std::string code = "x" + std::to_string(i);
            xml += "<language code=\"" + code + "\">Language " + std::to_string(i) + "</language>";
        }
        xml += "</languages>\n";
    } else if (path == servicePath + "getLyricXML_2" || path == servicePath + "getLyricVerXML.php") {
        xml += "<lyrics><title>Large reply</title><artist>Stand-in</artist><album></album>";
        xml += "<version>large-" + std::to_string(bytes) + "</version><songLock>0</songLock>";
        xml += "<lastUpdate>2000-01-01 00:00:00</lastUpdate><lyric>";
        std::lock_guard<std::mutex> hold(lock_);
        for (long long i = 0; xml.size() + 18 < wanted; ++i) {
            xml += "<line timing=\"" + EncodeTiming(i * 1000, random_) + "\">Line " + std::to_string(i + 1) +
                   " of a large reply</line>";
        }
        xml += "</lyric></lyrics>\n";
    } else {
        xml += "<reply>";
        for (int i = 0; xml.size() + 9 < wanted; ++i) {
            xml += "<item>Item " + std::to_string(i) + " of a large reply</item>";
        }
        xml += "</reply>\n";
    }
    largePath_ = path;
    largeBytes_ = bytes;
    largeBody_ = xml.substr(sizeof kXmlDeclaration - 1);
    return Xml(largeBody_);
}

std::string Service::RecordText(const std::string& path) {
    std::string text;
    for (const RecordedRequest& r : record_) {
        if (!path.empty() && r.path != path) continue;
        text += std::to_string(r.seq) + "\t" + PercentEncodeStrict(r.method) + "\t" + PercentEncodeStrict(r.path) +
                "\t" + PercentEncodeStrict(r.target) + "\t" + PercentEncodeStrict(r.body);
        for (const auto& [name, value] : r.query) {
            text += "\t" + PercentEncodeStrict(name) + "=" + PercentEncodeStrict(value);
        }
        text += "\n";
    }
    return text;
}

Answer Service::Control(const HttpRequest& request) {
    const QueryPairs query = ParseQuery(request.rawQuery);
    const std::string command = request.path.substr(10);
    Answer answer;
    const auto fail = [&](int status, const std::string& why) {
        answer.response = Text(why + "\n", status);
        return answer;
    };
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (command == "requests") {
        if (!get) return fail(405, "use GET");
        const std::string path = QueryValue(query, "path");
        // Optional long poll: min=N waits until N requests match, for at most timeout-ms.
        long long minimum = 0, timeoutMs = 10000;
        ParseInt(QueryValue(query, "min"), minimum);
        ParseInt(QueryValue(query, "timeout-ms"), timeoutMs);
        std::unique_lock<std::mutex> hold(lock_);
        const auto matching = [&] {
            return static_cast<long long>(std::count_if(record_.begin(), record_.end(), [&](const RecordedRequest& r) {
                return path.empty() || r.path == path;
            }));
        };
        if (minimum > 0) {
            recorded_.wait_for(hold, std::chrono::milliseconds(std::max(0LL, timeoutMs)),
                               [&] { return shuttingDown_ || matching() >= minimum; });
        }
        answer.response = Text(RecordText(path));
        return answer;
    }
    if (get) return fail(405, "use POST");
    if (command == "clear-requests") {
        std::lock_guard<std::mutex> hold(lock_);
        record_.clear();
        recordBytes_ = 0;
    } else if (command == "behaviour") {
        bool hasPath = false;
        const std::string path = QueryValue(query, "path", &hasPath);
        const std::string mode = QueryValue(query, "mode");
        if (!hasPath || path.empty()) return fail(400, "path is required");
        Behaviour behaviour;
        using Mode = Behaviour::Mode;
        if (mode == "none")
            behaviour.mode = Mode::None;
        else if (mode == "delay")
            behaviour.mode = Mode::Delay;
        else if (mode == "slow")
            behaviour.mode = Mode::Slow;
        else if (mode == "close")
            behaviour.mode = Mode::Close;
        else if (mode == "status")
            behaviour.mode = Mode::Status;
        else if (mode == "malformed")
            behaviour.mode = Mode::Malformed;
        else if (mode == "large")
            behaviour.mode = Mode::Large;
        else if (mode == "truncate")
            behaviour.mode = Mode::Truncate;
        else if (mode == "bomb")
            behaviour.mode = Mode::Bomb;
        else if (mode == "nul")
            behaviour.mode = Mode::Nul;
        else if (mode == "bad-utf8")
            behaviour.mode = Mode::BadUtf8;
        else
            return fail(400, "unknown mode: " + mode);
        long long number = 0;
        if (ParseInt(QueryValue(query, "ms"), number))
            behaviour.ms = static_cast<int>(std::clamp(number, 0LL, 3600000LL));
        if (ParseInt(QueryValue(query, "code"), number))
            behaviour.code = static_cast<int>(std::clamp(number, 0LL, 999LL));
        if (ParseInt(QueryValue(query, "bytes"), number)) behaviour.bytes = std::clamp(number, 0LL, kMaxLargeBytes);
        std::lock_guard<std::mutex> hold(lock_);
        if (behaviour.mode == Mode::None)
            behaviours_.erase(path);
        else
            behaviours_[path] = behaviour;
    } else if (command == "reset-behaviours") {
        std::lock_guard<std::mutex> hold(lock_);
        behaviours_.clear();
    } else if (command == "user") {
        bool hasName = false;
        const std::string name = QueryValue(query, "name", &hasName);
        if (!hasName || name.empty()) return fail(400, "name is required");
        store_.SetUser(name, QueryValue(query, "password"));
    } else if (command == "song") {
        const LrcParse parsed = ParseLrc(request.body);
        if (!parsed.ok) return fail(400, parsed.error);
        const std::string version = store_.Save(parsed.song, Store::NewVersion::Always, "control", "");
        answer.response = Text("ok " + version + "\n");
        return answer;
    } else {
        return fail(404, "unknown control request");
    }
    answer.response = Text("ok\n");
    return answer;
}

}  // namespace standin
