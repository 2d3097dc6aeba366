// The video theatre end to end: the plug-in object and its main window (built into this test from
// the same code as Sonavire.dll) inside the stand-in player, the community site's theatre page
// loaded from the stand-in by the stand-in browser in the browse pane, and the script bridge the
// module's application object made. The page drives the lyrics exactly as the player does.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/com_ptr.h"
#include "base/module_lock.h"
#include "base/utf.h"
#include "dll/application.h"
#include "lyrics/lyrics_document.h"
#include "main_window/plugin_window.h"
#include "player_engine.h"
#include "player_window.h"
#include "plugin/sonavire.h"
#include "plugin_test_support.h"
#include "standin_browser.h"
#include "standin_client.h"

namespace {

using namespace svtest;
using sv::CSVPluginWindow;
using sv::LyricsDocument;
using sv::standin::PlayerEngine;
using sv::standin::PlayerWindow;
using sv::standin::Track;

class TheatreTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(standin_.Registered());
        ASSERT_EQ(0, sv::ModuleLockCount());
        ASSERT_NE(nullptr, sv::Application().ScriptBridge());
        sv::Application().ScriptBridge()->PageDocument().Reset();
        engine_ = std::make_unique<PlayerEngine>([this] { return clock_; });
        engine_->SetPlaylist({Track::Audio(L"Traditional", L"Auld Lang Syne", L"", 60.0)});
        player_ = std::make_unique<PlayerWindow>(GetModuleHandleW(nullptr), *engine_);
        RECT frame{40, 40, 840, 640};
        ASSERT_TRUE(player_->Create(&frame, true));
        // Lookups keep their cache files in a folder of this test's own.
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        cacheFolder_ = std::wstring(temp) + L"sonavire-theatre-tests-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(cacheFolder_.c_str(), nullptr);
        sv::MainWindowOptions options;
        options.isConnected = [] { return true; };
        options.cacheFolder = sv::AsU16(cacheFolder_.c_str());
        options.scriptBridge = sv::Application().ScriptBridge();
        ASSERT_EQ(S_OK, CSonavire::CreateInstance(sv::kIidWmpPluginUi, plugin_.put_void(), std::move(options)));
        ASSERT_EQ(S_OK, player_->LoadPluginObject(plugin_.get()));
        ASSERT_TRUE(PumpUntil([&] { return Theatre() && Theatre()->CompletedLoads() > 0 && !Theatre()->Loading(); }));
        ASSERT_EQ(L"Sonavire Video Theatre", Theatre()->Title());
    }
    void TearDown() override {
        plugin_.reset();
        player_.reset();
        engine_.reset();
        EXPECT_TRUE(PumpUntil([] { return sv::ModuleLockCount() == 0; }, 15000));
        EXPECT_FALSE(sv::PagesHoldScriptBridge()) << "the pages gave window.external back: the module may unload";
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((cacheFolder_ + L"\\*.xml").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
            DeleteFileW((cacheFolder_ + L"\\" + found.cFileName).c_str());
        }
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        RemoveDirectoryW(cacheFolder_.c_str());
    }

    CSVPluginWindow& Window() { return *static_cast<CSonavire*>(plugin_.get())->Window(); }
    // The stand-in browser in the browse pane.
    sv::standin::StandinBrowser* Theatre() {
        for (sv::standin::StandinBrowser* browser : sv::standin::LiveStandinBrowsers()) {
            if (GetParent(browser->Window()) == Window().BrowsePane().Hwnd()) return browser;
        }
        return nullptr;
    }
    // Calls one of the page's own controls, as a click on it does.
    std::wstring Page(const wchar_t* function, const std::vector<std::wstring>& arguments = {}) {
        sv::UniqueVariant result;
        EXPECT_TRUE(Window().BrowsePane().CallPageFunction(function, arguments, result.get())) << function;
        return result->vt == VT_BSTR ? std::wstring(result->bstrVal, SysStringLen(result->bstrVal)) : std::wstring();
    }
    bool WaitForShown(const std::u16string& title, sv::MediaSource sourceKind) {
        return PumpUntil([&] {
            const LyricsDocument* shown = Window().ShownDocument();
            return shown && shown->Title() == title && shown->sourceKind == sourceKind;
        });
    }
    int CurrentLine() { return Window().LyricsPane().CurrentLine(); }

    sv::standin::ScopedStandinBrowser standin_;
    StandinKeyScope key_;
    svtest::StandinClient service_ = svtest::StandinClient::FromEnvironment();
    std::wstring cacheFolder_;
    double clock_ = 5.0;  // the player's clock stands still: every position here is the page's
    std::unique_ptr<PlayerEngine> engine_;
    std::unique_ptr<PlayerWindow> player_;
    sv::ComPtr<IWMPPluginUI> plugin_;
};

TEST_F(TheatreTest, TheVideoPageDrivesTheLyricsAsThePlayerDoes) {
    EXPECT_NE(std::wstring::npos, Theatre()->Text().find(L"Sonavire is listening."));

    // The page opens a video: its track is looked up, marked as the page's.
    Page(L"theatreOpen", {L"Blue Harbour", L"Night Train", L"sv01", L""});
    ASSERT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::VideoPage));
    const auto fetches = service_.WaitForRequests("/sonavire/services/getLyricXML_2", 1);
    ASSERT_FALSE(fetches.empty());
    EXPECT_EQ("sv01", fetches.back().Query("videoId"));
    EXPECT_EQ("youtube", fetches.back().Query("vidSrc"));

    // Paused and moved to 20 s: the line of 16.2 s shows.
    Page(L"theatrePlay");
    Page(L"theatrePause");
    EXPECT_EQ(sv::PlaybackMode::Paused, Window().LyricsPane().Mode());
    Page(L"theatreSeek", {L"20"});
    EXPECT_EQ(2, CurrentLine());
    EXPECT_EQ(20000u, static_cast<CSonavire*>(plugin_.get())->GetPositionMs());

    // Playing from 15.5 s: the line timer reads the page's clock and moves on at 16.2 s.
    Page(L"theatreSeek", {L"15.5"});
    EXPECT_EQ(1, CurrentLine());
    Page(L"theatrePlay");
    EXPECT_EQ(sv::PlaybackMode::Playing, Window().LyricsPane().Mode());
    ASSERT_TRUE(PumpUntil([&] { return CurrentLine() == 2; }, 4000));
    const double pageSeconds = Window().BrowsePane().PageGetCurrentTime();
    EXPECT_GE(pageSeconds, 16.2);
    EXPECT_LT(pageSeconds, 17.5);

    // The page hides and shows the lyrics, and stops and ends its video.
    Page(L"theatreShowLyrics", {L""});
    EXPECT_FALSE(Window().LyricsPane().ShowLyrics());
    Page(L"theatreShowLyrics", {L"1"});
    EXPECT_TRUE(Window().LyricsPane().ShowLyrics());
    Page(L"theatreStop");
    EXPECT_EQ(sv::PlaybackMode::Stopped, Window().LyricsPane().Mode());
    Page(L"theatrePlay");
    Page(L"theatreEnd");
    EXPECT_EQ(sv::PlaybackMode::Stopped, Window().LyricsPane().Mode());
    EXPECT_EQ(L"", Page(L"theatreCallLog")) << "the page's own events are not echoed back to it";

    // A re-sync that restarts the song rewinds the page's video.
    Window().StartResync(true);
    EXPECT_EQ(L"seekTo|0", Page(L"theatreCallLog"));
    EXPECT_EQ(0u, static_cast<CSonavire*>(plugin_.get())->GetPositionMs() / 1000);
    Window().StopResync();

    // A track opened in the player stops the page's playing video, and the page hears of the track.
    Page(L"theatrePlay");
    Page(L"theatreClearLog");
    engine_->Open(0, true);
    engine_->DeliverPendingEvents();
    PumpPending();
    EXPECT_EQ(L"stopped", Page(L"theatreState"));
    EXPECT_EQ(L"stop\nOnMediaPlayerOpened||Traditional|Auld Lang Syne\nOnMediaPlayerStarted", Page(L"theatreCallLog"));
    ASSERT_TRUE(WaitForShown(u"Auld Lang Syne", sv::MediaSource::Player));
    EXPECT_NE(std::wstring::npos, Theatre()->Text().find(L"Media Player: Traditional - Auld Lang Syne"));
}

TEST_F(TheatreTest, ThePageReadsTheTrackAndTheVersionThroughItsMediaInfo) {
    Page(L"theatreOpen", {L"Los Faros", L"Canci\u00f3n del Alba"});
    ASSERT_TRUE(WaitForShown(u"Canci\u00f3n del Alba", sv::MediaSource::VideoPage));
    EXPECT_EQ(L"Los Faros\nCanci\u00f3n del Alba\n\n\n\n0.1.01.53\n1000", Page(L"theatreMediaInfo"));
}

}  // namespace
