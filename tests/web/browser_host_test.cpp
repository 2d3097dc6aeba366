// The browse pane's browser host against two controls nobody here wrote the container side of:
// Wine's own Web Browser object (created, activated in place, sized, destroyed; it shows no page)
// and the stand-in browser, which loads pages from the stand-in community site or from files and
// runs their scripts in JScript.
#include <windows.h>
#include <mshtmhst.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "base/utf.h"
#include "web_test_support.h"

namespace {

using namespace svtest;
using sv::CSVPluginBrowse;
using sv::CWebCustomSite;
using sv::UniqueVariant;

std::wstring Site() { return L"http://" + StandinHost(); }

TEST(WinesOwnBrowser, IsHostedActivatedInPlaceSizedAndDestroyed) {
    {
        PaneWindow window(500, 300);
        CSVPluginBrowse& pane = window.AddPane();
        ASSERT_TRUE(pane.Browser().HasControl());
        const HWND control = pane.Browser().ControlWindow();
        ASSERT_TRUE(control);
        EXPECT_EQ(pane.Hwnd(), GetParent(control));
        EXPECT_EQ(L"Shell Embedding", ClassOf(control));

        // Every WM_SIZE gives the control the pane's whole client area, at (0, 0).
        for (const SIZE size : {SIZE{320, 200}, SIZE{480, 120}}) {
            MoveWindow(pane.Hwnd(), 10, 10, size.cx, size.cy, TRUE);
            const RECT rect = RectInParent(control);
            EXPECT_EQ(0, rect.left);
            EXPECT_EQ(0, rect.top);
            EXPECT_EQ(size.cx, rect.right);
            EXPECT_EQ(size.cy, rect.bottom);
        }

        EXPECT_EQ(S_OK, pane.Browser().Navigate(L"about:blank"));
        sv::ComPtr<IDispatch> script;
        EXPECT_FALSE(pane.GetPageScript(script)) << "no HTML engine, no document";
        EXPECT_EQ(0.0, pane.PageGetCurrentTime());
        pane.PageSeekTo(0);
        EXPECT_EQ(1, CWebCustomSite::LiveCount());
    }
    PumpPending();
    EXPECT_EQ(0, CWebCustomSite::LiveCount()) << "the site goes with its control";
}

class StandinHostTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(standin_.Registered()); }
    sv::standin::ScopedStandinBrowser standin_;
    StandinKeyScope key_;
    BridgeScope bridge_;
    PaneWindow window_;
};

TEST_F(StandinHostTest, TheDocumentHostAsksForNoBorderAndHandsThePagesAnExternalObject) {
    CSVPluginBrowse& browse = window_.AddPane();
    CSVPluginBrowse& advert = window_.AddPane();
    ASSERT_TRUE(ShowPage(browse, Site() + L"/wiki/wmp/"));
    ASSERT_TRUE(ShowPage(advert, Site() + L"/wiki/wmp/lyricsAd.php"));
    sv::standin::StandinBrowser& theatre = *StandinIn(browse);
    EXPECT_EQ(L"Sonavire Video Theatre", theatre.Title());
    EXPECT_TRUE(theatre.ScriptErrors().empty()) << theatre.ScriptErrors()[0];
    EXPECT_EQ(DOCHOSTUIFLAG_NO3DBORDER, theatre.HostInfoFlags());
    EXPECT_EQ(1, theatre.ExternalRequests()) << "the theatre asks whether it runs in the plug-in";
    EXPECT_NE(std::wstring::npos, theatre.Text().find(L"Sonavire is listening.")) << theatre.Text();

    EXPECT_EQ(L"true", PageValue(advert, L"external.IsOskelSonavire"));
    EXPECT_EQ(L"true", PageValue(browse, L"window.external === external"));
    const long references = bridge_.bridge().ReferenceCount();
    EXPECT_GE(references, 2) << "each page's external object holds the bridge";
}

TEST_F(StandinHostTest, ThePagesTimersRunUntilThePageGoes) {
    CSVPluginBrowse& pane = window_.AddPane();
    ASSERT_TRUE(ShowPage(pane, WritePage(L"timers.htm",
                                         "<title>Timers</title><script>var ticks = 0, once = 0;"
                                         "var every = window.setInterval(function () { ticks++; }, 20);"
                                         "if (window.setTimeout) setTimeout(function () { once++; }, 20);"
                                         "</script><p id='x'>before</p>")));
    EXPECT_TRUE(PumpUntil([&] { return PageValue(pane, L"ticks >= 3 && once == 1") == L"true"; }, 5000));
    PageValue(pane, L"clearInterval(every), document.getElementById('x').textContent = 'after ' + once");
    const std::wstring stopped = PageValue(pane, L"ticks");
    PageValue(pane, L"later = 0, setInterval(function () { later++; }, 20)");
    EXPECT_TRUE(PumpUntil([&] { return PageValue(pane, L"later >= 3") == L"true"; }, 5000));
    EXPECT_EQ(stopped, PageValue(pane, L"ticks")) << "a cleared interval runs no more";
    EXPECT_EQ(L"Timers\nafter 1", StandinIn(pane)->Title() + L"\n" + StandinIn(pane)->Text());
}

}  // namespace

namespace {

using namespace svtest;

// A page that notes every page function the pane calls, with its arguments' types.
const char kRecordingPage[] = R"(<html><head><title>Recording page</title><script>
var calls = [];
function note(name, args) {
  var text = name;
  for (var i = 0; i < args.length; i++) { text += (i ? "," : ":") + typeof args[i] + " " + args[i]; }
  calls.push(text);
}
function OnMediaPlayerOpened() { note("opened", arguments); }
function OnMediaPlayerStarted() { note("started", arguments); }
function OnMediaPlayerStoped() { note("stopped", arguments); }
function OnMediaPlayerPaused() { note("paused", arguments); }
function OnMediaPlayerEnded() { note("ended", arguments); }
function stop() { note("stop", arguments); }
function seekTo() { note("seekTo", arguments); }
var answer = 12;
function getCurrentTime() { note("time", arguments); return answer; }
function fails() { throw new Error("broken"); }
function leaves() { external.OnYouTubePlayStop(); note("after the pane went", arguments); return 1; }
function spins() { external.OnYouTubePositionChange(); return 5; }
</script></head><body><p>Records the calls.</p></body></html>)";

class PageFunctionsTest : public StandinHostTest {
protected:
    void SetUp() override {
        StandinHostTest::SetUp();
        pane_ = &window_.AddPane();
        ASSERT_TRUE(ShowPage(*pane_, Site() + L"/recording.htm"));
    }
    std::wstring Calls() { return PageValue(*pane_, L"calls.join(' | ')"); }
    // On the community site, and on another site.
    sv::standin::ScopedServedPage served_{Site() + L"/recording.htm", kRecordingPage};
    const std::wstring foreign_ = L"http://localhost:" + StandinHost().substr(StandinHost().find(L':') + 1);
    sv::standin::ScopedServedPage foreignServed_{foreign_ + L"/recording.htm", kRecordingPage};
    CSVPluginBrowse* pane_ = nullptr;
};

TEST_F(PageFunctionsTest, TheEightWrappersCallThePagesFunctionsWithStrings) {
    pane_->PageMediaOpened(L"", L"Blue Harbour", L"Night Train");
    pane_->PageMediaStarted();
    pane_->PageMediaPaused();
    pane_->PageMediaStopped();
    pane_->PageMediaEnded();
    pane_->PageStop();
    pane_->PageSeekTo(0);
    EXPECT_EQ(12.0, pane_->PageGetCurrentTime());
    EXPECT_EQ(
        L"opened:string ,string Blue Harbour,string Night Train | started | paused | stopped | ended | stop | "
        L"seekTo:string 0 | time",
        Calls());

    // What "getCurrentTime" answers, as seconds.
    const struct {
        const wchar_t* answer;
        double seconds;
    } answers[] = {{L"7.25", 7.25},
                   {L"'3.5'", 3.5},
                   {L"'soon'", 0.0},
                   {L"undefined", 0.0},
                   {L"{valueOf: function () { return 9; }}", 0.0}};
    for (const auto& item : answers) {
        PageValue(*pane_, std::wstring(L"answer = ") + item.answer);
        EXPECT_EQ(item.seconds, pane_->PageGetCurrentTime())
            << sv::Utf8FromUtf16(sv::AsU16View(item.answer, wcslen(item.answer)));
    }
    UniqueVariant result;
    EXPECT_FALSE(pane_->CallPageFunction(L"fails", {}, result.get())) << "a script error is a failed call";
    EXPECT_FALSE(pane_->CallPageFunction(L"OnMediaPlayerStopped", {})) << "no such function";

    // Another site's page hears that playback started, not what plays nor who listens.
    ASSERT_TRUE(ShowPage(*pane_, foreign_ + L"/recording.htm"));
    pane_->PageMediaOpened(L"kestrel", L"Blue Harbour", L"Night Train");
    pane_->PageMediaStarted();
    EXPECT_EQ(L"started", Calls());
}

TEST_F(PageFunctionsTest, APageThatDefinesNoneOfTheFunctionsRaisesNothing) {
    const std::wstring offline = ExecutableFolder() + L"Offline\\OfflineSV.htm";
    ASSERT_TRUE(ShowPage(*pane_, offline));
    sv::standin::StandinBrowser& browser = *StandinIn(*pane_);
    EXPECT_EQ(L"Sonavire is offline", browser.Title());
    EXPECT_NE(std::wstring::npos, browser.Text().find(L"What to do:"));
    pane_->PageMediaOpened(L"kestrel", L"Blue Harbour", L"Night Train");
    pane_->PageMediaStarted();
    pane_->PageMediaPaused();
    pane_->PageMediaStopped();
    pane_->PageMediaEnded();
    pane_->PageStop();
    pane_->PageSeekTo(0);
    EXPECT_EQ(0.0, pane_->PageGetCurrentTime());
    EXPECT_TRUE(browser.ScriptErrors().empty());
    EXPECT_TRUE(bridge_.target.events.empty());
}

TEST_F(PageFunctionsTest, APaneEndedDuringItsOwnPageCallGoesQuietly) {
    bridge_.target.onEvent = [&](const std::string&) { window_.DestroyPanes(); };
    UniqueVariant result;
    CSVPluginBrowse* pane = pane_;
    pane_ = nullptr;
    EXPECT_TRUE(pane->CallPageFunction(L"leaves", {}, result.get()));
    EXPECT_EQ(VT_I4, result->vt);
    EXPECT_EQ(std::vector<std::string>{"stop"}, bridge_.target.events);
    PumpPending();
    EXPECT_TRUE(sv::standin::LiveStandinBrowsers().empty());
    EXPECT_EQ(0, CWebCustomSite::LiveCount());
}

TEST_F(PageFunctionsTest, APageAnsweringEachPositionReadWithAPositionChangeIsCutShort) {
    // The plug-in reads the position on every position change, and the page's "getCurrentTime"
    // reports a position change each time it is read.
    int reads = 0;
    bridge_.target.onEvent = [&](const std::string&) {
        ++reads;
        UniqueVariant inner;
        pane_->CallPageFunction(L"spins", {}, inner.get());
    };
    UniqueVariant result;
    EXPECT_TRUE(pane_->CallPageFunction(L"spins", {}, result.get()));
    EXPECT_EQ(5, result->lVal);
    EXPECT_LE(reads, CSVPluginBrowse::kMostNestedPageCalls);
    EXPECT_GE(reads, 1);
    bridge_.target.onEvent = nullptr;
    bridge_.target.events.clear();
    EXPECT_EQ(L"1", PageValue(*pane_, L"leaves()")) << "the bridge and the page still work";
    EXPECT_EQ(std::vector<std::string>{"stop"}, bridge_.target.events);
}

}  // namespace
