// window.external as pages see it: the bridge's names, its members' actions and answers, called
// from real JScript both as JScript calls a host object (DISPATCH_METHOD alone, arguments by
// value) and as a browser does (the stand-in browser: DISPATCH_METHOD | DISPATCH_PROPERTYGET,
// arguments by reference); and the track and the credentials, which only the top-level document
// of a pane showing a trusted page sees: not a frame, not a foreign page, not a page whose pane
// is gone.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf.h"
#include "settings/settings.h"
#include "web/page_trust.h"
#include "web_test_support.h"

namespace {

using namespace svtest;
using sv::CWebIDispatch;

std::string Snapshot(const sv::LyricsDocument& page) {
    const auto text = [](const std::u16string& value) { return sv::Utf8FromUtf16(value); };
    return text(page.Artist()) + "|" + text(page.Title()) + "|" + text(page.VideoId()) + "|" + text(page.Language()) +
           "|" + text(page.Album()) + "|" + std::to_string(static_cast<int>(page.sourceKind)) + "|" +
           std::to_string(static_cast<int>(page.status));
}

TEST(ScriptBridge, NamesAreExactAndEveryNameIsLookedUp) {
    BridgeScope scope;
    CWebIDispatch& bridge = scope.bridge();
    LPOLESTR lower = const_cast<LPOLESTR>(L"isoskelsonavire");
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, bridge.GetIDsOfNames(IID_NULL, &lower, 1, 0, &id));
    EXPECT_EQ(DISPID_UNKNOWN, id);
    LPOLESTR pair[] = {const_cast<LPOLESTR>(L"Nobody"), const_cast<LPOLESTR>(L"OnYouTubePlayStart")};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, bridge.GetIDsOfNames(IID_NULL, pair, 2, 0, ids));
    EXPECT_EQ(DISPID_UNKNOWN, ids[0]);
    EXPECT_EQ(3, ids[1]) << "a miss does not stop the lookup";

    sv::ComPtr<IDispatch> dispatch;
    EXPECT_EQ(S_OK, bridge.QueryInterface(IID_IDispatch, dispatch.put_void()));
    EXPECT_EQ(static_cast<IDispatch*>(&bridge), dispatch.get());
    void* other = &bridge;
    EXPECT_EQ(E_NOINTERFACE, bridge.QueryInterface(IID_IPersist, &other));
    EXPECT_EQ(nullptr, other);
}

TEST(ScriptBridge, ReleasedBelowZeroItStillWorks) {
    BridgeScope scope;
    CWebIDispatch& bridge = scope.bridge();
    EXPECT_EQ(1u, bridge.AddRef());
    EXPECT_EQ(0u, bridge.Release());
    EXPECT_EQ(static_cast<ULONG>(-1), bridge.Release());
    bridge.Release();
    EXPECT_EQ(-2, bridge.ReferenceCount());
    // A later page still gets a working object.
    ScriptHost page;
    page.AddItem(L"external", &bridge);
    ASSERT_TRUE(page.Start());
    std::wstring answer;
    EXPECT_TRUE(page.Run(L"external.IsOskelSonavire()", &answer));
    EXPECT_EQ(L"true", answer);
    EXPECT_TRUE(page.Run(L"external.OnYouTubePlayStart()"));
    EXPECT_EQ(std::vector<std::string>{"play"}, scope.target.events);
}

// One test body per caller: JScript's own calls, and a browser's.
enum class Caller { kJScript, kBrowser };

class BridgeMembers : public testing::TestWithParam<Caller> {
protected:
    void SetUp() override {
        sv::Settings().SetCredentials(L"kestrel", L"s3cret");
        scope_.bridge().PageDocument().Reset();
        scope_.target.request.SetArtist(u"Blue Harbour");
        scope_.target.request.SetTitle(u"Night Train");
        scope_.target.request.SetAlbum(u"First Light");
        scope_.target.request.SetLanguage(u"de");
        if (GetParam() == Caller::kJScript) {
            script_.AddItem(L"external", &scope_.bridge());
            ASSERT_TRUE(script_.Start());
        } else {
            ASSERT_TRUE(standin_.Registered());
            pane_ = &window_.AddPane();
            ASSERT_TRUE(ShowPage(*pane_, L"about:blank"));
        }
    }
    std::wstring Evaluate(const std::wstring& expression) {
        std::wstring value;
        if (GetParam() == Caller::kJScript) {
            EXPECT_TRUE(script_.Run(L"(function () { " + expression + L" })()", &value));
        } else {
            EXPECT_TRUE(StandinIn(*pane_)->RunScript(L"(function () { " + expression + L" })()", &value));
        }
        return value;
    }

    StandinKeyScope key_;
    BridgeScope scope_;
    ScriptHost script_;
    sv::standin::ScopedStandinBrowser standin_;
    PaneWindow window_;
    sv::CSVPluginBrowse* pane_ = nullptr;
};

TEST_P(BridgeMembers, EachMemberActsAndAnswersAsThePagesExpect) {
    const std::string untouched = "|||||0|-1";
    const struct {
        const wchar_t* code;
        std::vector<std::string> events;
        const wchar_t* value;
        std::string page;
    } cases[] = {
        {L"return external.IsOskelSonavire();", {}, L"true", untouched},
        {L"return external.OnYouTubePlayStart;", {}, L"true", untouched},  // read, not called
        {L"external.OnYouTubePlayStart();", {"play"}, L"", untouched},
        {L"external.OnYouTubePlayPause();", {"pause"}, L"", untouched},
        {L"external.OnYouTubePlayStop();", {"stop"}, L"", untouched},
        {L"external.OnYouTubePlayEnd();", {"end"}, L"", untouched},
        {L"external.OnYouTubePositionChange();", {"position"}, L"", untouched},
        {L"external.OnYouTubeShowLyrics(false); external.OnYouTubeShowLyrics(true);", {"hide", "show"}, L"", untouched},
        {L"external.OnYouTubeShowLyrics(2); external.OnYouTubeShowLyrics(0); external.OnYouTubeShowLyrics(0.5);",
         {"show", "hide", "show"},
         L"",
         untouched},
        {L"external.OnYouTubeShowLyrics(''); external.OnYouTubeShowLyrics('no'); external.OnYouTubeShowLyrics(null);"
         L"external.OnYouTubeShowLyrics();",
         {"hide", "show", "hide"},
         L"",
         untouched},
        {L"external.OnYouTubePlayOpen('Traditional', 'Amazing Grace');",
         {"open"},
         L"",
         "Traditional|Amazing Grace||||2|-3"},
        {L"external.OnYouTubePlayOpen('Blue Harbour', 'Night Train', 'sv01', 'fr');",
         {"open"},
         L"",
         "Blue Harbour|Night Train|sv01|fr||2|-3"},
        // Three arguments: the track stays, the album goes and the open event comes all the same.
        {L"external.OnYouTubePlayOpen('A', 'B', 'v1', 'de'); external.OnYouTubePlayOpen('X', 'Y', 'v2');",
         {"open", "open"},
         L"",
         "A|B|v1|de||2|-3"},
        {L"external.OnYouTubePlayOpen(1999, null);", {"open"}, L"", "1999|||||2|-3"},
        // No trusted page is shown: the track and the credentials read empty.
        {L"var a = ['TRACK_ARTIST', 'word', 'sys_version']; external.OnYouTubeGetMediaInfo(a); return a.join('|');",
         {},
         L"|word|0.1.01.53",
         untouched},
        {L"var a = ['track_title', 'Track_Album', 'track_lang', 'sys_type', 'user_name', 'user_password', 7];"
         L"external.OnYouTubeGetMediaInfo(a); return a.join('|');",
         {},
         L"|||1000|||7",
         untouched},
        {L"try { external.isoskelsonavire(); return 'called'; } catch (e) { return 'refused'; }",
         {},
         L"refused",
         untouched},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(sv::Utf8FromUtf16(sv::AsU16View(item.code, wcslen(item.code))));
        scope_.target.events.clear();
        scope_.bridge().PageDocument().Reset();
        EXPECT_EQ(item.value, Evaluate(item.code));
        EXPECT_EQ(item.events, scope_.target.events);
        EXPECT_EQ(item.page, Snapshot(scope_.bridge().PageDocument()));
    }
    // Elsewhere than on the community site the credentials stay as they were.
    Evaluate(L"external.OnYouTubeSetUser('mallory', 'taken');");
    EXPECT_STREQ(L"kestrel", sv::Settings().userName);
    EXPECT_EQ(L"s3cret", sv::Settings().RevealPassword());
}

TEST_P(BridgeMembers, WithoutAPlugInObjectOnlyThePageDocumentChanges) {
    scope_.live = false;
    EXPECT_EQ(L"|x|1000", Evaluate(L"var a = ['track_artist', 'x', 'sys_type']; external.OnYouTubeGetMediaInfo(a);"
                                   L"external.OnYouTubePlayStart(); external.OnYouTubePlayOpen('A', 'B');"
                                   L"return a.join('|');"));
    EXPECT_TRUE(scope_.target.events.empty());
    EXPECT_EQ("A|B||||2|-3", Snapshot(scope_.bridge().PageDocument()));
}

INSTANTIATE_TEST_SUITE_P(Callers, BridgeMembers, testing::Values(Caller::kJScript, Caller::kBrowser),
                         [](const testing::TestParamInfo<Caller>& info) {
                             return info.param == Caller::kJScript ? "CalledByJScript" : "CalledByABrowser";
                         });

TEST(PageTrust, OnlyTheCommunityHostAndTheInstalledOfflinePagesAreTrusted) {
    const struct {
        const wchar_t* location;
        const wchar_t* host;
        bool trusted;
    } cases[] = {
        {L"http://127.0.0.1:8080/wiki/wmp/", L"127.0.0.1:8080", true},
        {L"HTTP://Community.Sonavire.Example/wiki/wmp/lyricsAd.php", L"community.sonavire.example", true},
        {L"http://community.sonavire.example:80/", L"community.sonavire.example", true},
        {L"http://community.sonavire.example:8080/", L"community.sonavire.example", false},
        {L"http://localhost:8080/wiki/wmp/", L"127.0.0.1:8080", false},
        {L"http://community.sonavire.example.evil.example/", L"community.sonavire.example", false},
        {L"http://community.sonavire.example@evil.example/", L"community.sonavire.example", false},
        {L"http://evil.example/?community.sonavire.example", L"community.sonavire.example", false},
        {L"about:blank", L"community.sonavire.example", false},
        {L"file:///C:/Program%20Files/Sonavire/Offline/OfflineSV.htm", L"x", true},
        {L"file:///c:/program%20files/sonavire/offline/OFFLINEAD.HTM", L"x", true},
        {L"C:\\Program Files\\Sonavire\\Offline\\OfflineSV.htm", L"x", true},
        {L"file:///C:/Program%20Files/Sonavire/Offline/Other.htm", L"x", false},
        {L"file:///C:/Program%20Files/Sonavire/Offline/../Offline/OfflineSV.htm", L"x", false},
        {L"file:///C:/Program%20Files/Sonavire/Offline/OfflineSV.htm%00.js", L"x", false},
        // A host configured with its scheme: "https://" admits no page that came in the clear.
        {L"https://community.sonavire.example/wiki/", L"https://community.sonavire.example", true},
        {L"https://community.sonavire.example:443/", L"HTTPS://community.sonavire.example", true},
        {L"http://community.sonavire.example/wiki/", L"https://community.sonavire.example", false},
        {L"https://community.sonavire.example/", L"http://community.sonavire.example", true},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(item.trusted, sv::IsTrustedPageLocation(item.location, item.host))
            << sv::Utf8FromUtf16(sv::AsU16View(item.location, wcslen(item.location)));
    }
}

class Credentials : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(standin_.Registered());
        sv::Settings().SetCredentials(L"kestrel", L"s3cret");
    }
    std::wstring ReadCredentials(sv::CSVPluginBrowse& pane) {
        return PageValue(pane,
                         L"(function () { var a = ['user_name', 'USER_PASSWORD'];"
                         L"external.OnYouTubeGetMediaInfo(a); return a.join('|'); })()");
    }
    void HandOver(sv::CSVPluginBrowse& pane, const wchar_t* name, const wchar_t* password) {
        PageValue(pane, std::wstring(L"external.OnYouTubeSetUser('") + name + L"', '" + password + L"')");
    }
    std::wstring Stored() { return std::wstring(sv::Settings().userName) + L"|" + sv::Settings().RevealPassword(); }
    std::wstring Community() { return L"http://" + StandinHost(); }
    // The same server under another name is another site.
    std::wstring Foreign() { return L"http://localhost:" + StandinHost().substr(StandinHost().find(L':') + 1); }

    sv::standin::ScopedStandinBrowser standin_;
    StandinKeyScope key_;
    BridgeScope scope_;
    PaneWindow window_;
};

TEST_F(Credentials, AreAnsweredToTheCommunityPageAndNotToAForeignOne) {
    const std::wstring community = Community();
    const std::wstring foreign = Foreign();
    RECT top{0, 0, 640, 300}, bottom{0, 300, 640, 480};
    sv::CSVPluginBrowse& browse = window_.AddPane(&top);
    sv::CSVPluginBrowse& advert = window_.AddPane(&bottom);
    ASSERT_TRUE(ShowPage(browse, community + L"/wiki/wmp/"));
    ASSERT_TRUE(ShowPage(advert, community + L"/wiki/wmp/lyricsAd.php"));
    EXPECT_EQ(L"kestrel|s3cret", ReadCredentials(browse));
    PageValue(browse, L"external.OnYouTubeSetUser('wren'), external.OnYouTubeSetUser('wren', null)");
    EXPECT_EQ(L"kestrel|s3cret", Stored()) << "a name alone, or without a password text, changes nothing";
    HandOver(browse, L"wren", L"n3w");
    EXPECT_EQ(L"wren|n3w", Stored());

    // The advert pane follows a link elsewhere: its page gets nothing and replaces nothing, and
    // neither does it get the track; the browse pane's page still gets them.
    ASSERT_TRUE(ShowPage(advert, foreign + L"/wiki/wmp/"));
    EXPECT_EQ(L"|", ReadCredentials(advert));
    HandOver(advert, L"mallory", L"taken");
    EXPECT_EQ(L"wren|n3w", Stored());
    EXPECT_EQ(L"wren|n3w", ReadCredentials(browse));
    scope_.target.request.SetArtist(u"Blue Harbour");
    const wchar_t kTrack[] =
        L"(function () { var a = ['track_artist']; external.OnYouTubeGetMediaInfo(a); return a[0]; })()";
    EXPECT_EQ(L"", PageValue(advert, kTrack));
    EXPECT_EQ(L"Blue Harbour", PageValue(browse, kTrack));

    // Back on the community site, they are answered again.
    ASSERT_TRUE(ShowPage(advert, community + L"/wiki/wmp/lyricsAd.php"));
    EXPECT_EQ(L"wren|n3w", ReadCredentials(advert));
}

// A trusted page framing a foreign page and one of its own site's: each frame runs its own
// scripts with window.external from the same pane, and asks at once and again later.
TEST_F(Credentials, AFrameGetsNothingAndReplacesNothingWhileItsTrustedPageDoes) {
    const char kFrame[] =
        "<script>var got = ['user_name', 'user_password', 'track_title'];"
        "external.OnYouTubeGetMediaInfo(got); external.OnYouTubeSetUser('mallory', 'taken');</script>";
    const std::wstring top = Community() + L"/framing.htm";
    sv::standin::ScopedServedPage pages[] = {
        {Foreign() + L"/frame.htm", kFrame},
        {Community() + L"/frame.htm", kFrame},
        {top, "<title>Framing</title><iframe src='" + sv::Utf8FromUtf16(sv::AsU16(Foreign().c_str())) +
                  "/frame.htm'></iframe><iframe src='" + sv::Utf8FromUtf16(sv::AsU16(Community().c_str())) +
                  "/frame.htm'></iframe>"}};
    scope_.target.request.SetTitle(u"Night Train");
    sv::CSVPluginBrowse& pane = window_.AddPane();
    ASSERT_TRUE(ShowPage(pane, top));
    sv::standin::StandinBrowser& browser = *StandinIn(pane);
    for (size_t frame : {0u, 1u}) {
        std::wstring got;
        ASSERT_TRUE(browser.RunFrameScript(frame, L"got.join('|')", &got));
        EXPECT_EQ(L"||", got) << "frame " << frame;
        browser.RunFrameScript(frame,
                               L"got = ['user_name', 'user_password', 'track_title'],"
                               L"external.OnYouTubeGetMediaInfo(got), external.OnYouTubeSetUser('eve', 'x')");
        browser.RunFrameScript(frame, L"got.join('|')", &got);
        EXPECT_EQ(L"||", got) << "frame " << frame;
    }
    EXPECT_EQ(L"kestrel|s3cret", Stored());
    EXPECT_EQ(L"kestrel|s3cret", ReadCredentials(pane));
    EXPECT_EQ(L"Night Train", PageValue(pane,
                                        L"(function () { var a = ['track_title'];"
                                        L"external.OnYouTubeGetMediaInfo(a); return a[0]; })()"));
}

// Each pane hands its pages an external object of its own; a page that keeps it after its pane
// is gone may still call it, and gets answers but no action, no track and no credentials.
TEST_F(Credentials, EachPaneHasItsOwnExternalWhichGoesQuietWithThePane) {
    const long before = scope_.bridge().ReferenceCount();
    sv::CSVPluginBrowse& browse = window_.AddPane();
    sv::CSVPluginBrowse& advert = window_.AddPane();
    ASSERT_TRUE(ShowPage(browse, Community() + L"/wiki/wmp/lyricsAd.php"));
    sv::ComPtr<IDispatch> first, again, other;
    ASSERT_TRUE(StandinIn(browse)->AskExternal(first.put()));
    ASSERT_TRUE(StandinIn(browse)->AskExternal(again.put()));
    ASSERT_TRUE(StandinIn(advert)->AskExternal(other.put()));
    EXPECT_EQ(first.get(), again.get());
    EXPECT_NE(first.get(), other.get());
    other.reset();
    again.reset();

    window_.DestroyPanes();
    PumpPending();
    EXPECT_GT(scope_.bridge().ReferenceCount(), before) << "the module stays while a page holds its external";
    {
        ScriptHost page;
        page.AddItem(L"external", first.get());
        ASSERT_TRUE(page.Start());
        std::wstring value;
        EXPECT_TRUE(page.Run(L"external.IsOskelSonavire()", &value));
        EXPECT_EQ(L"true", value);
        EXPECT_TRUE(
            page.Run(L"(function () { var a = ['user_name', 'sys_version'];"
                     L"external.OnYouTubeGetMediaInfo(a); external.OnYouTubePlayStart();"
                     L"external.OnYouTubeSetUser('mallory', 'taken'); return a.join('|'); })()",
                     &value));
        EXPECT_EQ(L"user_name|sys_version", value);
        EXPECT_TRUE(scope_.target.events.empty());
        EXPECT_EQ(L"kestrel|s3cret", Stored());
    }
    first.reset();
    EXPECT_EQ(before, scope_.bridge().ReferenceCount());
}

}  // namespace
