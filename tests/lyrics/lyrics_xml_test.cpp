// Replies and cache files through the real MSXML DOM, in a cache folder of the test's own.
#include "lyrics/lyrics_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <psapi.h>
#include <shlobj.h>

#include "base/utf.h"
#include "base/win_handles.h"

namespace sv {
namespace {

std::u16string U16(const std::string& utf8) { return Utf16FromUtf8(utf8); }

class LyricsXml : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ = AsU16(temp) + U16("sonavire-lyrics-" + std::to_string(GetCurrentProcessId()) + "-" +
                                    std::to_string(GetTickCount()));
        ASSERT_TRUE(CreateDirectoryW(AsWide(folder_.c_str()), nullptr));
    }
    void TearDown() override {
        for (const std::u16string& name : FilesInFolder()) DeleteFileW(AsWide((folder_ + u"\\" + name).c_str()));
        RemoveDirectoryW(AsWide(folder_.c_str()));
    }

    std::vector<std::u16string> FilesInFolder() const {
        std::vector<std::u16string> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(AsWide((folder_ + u"\\*").c_str()), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(AsU16(found.cFileName));
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }

    static std::string ReadWholeFile(const std::u16string& path) {
        UniqueFileHandle file(CreateFileW(AsWide(path.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        std::string bytes;
        if (!file) return bytes;
        char chunk[4096];
        DWORD got = 0;
        while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
        return bytes;
    }

    // A request document as the main window fills it before a fetch.
    static std::unique_ptr<LyricsDocument> Request() {
        auto doc = std::make_unique<LyricsDocument>();
        doc->SetTitle(u"a/b:c");
        doc->SetArtist(u"x?y");
        doc->SetAlbum(u"Album");
        doc->SetLanguage(u"he");
        doc->sourceKind = MediaSource::Player;
        doc->status = LyricsStatus::NotFound;
        return doc;
    }

    static void ExpectSameLines(const LyricsDocument& a, const LyricsDocument& b) {
        ASSERT_EQ(a.LineCount(), b.LineCount());
        for (int i = 0; i < a.LineCount(); ++i) {
            EXPECT_EQ(a.LineAt(i)->text, b.LineAt(i)->text) << i;
            EXPECT_EQ(a.LineAt(i)->time, b.LineAt(i)->time) << i;
            EXPECT_EQ(a.LineAt(i)->rightToLeft, b.LineAt(i)->rightToLeft) << i;
        }
        EXPECT_EQ(a.status, b.status);
    }

    std::u16string folder_;
};

// The timing code with key 1: the first digit goes last, behind one filler character.
std::string KeyOneTiming(int time) {
    const std::string digits = std::to_string(time);
    return "1" + digits.substr(1) + "_" + digits[0];
}

const char kFullReply[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<sonavire><meta><title>First &amp; only</title></meta><title>second</title>"
    "<artist>Art</artist><album>Alb</album><version>3</version><songLock>1</songLock>"
    "<lastUpdate>2009-05-01 10:00</lastUpdate><language>xx</language><videoId>yy</videoId>\n"
    "<lyric><line timing=\"335xyz073\">Hello</line><line timing=\"0\">\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d world</line>"
    "<line>no timing \xf0\x9f\x8e\xb5</line></lyric><lyric><line>a</line><line>b</line><line>c</line></lyric>"
    "</sonavire>";

TEST_F(LyricsXml, ReadsTheFirstOfEachElementAndTheLines) {
    auto doc = Request();
    doc->SetVideoId(u"v1");
    ASSERT_EQ(doc->LoadFromReply(kFullReply, false), S_OK);
    EXPECT_EQ(doc->Title(), u"First & only");  // first in document order, however deep
    EXPECT_EQ(doc->Artist(), u"Art");
    EXPECT_EQ(doc->Album(), u"Alb");
    EXPECT_EQ(doc->Version(), u"3");
    EXPECT_EQ(doc->SongLock(), u"1");
    EXPECT_EQ(doc->LastUpdate(), u"2009-05-01 10:00");
    // Language and video id belong to the request, never to the reply.
    EXPECT_EQ(doc->Language(), u"he");
    EXPECT_EQ(doc->VideoId(), u"v1");
    EXPECT_EQ(doc->status, LyricsStatus::Timed);
    ASSERT_EQ(doc->LineCount(), 3);
    EXPECT_EQ(doc->LineAt(0)->text, u"Hello");
    EXPECT_EQ(doc->LineAt(0)->time, 12345.0);
    EXPECT_EQ(doc->LineAt(1)->text, u"\u05e9\u05dc\u05d5\u05dd world");
    EXPECT_TRUE(doc->LineAt(1)->rightToLeft);
    EXPECT_FALSE(doc->LineAt(0)->rightToLeft);
    EXPECT_EQ(doc->LineAt(2)->text, u"no timing \U0001F3B5");
    EXPECT_EQ(doc->LineAt(2)->time, 0.0);
    EXPECT_TRUE(FilesInFolder().empty());  // no save asked
}

TEST_F(LyricsXml, NamesAreExactAndAnyRootWill) {
    auto doc = Request();
    ASSERT_EQ(doc->LoadFromReply("<x><Title>no</Title><TITLE>no</TITLE><lyric><Line>1</Line><LINE>2</LINE></lyric>"
                                 "<Lyric><a/><b/><c/></Lyric></x>",
                                 false),
              S_OK);
    EXPECT_EQ(doc->Title(), u"a/b:c");
    EXPECT_EQ(doc->LineCount(), 2);  // any child names count as lines

    // Document order: deep inside earlier elements comes before shallow in later ones.
    doc = Request();
    ASSERT_EQ(doc->LoadFromReply("<r><a><b><c/><d>text</d></b></a><lyric><l><title>inner</title></l><l/>"
                                 "<l><version>v</version></l></lyric><title>outer</title><album/></r>",
                                 false),
              S_OK);
    EXPECT_EQ(doc->Title(), u"inner");
    EXPECT_EQ(doc->Version(), u"v");
    EXPECT_EQ(doc->Album(), u"");  // present but empty: the field takes the empty text
    EXPECT_EQ(doc->Artist(), u"x?y");
    EXPECT_EQ(doc->LineCount(), 3);
}

TEST_F(LyricsXml, StatusFollowsTheLines) {
    struct Case {
        const char* reply;
        LyricsStatus status;
        int lines;
    } cases[] = {
        {"<r><lyric><l timing=\"335xyz073\">only</l></lyric></r>", LyricsStatus::NotFound, 0},  // one child: no lines
        {"<r><lyric/></r>", LyricsStatus::NotFound, 0},
        {"<r><lyric>just text</lyric></r>", LyricsStatus::NotFound, 0},
        {"<r><lyric><l>a</l><l timing=\"0\">b</l><l timing=\"7\">c</l><l timing=\"\">d</l></lyric></r>",
         LyricsStatus::Untimed, 4},
        {"<r><lyric><l>a</l><l timing=\"1234#1\">b</l><l>c</l></lyric></r>", LyricsStatus::Timed, 3},
        // A code that does not decode is simply untimed.
        {"<r><lyric><l timing=\"0123456\">a</l><l timing=\"9abc\">b</l></lyric></r>", LyricsStatus::Untimed, 2},
    };
    for (const Case& c : cases) {
        auto doc = Request();
        doc->status = LyricsStatus::LoginFailed;
        EXPECT_EQ(doc->LoadFromReply(c.reply, false), S_OK) << c.reply;
        EXPECT_EQ(doc->status, c.status) << c.reply;
        EXPECT_EQ(doc->LineCount(), c.lines) << c.reply;
    }
}

TEST_F(LyricsXml, EveryKindOfChildNodeIsALine) {
    auto doc = Request();
    ASSERT_EQ(doc->LoadFromReply("<r><lyric>text<!--note--><![CDATA[<cd>]]><x timing=\"1234#1\">el</x>"
                                 "<?pi data?></lyric></r>",
                                 false),
              S_OK);
    ASSERT_EQ(doc->LineCount(), 5);
    EXPECT_EQ(doc->LineAt(0)->text, u"text");
    EXPECT_EQ(doc->LineAt(1)->text, u"note");
    EXPECT_EQ(doc->LineAt(2)->text, u"<cd>");
    EXPECT_EQ(doc->LineAt(3)->text, u"el");
    EXPECT_EQ(doc->LineAt(3)->time, 1234.0);
    EXPECT_EQ(doc->LineAt(4)->text, u"data");
    EXPECT_EQ(doc->status, LyricsStatus::Timed);
}

TEST_F(LyricsXml, AVersionReplyKeepsEveryFieldItDoesNotHold) {
    auto request = Request();
    request->SetVideoId(u"vid");
    request->SetSongLock(u"lock");
    request->SetLastUpdate(u"then");
    request->SetVersion(u"1");
    LyricsDocument copy(*request);
    ASSERT_EQ(copy.LoadFromReply("<?xml version=\"1.0\"?><lyrics><version>2</version></lyrics>", false), S_OK);
    EXPECT_EQ(copy.Version(), u"2");
    EXPECT_EQ(copy.Title(), request->Title());
    EXPECT_EQ(copy.Artist(), request->Artist());
    EXPECT_EQ(copy.Album(), request->Album());
    EXPECT_EQ(copy.Language(), request->Language());
    EXPECT_EQ(copy.VideoId(), request->VideoId());
    EXPECT_EQ(copy.SongLock(), u"lock");
    EXPECT_EQ(copy.LastUpdate(), u"then");
    EXPECT_EQ(copy.sourceKind, MediaSource::Player);
    EXPECT_EQ(copy.status, LyricsStatus::NotFound);  // no lyric element: the copied status stays
    EXPECT_EQ(copy.LineCount(), 0);
}

TEST_F(LyricsXml, TextThatIsNotXmlChangesNothing) {
    for (const char* reply : {"", "not xml", "<r><lyric><l>a</l><l>b</l></lyric>", "<r></x>", "<a/><b/>",
                              "<r>&undefined;</r>", "<r>&#0;</r>", "\xff\xfe<\x00r\x00/>"}) {
        auto doc = Request();
        doc->AddLine(u"old", u"");
        doc->status = LyricsStatus::ServerUnreachable;
        HRESULT hr = doc->LoadFromReply(reply, true, folder_);
        EXPECT_NE(hr, S_OK) << reply;
        EXPECT_EQ(doc->status, LyricsStatus::ServerUnreachable) << reply;
        EXPECT_EQ(doc->LineCount(), 0) << reply;
        EXPECT_EQ(doc->Title(), u"a/b:c");
    }
    EXPECT_TRUE(FilesInFolder().empty());  // malformed replies are never cached

    auto doc = Request();
    EXPECT_EQ(doc->LoadFromReply(nullptr, true, folder_), E_INVALIDARG);
    EXPECT_EQ(doc->ParseDom(nullptr), E_POINTER);
}

TEST_F(LyricsXml, DocumentTypeDefinitionsAreRefusedOutright) {
    // Ten levels of ten: a billion "lol"s if the parser expanded them.
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    bomb += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
    for (int i = 2; i <= 9; ++i) {
        std::string prev = "&lol" + std::to_string(i - 1) + ";";
        std::string body;
        for (int j = 0; j < 10; ++j) body += prev;
        bomb += "<!ENTITY lol" + std::to_string(i) + " \"" + body + "\">";
    }
    bomb += "]><r><title>&lol9;</title><lyric><l>&lol9;</l><l>b</l></lyric></r>";
    const std::string external =
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e SYSTEM \"file:///C:/windows/win.ini\">]>"
        "<r><title>&e;</title></r>";
    const std::string harmless = "<!DOCTYPE r><r><title>t</title></r>";
    const std::string late = "<?xml version=\"1.0\"?>\n<!-- about -->\n<!doctype r><r><title>t</title></r>";
    for (const std::string& reply : {bomb, external, harmless, late, "\xef\xbb\xbf" + harmless}) {
        auto doc = Request();
        const auto started = std::chrono::steady_clock::now();
        EXPECT_NE(doc->LoadFromReply(reply.c_str(), true, folder_), S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(doc->Title(), u"a/b:c");
        EXPECT_EQ(doc->LineCount(), 0);
    }
    EXPECT_TRUE(FilesInFolder().empty());
}

TEST_F(LyricsXml, LargeAndOddReplies) {
    std::string reply = "<r><lyric>";
    for (int i = 0; i < 10000; ++i) reply += "<l timing=\"" + KeyOneTiming(i) + "\">line " + std::to_string(i) + "</l>";
    reply += "</lyric></r>";
    auto doc = Request();
    ASSERT_EQ(doc->LoadFromReply(reply.c_str(), false), S_OK);
    ASSERT_EQ(doc->LineCount(), 10000);
    EXPECT_EQ(doc->status, LyricsStatus::Timed);
    EXPECT_EQ(doc->LineAt(9999)->text, u"line 9999");
    EXPECT_EQ(doc->LineAt(9999)->time, 9999.0);
    EXPECT_EQ(doc->LineAt(0)->time, 0.0);

    std::string longTiming = "<r><lyric><l timing=\"1" + std::string(200000, '5') + "_3\">a</l><l>b</l></lyric></r>";
    doc = Request();
    ASSERT_EQ(doc->LoadFromReply(longTiming.c_str(), false), S_OK);
    EXPECT_EQ(doc->LineAt(0)->time, 2147483647.0);

    // A UTF-8 byte-order mark in front of the reply is not text.
    doc = Request();
    ASSERT_EQ(
        doc->LoadFromReply("\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?><r><title>t</title></r>", false),
        S_OK);
    EXPECT_EQ(doc->Title(), u"t");

    // Bad UTF-8 becomes U+FFFD rather than failing the reply.
    doc = Request();
    ASSERT_EQ(doc->LoadFromReply("<r><title>a\xff"
                                 "b</title></r>",
                                 false),
              S_OK);
    EXPECT_EQ(doc->Title(), u"a\uFFFDb");
}

// A getLyricXML_2 reply names the track as asked.
const char kEchoReply[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<lyrics><title>a/b:c</title><artist>x?y</artist><album>Album</album><version>4</version>"
    "<lyric><line timing=\"335xyz073\">Hello</line><line>\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d world</line>"
    "<line timing=\"1234#1\">\xf0\x9f\x8e\xb5 &amp; &lt;more&gt;</line></lyric></lyrics>";

TEST_F(LyricsXml, CacheRoundTripWithTheKeysOfAFreshCopy) {
    auto request = Request();
    auto fetched = std::make_unique<LyricsDocument>(*request);
    ASSERT_EQ(fetched->LoadFromReply(kEchoReply, true, folder_), S_OK);
    ASSERT_EQ(fetched->LineCount(), 3);

    std::vector<std::u16string> files = FilesInFolder();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], u"[x%3Fy][a%2Fb%3Ac][][he].xml");
    const std::string saved = ReadWholeFile(folder_ + u"\\" + files[0]);
    EXPECT_NE(saved.find("<lyric>"), std::string::npos);
    EXPECT_NE(saved.find("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d"), std::string::npos);  // written as UTF-8

    auto cached = std::make_unique<LyricsDocument>(*request);
    ASSERT_EQ(cached->LoadFromCache(folder_), S_OK);
    ExpectSameLines(*fetched, *cached);
    EXPECT_EQ(cached->Version(), u"4");
    EXPECT_EQ(cached->Language(), u"he");

    // Other keys have no file.
    auto other = std::make_unique<LyricsDocument>(*request);
    other->SetLanguage(u"fr");
    other->AddLine(u"old", u"");
    EXPECT_NE(other->LoadFromCache(folder_), S_OK);
    EXPECT_EQ(other->LineCount(), 0);
    EXPECT_EQ(other->status, LyricsStatus::NotFound);
}

TEST_F(LyricsXml, TheCacheFileIsNamedByTheKeysAsTheReplyLeftThem) {
    auto request = Request();
    LyricsDocument fetched(*request);
    ASSERT_EQ(fetched.LoadFromReply(kFullReply, true, folder_), S_OK);
    std::vector<std::u16string> files = FilesInFolder();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], u"[Art][First & only][][he].xml");
    LyricsDocument again(fetched);
    ASSERT_EQ(again.LoadFromCache(folder_), S_OK);
    ExpectSameLines(fetched, again);
}

TEST_F(LyricsXml, EveryWellFormedReplyIsCachedWhateverItHolds) {
    auto doc = Request();
    ASSERT_EQ(doc->LoadFromReply("<r><songLock>t</songLock></r>", true, folder_), S_OK);
    EXPECT_EQ(FilesInFolder().size(), 1u);
    auto cached = Request();
    ASSERT_EQ(cached->LoadFromCache(folder_), S_OK);
    EXPECT_EQ(cached->SongLock(), u"t");
    EXPECT_EQ(cached->status, LyricsStatus::NotFound);
}

TEST_F(LyricsXml, KeysThatLookLikeUrlsStillNameTheirOwnFile) {
    // Loading by name would read "%41" as "A" and stop at "#".
    const std::u16string titles[] = {u"a%41", u"aA", u"C# minor", u"C", u"\u05e9\u05dc\U0001F3B5 [live]"};
    for (const std::u16string& title : titles) {
        auto doc = Request();
        doc->SetTitle(title);
        const std::string reply = "<r><lyric><l>" + Utf8FromUtf16(title) + "</l><l>2</l></lyric></r>";
        ASSERT_EQ(doc->LoadFromReply(reply.c_str(), true, folder_), S_OK);
    }
    EXPECT_EQ(FilesInFolder().size(), 5u);
    for (const std::u16string& title : titles) {
        auto doc = Request();
        doc->SetTitle(title);
        ASSERT_EQ(doc->LoadFromCache(folder_), S_OK);
        ASSERT_EQ(doc->LineCount(), 2);
        EXPECT_EQ(doc->LineAt(0)->text, title);
    }
}

TEST_F(LyricsXml, KeysWithoutASafeNameBypassTheCache) {
    auto doc = Request();
    doc->SetTitle(std::u16string(600, u't'));
    ASSERT_EQ(doc->LoadFromReply("<r><lyric><l>a</l><l>b</l></lyric></r>", true, folder_), S_OK);
    EXPECT_EQ(doc->LineCount(), 2);
    EXPECT_TRUE(FilesInFolder().empty());
    EXPECT_NE(doc->LoadFromCache(folder_), S_OK);
    wchar_t path[kCachePathCapacity];
    EXPECT_FALSE(doc->CachePath(path, true, folder_));
    EXPECT_EQ(path[0], L'\0');

    // A NUL would cut the name to "[x_y][a" on disk, which another song could own.
    auto a = Request();
    a->SetTitle(u"a");
    ASSERT_EQ(a->LoadFromReply("<r><lyric><l>mine</l><l>2</l></lyric></r>", true, folder_), S_OK);
    auto cut = Request();
    cut->SetTitle(std::u16string(u"a\0b", 3));
    ASSERT_EQ(cut->LoadFromReply("<r><lyric><l>other</l><l>2</l></lyric></r>", true, folder_), S_OK);
    EXPECT_NE(cut->LoadFromCache(folder_), S_OK);
    ASSERT_EQ(a->LoadFromCache(folder_), S_OK);
    EXPECT_EQ(a->LineAt(0)->text, u"mine");
}

constexpr char kKeysKept[] = "<r><lyric><l>a</l><l>b</l></lyric></r>";  // no title or artist of its own

TEST_F(LyricsXml, CachePathAndItsFolder) {
    auto doc = Request();
    wchar_t path[kCachePathCapacity];
    ASSERT_TRUE(doc->CachePath(path, false, folder_));
    const std::u16string name = AsU16(path);
    EXPECT_EQ(name, folder_ + u"\\[x%3Fy][a%2Fb%3Ac][][he].xml");

    // Only a write makes the folder, and its missing parents with it.
    const std::u16string deep = folder_ + u"\\no\\such";
    ASSERT_TRUE(doc->CachePath(path, false, deep));
    EXPECT_EQ(GetFileAttributesW(AsWide(deep.c_str())), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(doc->LoadFromReply(kKeysKept, true, deep), S_OK);
    ASSERT_EQ(Request()->LoadFromCache(deep), S_OK);
    ASSERT_TRUE(doc->CachePath(path, true, deep));  // an existing folder is fine
    DeleteFileW(path);
    RemoveDirectoryW(AsWide(deep.c_str()));
    RemoveDirectoryW(AsWide((folder_ + u"\\no").c_str()));

    // A save that cannot open its file is silent.
    EXPECT_EQ(doc->LoadFromReply(kFullReply, true, folder_ + u"\\bad|name"), S_OK);
}

// Without a folder given, the current user's own under their local application data, made by the
// first write. (Run under the "cachedir" lock: the plug-in tests use the same folder.)
TEST_F(LyricsXml, DefaultCacheIsTheUsersOwnAndMadeOnFirstWrite) {
    wchar_t local[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local), S_OK);
    const std::u16string parent = AsU16(local) + std::u16string(u"\\Sonavire");
    EXPECT_EQ(UserCacheFolder(), parent + u"\\Cache");
    auto doc = Request();
    wchar_t path[kCachePathCapacity];
    ASSERT_TRUE(doc->CachePath(path, false));
    DeleteFileW(path);
    RemoveDirectoryW(AsWide(UserCacheFolder().c_str()));
    RemoveDirectoryW(AsWide(parent.c_str()));  // fails, harmlessly, when other files are there
    ASSERT_EQ(doc->LoadFromReply(kKeysKept, true), S_OK);
    EXPECT_NE(GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(Request()->LoadFromCache(), S_OK);
    DeleteFileW(path);
}

TEST_F(LyricsXml, WorkersBuildTheirOwnDocumentsAtTheSameTime) {
    auto request = Request();
    std::vector<std::thread> workers;
    std::vector<int> failures(4, 0);
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            ScopedCoInit com(w % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
            for (int i = 0; i < 40; ++i) {
                LyricsDocument doc(*request);
                doc.SetLanguage(U16("w" + std::to_string(w)));
                const std::string reply = "<r><songLock>" + std::to_string(w) + "</songLock><lyric><l timing=\"" +
                                          KeyOneTiming(i + 1) + "\">" + std::to_string(i) + "</l><l>x</l></lyric></r>";
                if (doc.LoadFromReply(reply.c_str(), true, folder_) != S_OK || doc.LineCount() != 2 ||
                    doc.LineAt(0)->time != static_cast<double>(i + 1) || doc.SongLock() != U16(std::to_string(w)))
                    ++failures[w];
                LyricsDocument again(*request);
                again.SetLanguage(U16("w" + std::to_string(w)));
                if (again.LoadFromCache(folder_) != S_OK || again.LineCount() != 2 || again.LineAt(0)->time != i + 1)
                    ++failures[w];
            }
        });
    }
    for (std::thread& t : workers) t.join();
    for (int w = 0; w < 4; ++w) EXPECT_EQ(failures[w], 0) << "worker " << w;
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters);
    return counters.PagefileUsage;  // committed private memory; Wine leaves PrivateUsage at 0
}

// A DOM, node or string kept by mistake on any path would add up over thousands of loads.
TEST_F(LyricsXml, RepeatedLoadsKeepNothing) {
    std::string reply = "<r><title>t</title><lyric>";
    for (int i = 0; i < 40; ++i)
        reply += "<l timing=\"" + KeyOneTiming(i * 1000) + "\">words of line " + std::to_string(i) + "</l>";
    reply += "</lyric></r>";
    auto round = [&] {
        auto doc = Request();
        doc->SetTitle(u"t");
        EXPECT_EQ(doc->LoadFromReply(reply.c_str(), true, folder_), S_OK);
        EXPECT_EQ(doc->LoadFromCache(folder_), S_OK);
        EXPECT_EQ(doc->LoadFromReply("<r><lyric><l>broken", false), S_FALSE);
        EXPECT_NE(doc->LoadFromReply("<!DOCTYPE r><r/>", false), S_OK);
    };
    for (int i = 0; i < 150; ++i) round();
    const SIZE_T before = PrivateBytes();
    for (int i = 0; i < 1000; ++i) round();
    const SIZE_T after = PrivateBytes();
    EXPECT_LT(after, before + 4 * 1024 * 1024) << "grew by " << (after - before) / 1024 << " KiB";
}

// Mutates well-formed replies at random (fixed seed): whatever comes out must be a consistent
// document, and whatever was cached must read back as the same lines.
TEST_F(LyricsXml, GeneratedMutationsOfReplies) {
    const std::string seeds[] = {
        kFullReply,
        "<r><title>t</title><lyric><l timing=\"335xyz073\">a</l><l timing=\"1234#1\">b</l><l>c</l></lyric></r>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><lyrics><version>5</version><songLock>0</songLock>"
        "<lyric><![CDATA[x]]><!--y--><line timing=\"0\">\xd8\xb3\xd9\x84\xd8\xa7\xd9\x85</line></lyric></lyrics>",
    };
    const char* tokens[] = {"<",
                            ">",
                            "&",
                            "&amp;",
                            "\"",
                            "'",
                            "<lyric>",
                            "</lyric>",
                            "<l>",
                            "</l>",
                            " timing=\"",
                            "<!--",
                            "-->",
                            "<![CDATA[",
                            "]]>",
                            "<!DOCTYPE r [<!ENTITY e \"x\">]>",
                            "&e;",
                            "&#x5e9;",
                            "\xff",
                            "\xc3",
                            "\xf0\x9f\x8e\xb5",
                            "\xd7\xa9",
                            "<?pi?>",
                            "9",
                            "0",
                            "\n",
                            "<x/>"};
    std::mt19937 rng(1234567);
    int parsed = 0, refused = 0, roundTrips = 0;
    for (int i = 0; i < 2500; ++i) {
        std::string reply = seeds[rng() % 3];
        const int edits = 1 + static_cast<int>(rng() % 2);
        for (int e = 0; e < edits && !reply.empty(); ++e) {
            const size_t at = rng() % reply.size();
            switch (rng() % 6) {
                case 0:
                    reply[at] = static_cast<char>(1 + rng() % 255);
                    break;
                case 1:
                    reply.erase(at, 1 + rng() % 8);
                    break;
                case 2:
                    reply.insert(at, tokens[rng() % (sizeof tokens / sizeof tokens[0])]);
                    break;
                case 3:
                    reply.insert(at, reply.substr(rng() % reply.size(), rng() % 40));
                    break;
                case 4:
                    reply.resize(at);
                    break;
                case 5:
                    reply.insert(at, "<l timing=\"" + std::to_string(rng()) + "\">" +
                                         tokens[rng() % (sizeof tokens / sizeof tokens[0])] + "</l>");
                    break;
            }
        }
        auto doc = Request();
        doc->status = LyricsStatus::Final;  // a marker no load assigns: only ParseDom's codes may replace it
        const bool save = rng() % 4 == 0;
        const HRESULT hr = doc->LoadFromReply(reply.c_str(), save, folder_);
        if (hr != S_OK) {
            ++refused;
            ASSERT_EQ(doc->LineCount(), 0) << reply;
            ASSERT_EQ(doc->status, LyricsStatus::Final) << reply;
            continue;
        }
        ++parsed;
        const LyricsStatus status = doc->status;
        ASSERT_TRUE(status == LyricsStatus::Final || status == LyricsStatus::NotFound ||
                    status == LyricsStatus::Timed || status == LyricsStatus::Untimed)
            << reply;
        ASSERT_EQ(status == LyricsStatus::NotFound, doc->LineCount() == 0 && status != LyricsStatus::Final) << reply;
        if (save) {
            // Found again by the keys the reply left in the document.
            auto cached = std::make_unique<LyricsDocument>(*doc);
            cached->status = LyricsStatus::Final;
            ASSERT_EQ(cached->LoadFromCache(folder_), S_OK) << reply;
            ExpectSameLines(*doc, *cached);
            EXPECT_EQ(cached->Title(), doc->Title());
            ++roundTrips;
        }
    }
    EXPECT_GT(parsed, 100);
    EXPECT_GT(refused, 1000);
    EXPECT_GT(roundTrips, 25);
}

}  // namespace
}  // namespace sv
