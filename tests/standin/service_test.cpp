// The five lyrics-service requests and the community pages, against a running stand-in with the
// sample library (scripts/with-standin.sh).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "standin_client.h"
#include "standin_test_support.h"
#include "xml_reader.h"

using svtest::DecodeTiming;
using svtest::NineParameterQuery;

namespace {

const std::string kFetch = "/sonavire/services/getLyricXML_2";
const std::string kVersion = "/sonavire/services/getLyricVerXML.php";
const std::string kStore = "/sonavire/services/setLyrics.php";
const std::string kVerify = "/sonavire/services/appVerifyUser.php";
const std::string kLanguages = "/sonavire/services/getSupportedLanguages.php";

class StandinService : public ::testing::Test {
protected:
    void SetUp() override {
        client.ResetBehaviours();
        client.ClearRequests();
    }

    svtest::Node GetXml(const std::string& target) {
        const svtest::HttpReply reply = client.Send("GET", target);
        EXPECT_EQ(reply.status, 200) << target;
        EXPECT_NE(reply.Header("Content-Type").find("xml"), std::string::npos);
        std::string error;
        auto root = svtest::Parse(reply.body, &error);
        EXPECT_TRUE(root) << error << "\n" << reply.body;
        return root ? *root : svtest::Node{};
    }
    svtest::Node Fetch(const std::string& artist, const std::string& title, const std::string& lang = "") {
        return GetXml(kFetch + "?" + NineParameterQuery(artist, title, lang));
    }
    static std::string Text(const svtest::Node& root, const std::string& element) {
        const svtest::Node* found = root.Find(element);
        return found ? found->TextContent() : "(absent)";
    }
    // (time, text) of each line; time -1 for a line without a timing attribute.
    static std::vector<std::pair<long long, std::string>> Lines(const svtest::Node& root) {
        std::vector<std::pair<long long, std::string>> lines;
        const svtest::Node* lyric = root.Find("lyric");
        if (!lyric) return lines;
        for (const svtest::Node& child : lyric->children) {
            EXPECT_FALSE(child.isText) << "text between lines: '" << child.text << "'";
            EXPECT_EQ(child.name, "line");
            const std::string* timing = child.Attribute("timing");
            long long time = -1;
            if (timing) {
                const auto decoded = DecodeTiming(*timing);
                EXPECT_TRUE(decoded) << *timing;
                time = decoded.value_or(-2);
            }
            lines.emplace_back(time, child.TextContent());
        }
        return lines;
    }

    svtest::StandinClient client = svtest::StandinClient::FromEnvironment();
};

TEST_F(StandinService, FetchAnswersTheLibrarySongWithItsFactsAndTimedLines) {
    const auto root = Fetch("Blue Harbour", "Night Train");
    EXPECT_EQ(Text(root, "title"), "Night Train");
    EXPECT_EQ(Text(root, "artist"), "Blue Harbour");
    EXPECT_EQ(Text(root, "album"), "First Light");
    EXPECT_EQ(Text(root, "songLock"), "0");
    EXPECT_NE(Text(root, "version"), "");
    EXPECT_NE(Text(root, "version"), "(absent)");
    EXPECT_EQ(Text(root, "lastUpdate").size(), 19u);  // YYYY-MM-DD hh:mm:ss
    const auto lines = Lines(root);
    ASSERT_EQ(lines.size(), 44u);
    EXPECT_EQ(lines[0].first, 0);
    EXPECT_EQ(lines[1], std::make_pair(12000LL, std::string("The platform hums beneath the station light")));
    EXPECT_EQ(lines[43].first, 191000);
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_GT(lines[i].first, lines[i - 1].first);
}

TEST_F(StandinService, TimingsDecodeToTheSameTimesWhateverTheRandomKeys) {
    const auto reference = Lines(Fetch("Blue Harbour", "The Long Road"));
    ASSERT_EQ(reference.size(), 200u);
    EXPECT_EQ(reference[199].first, 5000 + 3000 * 199);
    std::set<char> keys;
    std::set<std::string> encodings;
    for (int round = 0; round < 20; ++round) {
        const auto root = Fetch("Blue Harbour", "The Long Road");
        EXPECT_EQ(Lines(root), reference);
        for (const svtest::Node* line : root.Find("lyric")->Elements()) {
            keys.insert((*line->Attribute("timing"))[0]);
            encodings.insert(*line->Attribute("timing"));
        }
    }
    EXPECT_EQ(keys.size(), 9u);
    EXPECT_GT(encodings.size(), 2000u);  // filler and keys change from reply to reply
}

TEST_F(StandinService, MatchesNamesWithoutRegardToCaseOrAlbum) {
    const auto root = GetXml(kFetch + "?" + NineParameterQuery("bLUE hARBOUR", "NIGHT train", "", "Some Other Album"));
    EXPECT_EQ(Text(root, "title"), "Night Train");
    EXPECT_EQ(Lines(root).size(), 44u);
    // Non-ASCII names, escaped as the plug-in escapes them (bytes of 0x80 and above only).
    const auto spanish = Fetch("Los Faros", "CANCI%C3%93N del Alba");
    EXPECT_EQ(Text(spanish, "title"), "Canci\xC3\xB3n del Alba");
    const auto hebrew =
        Fetch("%D7%9E%D7%A7%D7%94%D7%9C%D7%AA %D7%94%D7%90%D7%95%D7%A8", "%D7%A9%D7%99%D7%A8 %D7%A2%D7%A8%D7%91");
    const auto lines = Lines(hebrew);
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[0].second,
              "\xD7\x94\xD7\xA9\xD7\x9E\xD7\xA9 \xD7\x99\xD7\x95\xD7\xA8\xD7\x93\xD7\xAA "
              "\xD7\x90\xD7\x9C \xD7\x94\xD7\x99\xD7\x9D");
}

TEST_F(StandinService, UntimedSongsCarryNoTimingAttribute) {
    const auto lines = Lines(Fetch("Traditional", "Amazing Grace"));
    ASSERT_EQ(lines.size(), 20u);
    for (const auto& line : lines) EXPECT_EQ(line.first, -1) << line.second;
    EXPECT_EQ(lines[4].second, "'Twas grace that taught my heart to fear,");
}

TEST_F(StandinService, TextIsEscapedAndReadsBackExactly) {
    const svtest::HttpReply reply =
        client.Send("GET", kFetch + "?" + NineParameterQuery("The Escapes", "Rock %26 Roll"));
    EXPECT_NE(reply.body.find("<title>Rock &amp; Roll</title>"), std::string::npos);
    const auto root = *svtest::Parse(reply.body);
    EXPECT_EQ(Text(root, "album"), "<Angle> & \"Quotes\"");
    const auto lines = Lines(root);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1].second, "When the <amp> is on fire");
    EXPECT_EQ(lines[2].second, "She said \"louder\", I said 'yes'");
    EXPECT_EQ(lines[3].second, "Five > four & three < four");
}

TEST_F(StandinService, UnknownSongsGetAnEmptyLyricAndAnEmptyVersion) {
    const auto root = Fetch("Nobody", "Nothing");
    ASSERT_NE(root.Find("lyric"), nullptr);
    EXPECT_TRUE(root.Find("lyric")->children.empty());
    EXPECT_EQ(Text(root, "version"), "");
    EXPECT_EQ(root.Find("title"), nullptr);  // the request's own names stay as they were
    EXPECT_EQ(Text(GetXml(kVersion + "?" + NineParameterQuery("Nobody", "Nothing")), "version"), "");
    // Missing artist or title is the same as unknown.
    EXPECT_TRUE(Fetch("", "Night Train").Find("lyric")->children.empty());
    EXPECT_TRUE(GetXml(kFetch).Find("lyric")->children.empty());
}

TEST_F(StandinService, VersionRequestAnswersTheVersionOnly) {
    const std::string version = Text(Fetch("Traditional", "Auld Lang Syne"), "version");
    const auto root = GetXml(kVersion + "?" + NineParameterQuery("traditional", "auld lang syne"));
    EXPECT_EQ(Text(root, "version"), version);
    EXPECT_EQ(root.Find("lyric"), nullptr);
    EXPECT_EQ(root.Find("title"), nullptr);
}

TEST_F(StandinService, UploadedTimedTextBecomesTheNextVersion) {
    const std::string before = client.AddSongLrc("[ar:Upload Band]\n[ti:Retimed]\none\ntwo\nthree\n");
    const auto untimed = Fetch("Upload Band", "Retimed");
    EXPECT_EQ(Text(untimed, "version"), before);
    for (const auto& line : Lines(untimed)) EXPECT_EQ(line.first, -1);

    // The body as the plug-in sends it: entries back to back, one NUL byte at the end.
    const std::string body("[00:00.00] one[00:04.50] two[100:01.07] three\0", 46);
    const svtest::HttpReply stored =
        client.Send("POST", kStore + "?" + NineParameterQuery("upload band", "RETIMED"), body);
    EXPECT_EQ(stored.status, 200);
    const auto after = Fetch("Upload Band", "Retimed");
    const std::string version = Text(after, "version");
    EXPECT_NE(version, before);
    EXPECT_EQ(Text(GetXml(kVersion + "?" + NineParameterQuery("Upload Band", "Retimed")), "version"), version);
    EXPECT_EQ(Text(stored.body.empty() ? svtest::Node{} : *svtest::Parse(stored.body), "version"), version);
    const std::vector<std::pair<long long, std::string>> expected = {{0, "one"}, {4500, "two"}, {6001070, "three"}};
    EXPECT_EQ(Lines(after), expected);
    EXPECT_EQ(Text(after, "title"), "Retimed");  // the stored names, not the query's spelling

    // The same text again is still a new version.
    client.Send("POST", kStore + "?" + NineParameterQuery("Upload Band", "Retimed"), body);
    EXPECT_NE(Text(Fetch("Upload Band", "Retimed"), "version"), version);
}

TEST_F(StandinService, UploadsThatCannotBeStoredChangeNothing) {
    const std::string version = client.AddSongLrc("[ar:Upload Band]\n[ti:Kept]\n[00:01.00]a\n[00:02.00]b\n");
    EXPECT_EQ(
        client.Send("POST", kStore + "?" + NineParameterQuery("Upload Band", "Kept"), std::string("\0", 1)).status,
        400);
    EXPECT_EQ(client.Send("POST", kStore + "?" + NineParameterQuery("Upload Band", "Kept"), "no stamps").status, 400);
    EXPECT_EQ(client.Send("POST", kStore + "?" + NineParameterQuery("", "Kept"), "[00:01.00] a").status, 400);
    EXPECT_EQ(Text(Fetch("Upload Band", "Kept"), "version"), version);
    // An upload for a song nobody knew creates it.
    client.Send("POST", kStore + "?" + NineParameterQuery("New Band", "First Song", "", "Debut"),
                "[00:01.00] a[00:03.00] b");
    const auto created = Fetch("New Band", "First Song");
    EXPECT_EQ(Text(created, "album"), "Debut");
    EXPECT_EQ(Lines(created).size(), 2u);
}

TEST_F(StandinService, TranslationsAreServedForTheirLanguageAndRetimedSeparately) {
    const auto german = Lines(Fetch("Blue Harbour", "Night Train", "de"));
    ASSERT_EQ(german.size(), 44u);
    EXPECT_EQ(german[9].second, "Nachtzug, bring mich nach Haus");
    EXPECT_EQ(german[9].first, 46000);
    EXPECT_EQ(Lines(Fetch("Blue Harbour", "Night Train", "fr"))[9].second, "Train de nuit, ram\xC3\xA8ne-moi chez moi");
    // A language the song has no translation in gives the original words.
    EXPECT_EQ(Lines(Fetch("Blue Harbour", "Night Train", "xx"))[9].second, "Night train, carry me home");

    client.AddSongLrc("[ar:Upload Band]\n[ti:Bilingual]\n[00:01.00]one\n[00:02.00]two\n");
    client.AddSongLrc("[ar:Upload Band]\n[ti:Bilingual]\n[la:es]\n[ln:Espa\xC3\xB1ol]\n[00:01.00]uno\n[00:02.00]dos\n");
    const std::string original = Text(Fetch("Upload Band", "Bilingual"), "version");
    client.Send("POST", kStore + "?" + NineParameterQuery("Upload Band", "Bilingual", "es"),
                "[00:05.00] uno[00:07.00] dos");
    EXPECT_EQ(Lines(Fetch("Upload Band", "Bilingual", "es"))[0], std::make_pair(5000LL, std::string("uno")));
    EXPECT_EQ(Text(Fetch("Upload Band", "Bilingual"), "version"), original);
}

TEST_F(StandinService, LanguagesListTheTranslationsOfTheLibrary) {
    client.AddSongLrc("[ar:Language Band]\n[ti:Song]\n[la:it]\n[ln:Italiano]\n[00:01.00]uno\n[00:02.00]due\n");
    const svtest::HttpReply reply = client.Send("GET", kLanguages);
    const auto root = *svtest::Parse(reply.body);
    // The root's children are the languages, with no text nodes between them.
    std::map<std::string, std::string> languages;
    for (const svtest::Node& child : root.children) {
        ASSERT_FALSE(child.isText);
        ASSERT_NE(child.Attribute("code"), nullptr);
        languages[*child.Attribute("code")] = child.TextContent();
    }
    EXPECT_EQ(languages["de"], "Deutsch");
    EXPECT_EQ(languages["fr"],
              "Fran\xC3\xA7"
              "ais");
    EXPECT_EQ(languages["it"], "Italiano");
}

TEST_F(StandinService, VerifiesUsersAgainstItsStore) {
    client.AddUser("kestrel", "s3cret & more");
    const auto verify = [&](const std::string& query) { return client.Get(kVerify + "?" + query); };
    EXPECT_EQ(verify("username=kestrel&password=s3cret %26 more"), "true");
    EXPECT_EQ(verify("username=kestrel&password=s3cret+%26+more"), "true");
    EXPECT_EQ(verify("username=kestrel&password=wrong"), "false");
    EXPECT_EQ(verify("username=Kestrel&password=s3cret %26 more"), "false");
    EXPECT_EQ(verify("username=nobody&password="), "false");
    EXPECT_EQ(verify("username=&password="), "false");
    client.AddUser("kestrel", "changed");
    EXPECT_EQ(verify("username=kestrel&password=changed"), "true");
}

TEST_F(StandinService, RecordsEachRequestWithItsDecodedQuery) {
    const std::string body("[00:01.00] a\tb\nc\0", 17);
    client.Send("POST",
                kStore +
                    "?lang=&artist=Rock %26 Roll+Band&title=Canci%C3%B3n&album=a+b%2Bc&videoId=&vidSrc=&"
                    "user=&device=1000&resolution=1280x1024",
                body);
    client.Send("GET", kLanguages);
    const auto all = client.Requests();
    ASSERT_EQ(all.size(), 2u);  // control requests are not recorded
    const svtest::RecordedRequest& post = all[0];
    EXPECT_LT(post.seq, all[1].seq);
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.path, kStore);
    EXPECT_EQ(post.rawTarget.substr(kStore.size(), 38), "?lang=&artist=Rock %26 Roll+Band&title");
    EXPECT_EQ(post.body, body);
    EXPECT_EQ(post.QueryNames(), (std::vector<std::string>{"lang", "artist", "title", "album", "videoId", "vidSrc",
                                                           "user", "device", "resolution"}));
    EXPECT_EQ(post.Query("artist"), "Rock & Roll Band");
    EXPECT_EQ(post.Query("title"), "Canci\xC3\xB3n");
    EXPECT_EQ(post.Query("album"), "a b+c");
    EXPECT_TRUE(post.HasQuery("user"));
    EXPECT_EQ(post.Query("user"), "");
    EXPECT_FALSE(post.HasQuery("missing"));

    const auto languagesOnly = client.Requests(kLanguages);
    ASSERT_EQ(languagesOnly.size(), 1u);
    EXPECT_TRUE(languagesOnly[0].query.empty());
    EXPECT_EQ(languagesOnly[0].rawTarget, kLanguages);
    client.ClearRequests();
    EXPECT_TRUE(client.Requests().empty());
}

TEST_F(StandinService, CommunityPagesAnswerAtTheirAddresses) {
    const char* const pages[] = {"/",
                                 "/wiki/wmp/",
                                 "/wiki/wmp/lyricsAd.php",
                                 "/wiki/wmp/theatre.php",
                                 "/wiki/community-winmo/community-lyricSearch.php?artist=Blue Harbour&title=",
                                 "/wiki/community-winmo/community-top50.php?lang=",
                                 "/wiki/community-help-iphone.php",
                                 "/wiki/index.php/Special:Preferences",
                                 "/wiki/index.php/Help:WmpAbout",
                                 "/wiki/community-winmo/community-map?artist=x",
                                 "/wiki/wmp/wmp-map.php"};
    for (const char* page : pages) {
        const svtest::HttpReply reply = client.Send("GET", page);
        EXPECT_EQ(reply.status, 200) << page;
        EXPECT_NE(reply.Header("Content-Type").find("text/html"), std::string::npos) << page;
        EXPECT_NE(reply.body.find("</html>"), std::string::npos) << page;
    }
    EXPECT_EQ(client.Send("GET", "/wiki/no-such-page.php").status, 404);
    EXPECT_NE(
        client.Get("/wiki/community-winmo/community-lyricSearch.php?artist=blue harbour&title=").find("The Long Road"),
        std::string::npos);
}

TEST_F(StandinService, VideoPageDefinesThePageFunctionsInPlainScript) {
    const std::string page = client.Get("/wiki/wmp/");
    for (const char* function :
         {"OnMediaPlayerOpened(user, artist, title)", "OnMediaPlayerStarted()", "OnMediaPlayerStoped()",
          "OnMediaPlayerPaused()", "OnMediaPlayerEnded()", "stop()", "seekTo(seconds)", "getCurrentTime()"}) {
        EXPECT_NE(page.find(std::string("function ") + function), std::string::npos) << function;
    }
    for (const char* member :
         {"OnYouTubePlayOpen(", "OnYouTubePlayStart()", "OnYouTubePlayPause()", "OnYouTubePlayStop()",
          "OnYouTubePlayEnd()", "OnYouTubePositionChange()", "OnYouTubeShowLyrics(", "OnYouTubeGetMediaInfo(",
          "OnYouTubeSetUser(", "IsOskelSonavire"}) {
        EXPECT_NE(page.find(member), std::string::npos) << member;
    }
    // Nothing newer than ES3: Wine's JScript and old IE must run it.
    for (const char* modern : {"=>", "let ", "const ", "`", "class ", ".forEach(", ".indexOf(", "JSON.", "Date.now"}) {
        EXPECT_EQ(page.find(modern), std::string::npos) << modern;
    }
    // Library songs are offered as videos; names travel as \u escapes, safe in any page encoding.
    EXPECT_NE(page.find("\"Night Train\""), std::string::npos);
    EXPECT_NE(page.find("\"Canci\\u00F3n del Alba\""), std::string::npos);
}

TEST_F(StandinService, EditPageShowsTheSongAndStoresEdits) {
    const std::string page =
        client.Get("/wiki/wmp/editLyrics.php?" + NineParameterQuery("The Escapes", "Rock %26 Roll"));
    EXPECT_NE(page.find("The Escapes - Rock &amp; Roll"), std::string::npos);
    EXPECT_NE(page.find("[00:09.00]When the &lt;amp&gt; is on fire"), std::string::npos);
    EXPECT_NE(page.find("<td id=\"q-device\">1000</td>"), std::string::npos);

    const svtest::HttpReply saved = client.Send("POST", "/wiki/wmp/editLyrics.php",
                                                "artist=Editor+Band&title=Fresh&album=&lang=&lrc=" +
                                                    svtest::PercentEncode("[00:01.00]first\n[00:02.00]second\n"));
    EXPECT_EQ(saved.status, 200);
    EXPECT_NE(saved.body.find("Saved version"), std::string::npos);
    EXPECT_EQ(Lines(Fetch("Editor Band", "Fresh")).size(), 2u);
}

TEST_F(StandinService, ControlSongReplacesWithANewVersionAndRefusesBadText) {
    const std::string first = client.AddSongLrc("[ar:Control Band]\n[ti:Replaced]\n[00:01.00]old\n[00:02.00]old too\n");
    const std::string second =
        client.AddSongLrc("[ar:Control Band]\n[ti:Replaced]\n[00:01.00]new\n[00:02.00]new too\n");
    EXPECT_NE(first, second);
    EXPECT_EQ(Text(Fetch("Control Band", "Replaced"), "version"), second);
    EXPECT_EQ(Lines(Fetch("Control Band", "Replaced"))[0].second, "new");
    EXPECT_THROW(client.AddSongLrc("no tags at all"), std::runtime_error);
}

TEST(StandinClient, NeedsTheServerAddress) {
    const char* saved = getenv("SONAVIRE_STANDIN");
    const std::string address = saved ? saved : "";
    unsetenv("SONAVIRE_STANDIN");
    EXPECT_THROW(svtest::StandinClient::FromEnvironment(), std::runtime_error);
    setenv("SONAVIRE_STANDIN", "no-port", 1);
    EXPECT_THROW(svtest::StandinClient::FromEnvironment(), std::runtime_error);
    setenv("SONAVIRE_STANDIN", address.c_str(), 1);
    const svtest::StandinClient client = svtest::StandinClient::FromEnvironment();
    EXPECT_EQ(client.HostPort(), address);
    EXPECT_EQ(client.BaseUrl(), "http://" + address);
    EXPECT_THROW(svtest::StandinClient("127.0.0.1", 1).Get("/"), std::runtime_error);  // nothing listens there
}

}  // namespace
