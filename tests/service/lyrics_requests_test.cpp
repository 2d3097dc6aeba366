// Lyrics fetch and save workers against the stand-in service, over real HTTP, with real cache
// files and a real window's message queue. The stand-in's request record shows what went over the
// wire and what did not.
#include "service/lyrics_requests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "loopback_server.h"
#include "requests_fixture.h"
#include "resources/resource_ids.h"
#include "base/win_handles.h"
#include "service/http_retriever.h"

using namespace sv;
using namespace svtest;

namespace {

constexpr char kFetchPath[] = "/sonavire/services/getLyricXML_2";
constexpr char kVersionPath[] = "/sonavire/services/getLyricVerXML.php";
constexpr char kStorePath[] = "/sonavire/services/setLyrics.php";

const std::vector<std::string> kNineParameters = {"lang",   "artist", "title",  "album",     "videoId",
                                                  "vidSrc", "user",   "device", "resolution"};

std::string ClosedPort() { return "127.0.0.1:" + std::to_string(ClosedLoopbackPort()); }

// Serves one request and closes its listener before it answers, so the next connection is refused.
class OneAnswerServer {
public:
    explicit OneAnswerServer(std::string body) : body_(std::move(body)) {
        listener_ = OpenLoopbackListener(1, port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~OneAnswerServer() {
        if (listener_ != INVALID_SOCKET) closesocket(listener_);  // ends a waiting accept()
        thread_.join();
        WSACleanup();
    }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    void Serve() {
        SOCKET client = accept(listener_, nullptr, nullptr);
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
        if (client == INVALID_SOCKET) return;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int n = recv(client, buffer, sizeof(buffer), 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<size_t>(n));
        }
        const std::string answer =
            "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body_.size()) +
            "\r\nConnection: close\r\n\r\n" + body_;
        send(client, answer.data(), static_cast<int>(answer.size()), 0);
        shutdown(client, SD_SEND);
        while (recv(client, buffer, sizeof(buffer), 0) > 0) {}
        closesocket(client);
    }

    std::string body_;
    SOCKET listener_ = INVALID_SOCKET;
    unsigned short port_ = 0;
    std::thread thread_;
};

class LyricsRequests : public RequestsTest {
protected:
    // A song of the stand-in that only this test changes; two timed lines (a reply needs at least
    // two lines to have any).
    std::string AddOwnSong(const std::string& title, const std::string& firstLine = "First line") {
        return client_.AddSongLrc("[ar:Test Artist]\n[ti:" + title + "]\n[00:01.00]" + firstLine +
                                  "\n[00:04.00]Second line\n[00:07.00]Third line\n");
    }
};

}  // namespace

TEST_F(LyricsRequests, QueryGoesOutEscapedWithAllNineParameters) {
    auto document = Fetch(Request("Los Faros", "Canci\u00f3n del Alba", "Mareas"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, LyricsStatus::Untimed);
    EXPECT_GT(document->LineCount(), 4);

    auto rock = Fetch(Request("The Escapes", "Rock & Roll"));
    ASSERT_TRUE(rock);
    EXPECT_EQ(rock->status, LyricsStatus::Timed);
    EXPECT_EQ(Utf8(rock->LineAt(0)->text), "Turn it up & let it go");

    const auto record = client_.Requests();
    ASSERT_EQ(record.size(), 2u) << "no cache yet: one full fetch each, no version check";
    for (const auto& request : record) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.path, kFetchPath);
        EXPECT_EQ(request.QueryNames(), kNineParameters) << request.rawTarget;
        // Nobody signed in: user is there, empty.
        EXPECT_TRUE(request.HasQuery("user"));
        EXPECT_EQ(request.Query("user"), "");
        EXPECT_EQ(request.Query("device"), "1000");
        EXPECT_EQ(request.Query("resolution"), "1280x1024");
        EXPECT_EQ(request.Query("videoId"), "");
        EXPECT_EQ(request.Query("vidSrc"), "");
    }
    EXPECT_EQ(record[0].Query("title"), "Canci\u00f3n del Alba");
    EXPECT_NE(record[0].rawTarget.find("&title=Canci%C3%B3n%20del%20Alba"), std::string::npos) << record[0].rawTarget;
    EXPECT_EQ(record[0].rawTarget.find("\xC3"), std::string::npos) << "no raw UTF-8 on the wire";
    EXPECT_EQ(record[1].Query("title"), "Rock & Roll");
    EXPECT_NE(record[1].rawTarget.find("&title=Rock%20%26%20Roll&album=&"), std::string::npos) << record[1].rawTarget;

    // A tag with a line break: escaped, so it cannot split the request toward the service.
    client_.ClearRequests();
    auto split = Fetch(Request("Blue Harbour", "Night Train\r\nX-Injected: 1"));
    ASSERT_TRUE(split);
    const auto injected = client_.Requests();
    ASSERT_EQ(injected.size(), 1u);
    EXPECT_NE(injected[0].rawTarget.find("&title=Night%20Train%0D%0AX-Injected%3A%201&"), std::string::npos)
        << injected[0].rawTarget;
    EXPECT_EQ(injected[0].Query("title"), "Night Train\r\nX-Injected: 1");
}

TEST_F(LyricsRequests, VideoPageDocumentSendsItsSourceAndSignedInUser) {
    LyricsDocument request = Request("Blue Harbour", "Night Train");
    request.sourceKind = MediaSource::VideoPage;
    request.SetVideoId(u"a1B2c3D4e5F");
    auto document = Fetch(request, QuerySettings(u"anna & bo"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->sourceKind, MediaSource::VideoPage);
    EXPECT_EQ(document->VideoId(), u"a1B2c3D4e5F");

    const auto record = client_.Requests(kFetchPath);
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0].QueryNames(), kNineParameters);
    EXPECT_EQ(record[0].Query("videoId"), "a1B2c3D4e5F");
    EXPECT_EQ(record[0].Query("vidSrc"), "youtube");
    EXPECT_EQ(record[0].Query("user"), "anna & bo");
}

TEST_F(LyricsRequests, MissingArtistOrTitleSendsNothing) {
    for (const auto& [artist, title] : {std::pair<std::string, std::string>{"Blue Harbour", ""}, {"", "Night Train"}}) {
        auto document = Fetch(Request(artist, title));
        ASSERT_TRUE(document);
        EXPECT_EQ(document->status, LyricsStatus::MissingKeys);
        EXPECT_EQ(document->LineCount(), 0);
    }
    ASSERT_TRUE(WaitForWorkersToEnd(baseline_));
    EXPECT_TRUE(client_.Requests().empty());
    EXPECT_TRUE(CacheFiles().empty());
}

TEST_F(LyricsRequests, MatchingCachedVersionIsPostedWithoutTheFullFetch) {
    auto first = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, LyricsStatus::Timed);
    ASSERT_EQ(CacheFiles().size(), 1u) << "the reply is the cache file";
    client_.ClearRequests();
    // The user's timing nudge of this song, beside its cache file, comes back with the lyrics.
    EXPECT_EQ(first->timingOffsetMs, 0);
    const std::wstring cacheName = CacheFiles()[0];
    const std::wstring offsetFile = cacheFolder_ + L"\\" + cacheName.substr(0, cacheName.size() - 4) + L".offset";
    {
        const sv::UniqueFileHandle file(
            CreateFileW(offsetFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "-1500", 5, &written, nullptr));
    }

    auto cached = Fetch(Request("Blue Harbour", "Night Train"));
    DeleteFileW(offsetFile.c_str());
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->timingOffsetMs, -1500);
    EXPECT_EQ(cached->status, LyricsStatus::Timed);
    EXPECT_EQ(cached->LineCount(), first->LineCount());
    EXPECT_EQ(cached->Version(), first->Version());
    EXPECT_EQ(client_.Requests(kVersionPath).size(), 1u);
    EXPECT_TRUE(client_.Requests(kFetchPath).empty()) << "the cached copy was current";
    EXPECT_EQ(client_.Requests(kVersionPath)[0].QueryNames(), kNineParameters);
}

TEST_F(LyricsRequests, NewerVersionIsFetchedAndRewritesTheCache) {
    const std::string oldVersion = AddOwnSong("Rewritten");
    auto first = Fetch(Request("Test Artist", "Rewritten"));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, LyricsStatus::Timed);
    EXPECT_EQ(Utf8(first->Version()), oldVersion);
    ASSERT_EQ(CacheFiles().size(), 1u);
    const std::wstring cacheFile = CacheFiles()[0];

    const std::string newVersion = AddOwnSong("Rewritten", "Changed first line");
    ASSERT_NE(newVersion, oldVersion);
    client_.ClearRequests();

    auto updated = Fetch(Request("Test Artist", "Rewritten"));
    ASSERT_TRUE(updated);
    EXPECT_EQ(Utf8(updated->Version()), newVersion);
    EXPECT_EQ(updated->status, LyricsStatus::Timed);
    ASSERT_EQ(updated->LineCount(), 3);
    EXPECT_EQ(Utf8(updated->LineAt(0)->text), "Changed first line");
    EXPECT_EQ(client_.Requests(kVersionPath).size(), 1u);
    EXPECT_EQ(client_.Requests(kFetchPath).size(), 1u);
    ASSERT_EQ(CacheFiles(), std::vector<std::wstring>{cacheFile});
    const std::string rewritten = ReadCacheFile(cacheFile);
    EXPECT_NE(rewritten.find("Changed first line"), std::string::npos);
    EXPECT_NE(rewritten.find(newVersion), std::string::npos);
}

TEST_F(LyricsRequests, ServiceDownPostsTheCachedCopy) {
    auto first = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(first);
    PointAt(ClosedPort());

    auto cached = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->status, LyricsStatus::Timed);
    EXPECT_EQ(cached->LineCount(), first->LineCount());
    EXPECT_EQ(cached->Version(), first->Version());
}

TEST_F(LyricsRequests, ServiceDownWithoutCacheGivesTheConnectionError) {
    PointAt(ClosedPort());
    auto document = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(document);
    EXPECT_TRUE(document->status == LyricsStatus::ServerUnreachable || document->status == LyricsStatus::RequestFailed)
        << static_cast<int>(document->status);
    EXPECT_EQ(document->LineCount(), 0);

    // Same for a host name that resolves nowhere.
    PointAt("nowhere.invalid");
    document = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(document);
    EXPECT_TRUE(document->status == LyricsStatus::ServerUnreachable || document->status == LyricsStatus::RequestFailed)
        << static_cast<int>(document->status);
}

TEST_F(LyricsRequests, CachedLinesStayWhenTheNewerVersionCannotBeFetched) {
    AddOwnSong("Unreachable Update");
    auto first = Fetch(Request("Test Artist", "Unreachable Update"));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->LineCount(), 3);

    // The version check hears of another version; then the service is gone.
    OneAnswerServer server("<lyrics><version>another</version></lyrics>");
    PointAt(server.HostPort());
    auto document = Fetch(Request("Test Artist", "Unreachable Update"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, LyricsStatus::ServerUnreachable) << "the refused connection's code";
    EXPECT_EQ(document->LineCount(), 3) << "the cached lines, under the error";
    EXPECT_EQ(document->Version(), first->Version());
}

TEST_F(LyricsRequests, ConnectionClosedWithoutAnAnswer) {
    client_.SetBehaviour(kFetchPath, "close");
    LyricsDocument request = Request("Blue Harbour", "Night Train");
    request.status = LyricsStatus::None;
    auto document = Fetch(request);
    ASSERT_TRUE(document);
    // Windows' WinINet fails the request (12152, so 505); Wine's takes it for an empty answer,
    // which is no lyrics document and leaves the status the request carried.
    EXPECT_TRUE(document->status == LyricsStatus::RequestFailed || document->status == LyricsStatus::None)
        << static_cast<int>(document->status);
    EXPECT_EQ(document->LineCount(), 0);
    // Once, or again when the request went out on a kept-open connection: WinINet then tries the
    // next one, and a new one last, as HTTP clients do when a server may have closed an idle
    // connection. It keeps at most two per server, so three tries at most, never an endless loop.
    const size_t sent = client_.Requests(kFetchPath).size();
    EXPECT_TRUE(sent >= 1u && sent <= 3u) << sent;
    EXPECT_TRUE(CacheFiles().empty());
}

TEST_F(LyricsRequests, RepliesThatAreNotLyrics) {
    // Not well-formed: the status the request carried.
    client_.SetBehaviour(kFetchPath, "malformed");
    auto document = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, LyricsStatus::NotFound);
    EXPECT_EQ(document->LineCount(), 0);
    EXPECT_TRUE(CacheFiles().empty()) << "a broken reply is not cached";

    LyricsDocument videoRequest = Request("Blue Harbour", "Night Train");
    videoRequest.status = LyricsStatus::None;
    document = Fetch(videoRequest);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, LyricsStatus::None);

    // An error page is a reply too.
    client_.SetBehaviour(kFetchPath, "status", 0, 503);
    document = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, LyricsStatus::NotFound);

    // Well-formed lyrics, but larger than any lyrics: reading stops at the limit, nothing is parsed.
    client_.SetBehaviour(kFetchPath, "large", 0, 0, static_cast<long>(kLargestReplyBytes + 300000));
    document = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, LyricsStatus::NotFound);
    EXPECT_EQ(document->LineCount(), 0);
    EXPECT_TRUE(CacheFiles().empty());
    client_.SetBehaviour(kFetchPath, "large", 0, 0, static_cast<long>(kLargestReplyBytes - 300000));
    document = Fetch(Request("Blue Harbour", "Night Train"));
    ASSERT_TRUE(document);
    EXPECT_GT(document->LineCount(), 0) << "a large reply within the limit is read whole";

    // A song the service does not know: an empty lyric element.
    client_.ResetBehaviours();
    document = Fetch(Request("Nobody", "Unknown Song"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->status, LyricsStatus::NotFound);
}

TEST_F(LyricsRequests, OutdatedCacheAndBrokenReplyDoNotClaimLines) {
    AddOwnSong("Broken Update");
    auto first = Fetch(Request("Test Artist", "Broken Update"));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, LyricsStatus::Timed);
    AddOwnSong("Broken Update", "Yet another take");
    client_.SetBehaviour(kFetchPath, "malformed");

    auto document = Fetch(Request("Test Artist", "Broken Update"));
    ASSERT_TRUE(document);
    EXPECT_EQ(document->LineCount(), 0);
    EXPECT_EQ(document->status, LyricsStatus::NotFound) << "the request's status, not 'timed' with no lines";
}

TEST_F(LyricsRequests, VersionCheckAnswersAndFailures) {
    LyricsDocument document = Request("Blue Harbour", "Night Train");
    EXPECT_EQ(CheckLyricsVersion(document, QuerySettings()), S_OK);
    EXPECT_FALSE(document.Version().empty());
    const auto record = client_.Requests(kVersionPath);
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0].QueryNames(), kNineParameters);

    // No answer: the document is left as it was.
    document.SetVersion(u"kept");
    PointAt(ClosedPort());
    EXPECT_EQ(CheckLyricsVersion(document, QuerySettings()), E_FAIL);
    EXPECT_EQ(document.Version(), u"kept");

    // An answer without a version element keeps the version too.
    PointAtStandin();
    client_.SetBehaviour(kVersionPath, "status", 0, 404);
    EXPECT_TRUE(SUCCEEDED(CheckLyricsVersion(document, QuerySettings())));
    EXPECT_EQ(document.Version(), u"kept");
}

TEST_F(LyricsRequests, SlowVersionCheckIsAbandonedAndTheCacheUsed) {
    AddOwnSong("Slow Check");
    auto first = Fetch(Request("Test Artist", "Slow Check"));
    ASSERT_TRUE(first);
    // The service has a newer version, but says so only after the check's 3000 ms.
    AddOwnSong("Slow Check", "Newer first line");
    client_.SetBehaviour(kVersionPath, "delay", 3600);
    client_.ClearRequests();
    auto cached = Fetch(Request("Test Artist", "Slow Check"));
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->Version(), first->Version());
    ASSERT_EQ(cached->LineCount(), 3);
    EXPECT_EQ(Utf8(cached->LineAt(0)->text), "First line");
    EXPECT_EQ(client_.Requests(kVersionPath).size(), 1u);
    EXPECT_TRUE(client_.Requests(kFetchPath).empty()) << "no answer in time: the cached copy counts as current";
}

TEST_F(LyricsRequests, SequenceNumbersTellTheNewestFetch) {
    EXPECT_EQ(fetcher_.LatestFetch(), 0u);
    // The first fetch is slow, the second quick: the first one's reply arrives last and is stale.
    client_.SetBehaviour(kFetchPath, "delay", 800);
    const WPARAM slow =
        fetcher_.StartLyricsFetch(window_.get(), Request("Blue Harbour", "Night Train"), QuerySettings());
    const WPARAM quick = fetcher_.StartLyricsFetch(window_.get(), Request("Blue Harbour", ""), QuerySettings());
    EXPECT_EQ(slow, 1u);
    EXPECT_EQ(quick, 2u);
    EXPECT_EQ(fetcher_.LatestFetch(), 2u);

    auto reply = window_.Wait();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->sequence, quick);
    EXPECT_EQ(reply->sequence, fetcher_.LatestFetch());
    EXPECT_EQ(reply->document->status, LyricsStatus::MissingKeys);
    reply = window_.Wait();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->sequence, slow);
    EXPECT_LT(reply->sequence, fetcher_.LatestFetch()) << "stale";
    EXPECT_EQ(reply->document->status, LyricsStatus::Timed);
}

TEST_F(LyricsRequests, BurstOfFetchesRunsAFewAtATimeAndAnswersTheNewest) {
    // A user skipping through tracks while the service is slow: the first fetches take the running
    // places, the ones in between are dropped unrun, the newest runs when a place frees.
    constexpr int kFetches = 12;
    static_assert(LyricsFetcher::kRunningFetchLimit < kFetches - 1);
    client_.SetBehaviour(kFetchPath, "delay", 300);
    for (int i = 0; i < kFetches; ++i) {
        fetcher_.StartLyricsFetch(window_.get(), Request("Blue Harbour", "Night Train"), QuerySettings());
    }
    std::vector<WPARAM> answered;
    for (int i = 0; i <= LyricsFetcher::kRunningFetchLimit; ++i) {
        auto reply = window_.Wait();
        ASSERT_TRUE(reply) << "reply " << i;
        EXPECT_EQ(reply->document->status, LyricsStatus::Timed) << reply->sequence;
        answered.push_back(reply->sequence);
    }
    // The first ones and the newest; the newest may overtake the second, as it finds the cache.
    std::sort(answered.begin(), answered.end());
    EXPECT_EQ(answered.back(), static_cast<WPARAM>(kFetches));
    for (int i = 0; i < LyricsFetcher::kRunningFetchLimit; ++i) EXPECT_EQ(answered[i], static_cast<WPARAM>(i + 1));
    ASSERT_TRUE(WaitForWorkersToEnd(baseline_));
    EXPECT_EQ(fetcher_.DiscardedReplies(), kFetches - LyricsFetcher::kRunningFetchLimit - 1);
    // The newest found the cache the first ones wrote: it asked for the version only.
    EXPECT_EQ(client_.Requests(kFetchPath).size() + client_.Requests(kVersionPath).size(),
              static_cast<size_t>(LyricsFetcher::kRunningFetchLimit + 1));
}

TEST_F(LyricsRequests, ClosingDeletesQueuedAndLateReplies) {
    // Two replies queued, not yet handled, when the window goes.
    fetcher_.StartLyricsFetch(window_.get(), Request("", "Night Train"), QuerySettings());
    fetcher_.StartLyricsFetch(window_.get(), Request("Blue Harbour", ""), QuerySettings());
    // One still under way.
    client_.SetBehaviour(kFetchPath, "delay", 500);
    fetcher_.StartLyricsFetch(window_.get(), Request("Blue Harbour", "Night Train"), QuerySettings());
    ASSERT_EQ(client_.WaitForRequests(kFetchPath, 1).size(), 1u);

    EXPECT_GE(ModuleLockCount(), baseline_ + 1) << "the running job keeps the module";
    const size_t queued = fetcher_.Close();
    EXPECT_LE(queued, 2u);
    ASSERT_TRUE(WaitForWorkersToEnd(baseline_)) << "the job ends on its own";
    EXPECT_EQ(fetcher_.DiscardedReplies(), 3) << "every document deleted, none lost";
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, window_.get(), WM_SV_LYRICS_READY, WM_SV_LYRICS_READY, PM_NOREMOVE));

    // A closed fetcher starts nothing.
    EXPECT_EQ(fetcher_.StartLyricsFetch(window_.get(), Request("Blue Harbour", "Night Train"), QuerySettings()), 0u);
}

TEST_F(LyricsRequests, ReplyForAWindowThatIsGoneIsDeleted) {
    client_.SetBehaviour(kFetchPath, "delay", 300);
    fetcher_.StartLyricsFetch(window_.get(), Request("Blue Harbour", "Night Train"), QuerySettings());
    ASSERT_EQ(client_.WaitForRequests(kFetchPath, 1).size(), 1u);
    window_.Destroy();  // without closing the fetcher
    ASSERT_TRUE(WaitForWorkersToEnd(baseline_));
    EXPECT_EQ(fetcher_.DiscardedReplies(), 1);
}

TEST_F(LyricsRequests, DiscardQueuedRepliesEmptiesOnlyThatWindow) {
    LyricsFetcher otherFetcher(AsU16(cacheFolder_.c_str()));
    ReplyWindow other(otherFetcher);
    fetcher_.StartLyricsFetch(window_.get(), Request("", ""), QuerySettings());
    fetcher_.StartLyricsFetch(window_.get(), Request("", ""), QuerySettings());
    otherFetcher.StartLyricsFetch(other.get(), Request("", ""), QuerySettings());
    ASSERT_TRUE(WaitForWorkersToEnd(baseline_));
    EXPECT_EQ(fetcher_.DiscardQueuedReplies(window_.get()), 2u);
    EXPECT_EQ(fetcher_.DiscardQueuedReplies(window_.get()), 0u);
    auto reply = other.Wait(0);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->document->status, LyricsStatus::MissingKeys);
}

TEST_F(LyricsRequests, RetimedLyricsAreSavedAndFetchedBack) {
    auto document = Fetch(Request("Traditional", "Amazing Grace"));
    ASSERT_TRUE(document);
    ASSERT_EQ(document->status, LyricsStatus::Untimed);
    const int lines = document->LineCount();
    ASSERT_GE(lines, 4);

    // Not re-timed yet: nothing to send.
    EXPECT_EQ(PrepareLyricsSave(document.get(), QuerySettings()), nullptr);
    EXPECT_EQ(PrepareLyricsSave(nullptr, QuerySettings()), nullptr);
    EXPECT_FALSE(StartLyricsSave(nullptr));

    std::string expectedBody;
    for (int i = 0; i < lines; ++i) {
        LyricLine* line = document->LineAt(i);
        line->time = 1500.0 + 2000.0 * i;  // 00:01.50, 00:03.50, ...
        const int hundredths = static_cast<int>(line->time / 10);
        char stamp[16];
        snprintf(stamp, sizeof stamp, "[%02d:%02d.%02d] ", hundredths / 6000, hundredths / 100 % 60, hundredths % 100);
        expectedBody += stamp + Utf8(line->text);
    }
    document->status = LyricsStatus::Retimed;
    ASSERT_TRUE(document->PassesResyncTest());

    client_.ClearRequests();
    auto job = PrepareLyricsSave(document.get(), QuerySettings(u"anna"));
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->body, expectedBody + std::string(1, '\0'));
    const long before = ModuleLockCount();
    ASSERT_TRUE(StartLyricsSave(std::move(job)));

    const auto saved = client_.WaitForRequests(kStorePath, 1);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].method, "POST");
    EXPECT_EQ(saved[0].body, expectedBody) << "no escaping, no terminator";
    EXPECT_EQ(saved[0].QueryNames(), kNineParameters);
    EXPECT_EQ(saved[0].Query("title"), "Amazing Grace");
    EXPECT_EQ(saved[0].Query("user"), "anna");
    ASSERT_TRUE(WaitForWorkersToEnd(before)) << "the save worker ends";
    EXPECT_EQ(client_.Requests().size(), 1u) << "the save sends one request and posts nothing";
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, window_.get(), WM_SV_LYRICS_READY, WM_SV_LYRICS_READY, PM_NOREMOVE));

    // The next fetch finds a new version and the new times.
    auto fetched = Fetch(Request("Traditional", "Amazing Grace"));
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->status, LyricsStatus::Timed);
    ASSERT_EQ(fetched->LineCount(), lines);
    for (int i = 0; i < lines; ++i) EXPECT_NEAR(fetched->LineAt(i)->time, 1500.0 + 2000.0 * i, 0.5) << i;
    EXPECT_EQ(client_.Requests(kVersionPath).size(), 1u);
    EXPECT_EQ(client_.Requests(kFetchPath).size(), 1u);
}

TEST_F(LyricsRequests, DocumentsThatAreNotToBeSaved) {
    LyricsDocument noLines = Request("Blue Harbour", "Night Train");
    noLines.status = LyricsStatus::Retimed;
    EXPECT_EQ(PrepareLyricsSave(&noLines, QuerySettings()), nullptr);

    // Re-timed, but two lines two apart less than a second apart.
    LyricsDocument tooClose = Request("Blue Harbour", "Night Train");
    tooClose.AddLine(u"one", u"");
    tooClose.AddLine(u"two", u"");
    tooClose.AddLine(u"three", u"");
    tooClose.LineAt(0)->time = 1000;
    tooClose.LineAt(1)->time = 1400;
    tooClose.LineAt(2)->time = 1800;
    tooClose.status = LyricsStatus::Retimed;
    EXPECT_EQ(PrepareLyricsSave(&tooClose, QuerySettings()), nullptr);
    ASSERT_TRUE(WaitForWorkersToEnd(baseline_));
    EXPECT_TRUE(client_.Requests().empty());
}

TEST_F(LyricsRequests, CommunityPagesCarryTheQueryAsText) {
    const HINSTANCE resources = GetModuleHandleW(nullptr);  // the test links the resources
    key_.SetText(kCommunityHostValue, L"wiki.local:81");
    LyricsDocument shown = Request("The Escapes", "Rock & Roll");
    EXPECT_EQ(BuildCommunityUrl(resources, IDS_PAGE_LYRICS_SEARCH, &shown, QuerySettings(u"anna")),
              L"http://wiki.local:81/wiki/community-winmo/community-lyricSearch.php?lang=&artist=The%20Escapes"
              L"&title=Rock%20%26%20Roll&album=&videoId=&vidSrc=&user=anna&device=1000&resolution=1280x1024");
    EXPECT_EQ(BuildCommunityUrl(resources, IDS_PAGE_TOP_50, nullptr, QuerySettings()),
              L"http://wiki.local:81/wiki/community-winmo/community-top50.php?lang=&artist=&title=&album=&videoId="
              L"&vidSrc=&user=&device=1000&resolution=1280x1024");
    EXPECT_EQ(BuildCommunityUrl(resources, IDS_PAGE_MUSIC_NEAR_YOU, nullptr, QuerySettings())
                  .find(L"http://wiki.local:81/wiki/community-winmo/community-map?lang=&artist=&"),
              0u);
    // Other pages: the bare address.
    EXPECT_EQ(BuildCommunityUrl(resources, IDS_PAGE_HELP, &shown, QuerySettings()),
              L"http://wiki.local:81/wiki/community-help-iphone.php");
    EXPECT_EQ(BuildCommunityUrl(resources, IDS_PAGE_HOME, &shown, QuerySettings()), L"http://wiki.local:81");
    EXPECT_EQ(BuildCommunityUrl(resources, IDS_PAGE_TELL_A_FRIEND, &shown, QuerySettings()), L"mailto:");
    EXPECT_EQ(BuildCommunityUrl(resources, 399, &shown, QuerySettings()), L"");
}
