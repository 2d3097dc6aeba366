// The main plug-in window with the plug-in object, both built into the test from the same code as
// Sonavire.dll, inside the stand-in player and against the stand-in service: the fixture the main
// window's tests share.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>
#include "call_log.h"
#include "lyrics/lyrics_document.h"
#include "base/com_ptr.h"
#include "dll/application.h"
#include "base/module_lock.h"
#include "base/utf.h"
#include "player_engine.h"
#include "player_window.h"
#include "settings/settings.h"
#include "plugin/sonavire.h"
#include "player_fixture.h"
#include "plugin_test_support.h"
#include "standin_client.h"
#include "web/page_script.h"
#include "main_window/plugin_window.h"
#include "main_window/plugin_window_test_access.h"
#include "pane_test_support.h"
#include "service/lyrics_requests.h"

namespace svtest {

// The module started as DllGetClassObject starts it: the bitmaps measured into the settings record.
class StartedModule : public testing::Environment {
public:
    void SetUp() override { sv::StartApplication(); }
};
inline testing::Environment* const kStartedModule = testing::AddGlobalTestEnvironment(new StartedModule);

using sv::ComPtr;
using sv::CSVPluginWindow;
using sv::LyricsDocument;
using sv::PluginWindowTestAccess;
using sv::standin::LogKind;
using sv::standin::PlayerEngine;
using sv::standin::PlayerWindow;
using sv::standin::Track;

// Counts the lyrics replies that reach the main window for a lookup it no longer wants (the
// window drops them).
struct StaleReplies {
    explicit StaleReplies(CSVPluginWindow& window) : messages(window.Hwnd()) {
        messages.onMessage = [this, &window](UINT message, WPARAM sequence, LPARAM) {
            if (message == sv::WM_SV_LYRICS_READY && sequence != PluginWindowTestAccess::WantedFetch(window)) ++count;
        };
    }
    MessageCounter messages;
    long count = 0;
};

// What the video page's script was asked, and what its "getCurrentTime" answers.
struct PageRecord {
    std::vector<std::wstring> calls;  // "name(arg,arg)"
    sv::UniqueVariant currentTime;
    bool answers = true;
};

class RecordingPageScript final : public sv::PageScript {
public:
    explicit RecordingPageScript(std::shared_ptr<PageRecord> record) : record_(std::move(record)) {}
    bool CallFunction(std::wstring_view name, const std::vector<std::wstring>& arguments, VARIANT* result) override {
        std::wstring call(name);
        call += L"(";
        for (size_t i = 0; i < arguments.size(); ++i) call += (i ? L"," : L"") + arguments[i];
        record_->calls.push_back(call + L")");
        if (result) {
            VariantClear(result);
            if (name == L"getCurrentTime") VariantCopy(result, record_->currentTime.get());
        }
        return record_->answers;
    }

private:
    std::shared_ptr<PageRecord> record_;
};

inline std::unique_ptr<LyricsDocument> MakeDocument(sv::LyricsStatus status, int lines,
                                                    sv::MediaSource sourceKind = sv::MediaSource::Player) {
    auto document = std::make_unique<LyricsDocument>();
    document->SetArtist(u"Blue Harbour");
    document->SetTitle(u"Night Train");
    document->sourceKind = sourceKind;
    for (int i = 0; i < lines; ++i) {
        document->AddLine(u"line " + std::u16string(1, static_cast<char16_t>(u'0' + i)), u"");
    }
    document->status = status;
    return document;
}

class PluginWindowTest : public PlayerFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(0, sv::ModuleLockCount());
        MakeCacheFolder();
        StartPlayer();
    }

    void TearDown() override {
        StopPlayer();
        // Lookups still running end on their own.
        EXPECT_TRUE(PumpUntil([] { return sv::ModuleLockCount() == 0; }, 15000));
        RemoveCacheFolder();
        EndService();
    }

    // waitForPanes: returns once the panes made after Create are there (which dispatches messages).
    void LoadPlugin(bool waitForPanes = true) {
        sv::MainWindowOptions options;
        options.isConnected = [this] { return connected_; };
        options.cacheFolder = sv::AsU16(cacheFolder_.c_str());
        options.scriptBridge = sv::Application().ScriptBridge();
        ASSERT_EQ(S_OK, CSonavire::CreateInstance(sv::kIidWmpPluginUi, plugin_.put_void(), std::move(options)));
        ASSERT_EQ(S_OK, player_->LoadPluginObject(plugin_.get()));
        ASSERT_NE(nullptr, Object().Window());
        if (waitForPanes) {
            ASSERT_TRUE(PumpUntil([&] { return Window().PanesReady(); }));
        }
    }
    CSonavire& Object() { return *static_cast<CSonavire*>(plugin_.get()); }
    CSVPluginWindow& Window() { return *Object().Window(); }
    IWMPEvents& Events() { return Object(); }
    // The plug-in object as the script bridge reaches it: the video page's events.
    sv::BridgeTarget& Page() { return *Object().PageEventTarget(); }
    const sv::StatusTriple& Status() { return *Window().Status(); }
    std::wstring StatusLineText() { return TextOf(Window().StatusLine().Hwnd()); }
    std::shared_ptr<PageRecord> RecordPageCalls() {
        auto record = std::make_shared<PageRecord>();
        Window().BrowsePane().SetPageScript(std::make_unique<RecordingPageScript>(record));
        return record;
    }
    bool WaitForShown(const std::u16string& title, sv::MediaSource sourceKind) {
        return PumpUntil([&] {
            const LyricsDocument* shown = Window().ShownDocument();
            return shown && shown->Title() == title && shown->sourceKind == sourceKind;
        });
    }
    // The video page reports a track, as its "OnYouTubePlayOpen" does.
    void PageOpens(const char16_t* artist, const char16_t* title) {
        LyricsDocument& page = pageDocument_;
        page.SetArtist(artist);
        page.SetTitle(title);
        page.SetAlbum(u"");
        page.SetVideoId(u"vid42");
        page.sourceKind = sv::MediaSource::VideoPage;
        page.status = sv::LyricsStatus::NotFound;
        Page().PageMediaOpened(page);
    }
    std::wstring Text(UINT id) { return ResourceText(GetModuleHandleW(nullptr), id); }

    void MakeCacheFolder() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        cacheFolder_ = std::wstring(temp) + L"sonavire-window-tests-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(cacheFolder_.c_str(), nullptr);
    }
    void RemoveCacheFolder() {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((cacheFolder_ + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((cacheFolder_ + L"\\" + found.cFileName).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(cacheFolder_.c_str());
    }

    std::wstring cacheFolder_;
    bool connected_ = true;        // what the main window is told about the Internet connection
    LyricsDocument pageDocument_;  // the track the video page reports (PageOpens)
};

}  // namespace svtest
