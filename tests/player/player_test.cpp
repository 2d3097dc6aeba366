// The stand-in player driven by a test plug-in: the order of the player's calls on a plug-in, the
// events of open, play, pause, seek, stop and end, the connection point, the playback clock, the
// answers of the core, controls and media items, the rescan and the picture of the window.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "call_log.h"
#include "base/win_handles.h"
#include "player_engine.h"
#include "player_window.h"
#include "test_plugin.h"
#include "win_test_support.h"

namespace {

using sv::ComPtr;
using sv::UniqueBstr;
using namespace sv::standin;
using svtest::TestPlugin;

// {0D3C8A61-5F2E-4B7A-9C14-7E2B9A1F6D35}: the test plug-in's class, registered in this process only.
constexpr CLSID kTestPluginClass = {0x0d3c8a61, 0x5f2e, 0x4b7a, {0x9c, 0x14, 0x7e, 0x2b, 0x9a, 0x1f, 0x6d, 0x35}};

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Processes every message waiting on this thread (the player delivers its events from there).
void Pump() { svtest::PumpPending(); }

std::vector<Track> TwoTracks() {
    return {Track::Audio(L"Sigur R\u00f3s", L"Glos\u00f3li", L"Takk...", 30.0),
            Track::Audio(L"Second Artist", L"Second Title", L"", 20.0)};
}

class PlayerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        svtest::RegisterPluginWindowClass();
        factory_ = new svtest::TestPluginFactory();
        ASSERT_EQ(
            CoRegisterClassObject(kTestPluginClass, factory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &registration_),
            S_OK);
    }
    static void TearDownTestSuite() {
        CoRevokeClassObject(registration_);
        factory_->Release();
        factory_ = nullptr;
    }

    void SetUp() override {
        factory_->made.clear();
        factory_->nextCreateResult = S_OK;
        engine_ = std::make_unique<PlayerEngine>([this] { return clock_; });
        engine_->SetPlaylist(TwoTracks());
        window_ = std::make_unique<PlayerWindow>(GetModuleHandleW(nullptr), *engine_);
        ASSERT_TRUE(window_->Create(nullptr, true));
        window_->SetPluginClass(kTestPluginClass);
    }
    void TearDown() override {
        if (window_ && window_->Plugin().IsLoaded()) {
            SET_EXPECT(Destroy);
            SET_EXPECT(SetCore_null);
        }
        window_.reset();
        engine_.reset();
        expect_Destroy = called_Destroy = expect_SetCore_null = called_SetCore_null = false;
        factory_->made.clear();
    }

    TestPlugin& LoadTestPlugin() {
        SET_EXPECT(SetCore);
        SET_EXPECT(Create);
        EXPECT_EQ(window_->LoadPlugin(), S_OK);
        CHECK_CALLED(SetCore);
        CHECK_CALLED(Create);
        EXPECT_FALSE(factory_->made.empty());
        return *factory_->made.back().get();
    }
    void UnloadTestPlugin() {
        SET_EXPECT(Destroy);
        SET_EXPECT(SetCore_null);
        window_->UnloadPlugin();
        CHECK_CALLED(Destroy);
        CHECK_CALLED(SetCore_null);
    }
    std::vector<std::string> Calls() const { return engine_->Log().Texts(LogKind::Call); }

    static svtest::TestPluginFactory* factory_;
    static DWORD registration_;
    double clock_ = 100.0;
    std::unique_ptr<PlayerEngine> engine_;
    std::unique_ptr<PlayerWindow> window_;
};

svtest::TestPluginFactory* PlayerTest::factory_ = nullptr;
DWORD PlayerTest::registration_ = 0;

const std::vector<std::string> kOpenAndPlay = {"PlayStateChange(9)",  "OpenStateChange(8)",  "CurrentItemChange(item)",
                                               "OpenStateChange(9)",  "OpenStateChange(10)", "OpenStateChange(11)",
                                               "OpenStateChange(12)", "OpenStateChange(13)", "PlayStateChange(3)"};

TEST_F(PlayerTest, HostCallsAndEventsComeInThePlayersOrder) {
    TestPlugin& plugin = LoadTestPlugin();
    EXPECT_EQ(plugin.record, (std::vector<std::string>{"SetCore(core)", "Create"}));
    plugin.record.clear();

    // The host window is the player's: a child of its settings area inside "WMPlayerApp".
    EXPECT_EQ(plugin.hostWindow, window_->HostWindow());
    EXPECT_EQ(GetParent(plugin.hostWindow), window_->SettingsArea());
    EXPECT_EQ(GetAncestor(plugin.hostWindow, GA_ROOT), window_->Hwnd());
    EXPECT_EQ(FindWindowW(sv::kPlayerWindowClass, sv::kPlayerWindowTitle), window_->Hwnd());
    EXPECT_EQ(window_->Plugin().PluginWindow(), plugin.window);

    engine_->Open(0, true);
    EXPECT_TRUE(plugin.TakeEvents().empty()) << "events arrive from the message loop, not inside the call";
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), kOpenAndPlay);

    clock_ += 4.0;
    engine_->Pause();
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), (std::vector<std::string>{"PlayStateChange(2)"}));

    engine_->Seek(12.5);
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), (std::vector<std::string>{"PositionChange(4,12.5)"}));

    engine_->Play();
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), (std::vector<std::string>{"PlayStateChange(3)"}));

    engine_->Stop();
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), (std::vector<std::string>{"PlayStateChange(1)"}));
    EXPECT_EQ(engine_->Position(), 0.0);

    engine_->Play();
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), (std::vector<std::string>{"PlayStateChange(9)", "PlayStateChange(3)"}));

    // The clock reaching the item's end: media ended, then the next item opens and plays.
    clock_ += 30.0;
    engine_->Poll();
    Pump();
    std::vector<std::string> expected{"PlayStateChange(8)"};
    expected.insert(expected.end(), kOpenAndPlay.begin(), kOpenAndPlay.end());
    EXPECT_EQ(plugin.TakeEvents(), expected);
    EXPECT_EQ(engine_->CurrentIndex(), 1);

    // The end of the last item: ended, then stopped.
    engine_->EndCurrentTrack();
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), (std::vector<std::string>{"PlayStateChange(8)", "PlayStateChange(1)"}));

    UnloadTestPlugin();
    EXPECT_EQ(plugin.record, (std::vector<std::string>{"Destroy", "SetCore(null)"}));
    EXPECT_EQ(engine_->AdvisedSinkCount(), 0u);
    // Only the factory's list still holds it: the player released its reference.
    EXPECT_EQ(plugin.References(), 1u);

    const std::vector<std::string> host = engine_->Log().Texts(LogKind::Host);
    const std::vector<std::string> expectedHost{
        "plugin.CoCreateInstance({0D3C8A61-5F2E-4B7A-9C14-7E2B9A1F6D35}) -> 0x00000000",
        "plugin.SetCore(core) -> 0x00000000",
        "plugin.Create(host) -> 0x00000000 window made",
        "plugin.Destroy -> 0x00000000",
        "plugin.SetCore(null) -> 0x00000000",
        "plugin.Release"};
    EXPECT_EQ(host, expectedHost);
    const std::vector<std::string> calls = Calls();
    EXPECT_EQ(calls.front(), "core.get_controls");
    EXPECT_TRUE(Contains(calls, "core.FindConnectionPoint(IWMPEvents)"));
    EXPECT_TRUE(Contains(calls, "connectionPoint.Advise -> 0x00000000 cookie 1"));
    EXPECT_EQ(calls.back(), "connectionPoint.Unadvise(1)");
}

TEST_F(PlayerTest, ControlCallsFromThePluginRaiseEventsLater) {
    TestPlugin& plugin = LoadTestPlugin();
    engine_->Open(0, true);
    Pump();
    plugin.TakeEvents();
    clock_ += 3.0;

    // Re-sync with restart: back to the beginning, then play; and a stop from inside an event.
    EXPECT_EQ(plugin.controls->pause(), S_OK);
    EXPECT_EQ(plugin.controls->put_currentPosition(0.0), S_OK);
    EXPECT_EQ(plugin.controls->play(), S_OK);
    EXPECT_TRUE(plugin.TakeEvents().empty());
    plugin.onPlayState = [&](long state) {
        if (state == 3) plugin.controls->stop();
    };
    Pump();
    EXPECT_EQ(plugin.TakeEvents(), (std::vector<std::string>{"PlayStateChange(2)", "PositionChange(3,0)",
                                                             "PlayStateChange(3)", "PlayStateChange(1)"}));
    const std::vector<std::string> calls = Calls();
    const std::vector<std::string> tail(calls.end() - 4, calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"controls.pause", "controls.put_currentPosition(0)", "controls.play",
                                              "controls.stop"}));
    UnloadTestPlugin();
}

TEST_F(PlayerTest, ASinkRunningAModalLoopGetsNoEventInsideItsHandler) {
    TestPlugin& plugin = LoadTestPlugin();
    plugin.onPlayState = [&](long state) {
        if (state != 9) return;
        plugin.record.push_back("event modal loop begins");
        Pump();  // as a message box inside a handler would
        plugin.record.push_back("event modal loop ends");
    };
    engine_->Open(0, true);
    Pump();
    const std::vector<std::string> events = plugin.TakeEvents();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0], "PlayStateChange(9)");
    EXPECT_EQ(events[1], "modal loop begins");
    EXPECT_EQ(events[2], "modal loop ends");
    EXPECT_EQ(events[3], "OpenStateChange(8)");
    EXPECT_EQ(events.back(), "PlayStateChange(3)");
    UnloadTestPlugin();
}

TEST_F(PlayerTest, ConnectionPointCookiesAndUnadvise) {
    ComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(engine_->Core()->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(sv::kIidWmpEvents, point.put()), S_OK);
    ComPtr<IConnectionPoint> other;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, other.put()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(other);
    IID iid{};
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(iid == sv::kIidWmpEvents);
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
    EXPECT_EQ(back.get(), container.get());

    // Two sinks (test plug-ins made directly, not loaded as plug-ins).
    IUnknown* made = nullptr;
    ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&made)), S_OK);
    made->Release();
    ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&made)), S_OK);
    made->Release();
    TestPlugin& a = *factory_->made[0].get();
    TestPlugin& b = *factory_->made[1].get();
    DWORD cookieA = 0, cookieB = 0;
    ASSERT_EQ(point->Advise(static_cast<IWMPEvents*>(&a), &cookieA), S_OK);
    ASSERT_EQ(point->Advise(static_cast<IWMPEvents*>(&b), &cookieB), S_OK);
    EXPECT_NE(cookieA, 0u);
    EXPECT_NE(cookieB, 0u);
    EXPECT_NE(cookieA, cookieB);
    EXPECT_EQ(engine_->AdvisedSinkCount(), 2u);

    engine_->Open(0, false);
    Pump();
    EXPECT_EQ(a.TakeEvents().back(), "PlayStateChange(10)");
    EXPECT_EQ(b.TakeEvents().back(), "PlayStateChange(10)");

    EXPECT_EQ(point->Unadvise(cookieA), S_OK);
    EXPECT_EQ(point->Unadvise(cookieA), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    engine_->Play();
    Pump();
    EXPECT_TRUE(a.TakeEvents().empty());
    EXPECT_EQ(b.TakeEvents(), (std::vector<std::string>{"PlayStateChange(9)", "PlayStateChange(3)"}));

    // A sink that unadvises another inside an event: the other does not get that event.
    ASSERT_EQ(point->Advise(static_cast<IWMPEvents*>(&a), &cookieA), S_OK);
    b.onPlayState = [&](long) { point->Unadvise(cookieA); };
    engine_->Pause();
    Pump();
    EXPECT_EQ(b.TakeEvents(), (std::vector<std::string>{"PlayStateChange(2)"}));
    EXPECT_TRUE(a.TakeEvents().empty());
    b.onPlayState = nullptr;

    // An object without IWMPEvents cannot subscribe; nor can nothing.
    DWORD cookie = 99;
    EXPECT_EQ(point->Advise(factory_, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);

    // Made to fail, or to give cookie 0, for the plug-in's own failure paths.
    engine_->SetAdviseFailure(E_FAIL);
    EXPECT_EQ(point->Advise(static_cast<IWMPEvents*>(&a), &cookie), E_FAIL);
    engine_->SetAdviseFailure(S_OK);
    engine_->SetAdviseGivesZeroCookie(true);
    EXPECT_EQ(point->Advise(static_cast<IWMPEvents*>(&a), &cookie), S_OK);
    EXPECT_EQ(cookie, 0u);
    engine_->SetConnectionPointAvailable(false);
    EXPECT_EQ(container->FindConnectionPoint(sv::kIidWmpEvents, other.put()), CONNECT_E_NOCONNECTION);

    // The player closing drops what is still advised, and says so.
    const ULONG before = b.References();
    engine_->DropAllSinks();
    EXPECT_EQ(b.References(), before - 1);
    EXPECT_TRUE(Contains(engine_->Log().Texts(LogKind::Player), "player.dropSinks(1 still advised)"));
}

TEST_F(PlayerTest, PositionRunsOnTheClockOnlyWhilePlaying) {
    ComPtr<IWMPControls> controls;
    ASSERT_EQ(engine_->Core()->get_controls(controls.put()), S_OK);
    double position = -1.0;
    EXPECT_EQ(controls->get_currentPosition(&position), S_OK);
    EXPECT_EQ(position, 0.0);
    EXPECT_EQ(controls->get_currentPosition(nullptr), E_POINTER);

    engine_->Open(0, true);
    clock_ += 2.5;
    controls->get_currentPosition(&position);
    EXPECT_DOUBLE_EQ(position, 2.5);
    engine_->Pause();
    clock_ += 10.0;
    controls->get_currentPosition(&position);
    EXPECT_DOUBLE_EQ(position, 2.5);
    engine_->Play();
    clock_ += 1.0;
    EXPECT_DOUBLE_EQ(engine_->Position(), 3.5);
    engine_->Seek(25.0);
    clock_ += 1.0;
    EXPECT_DOUBLE_EQ(engine_->Position(), 26.0);
    // Never past the item's length; a seek beyond it stops at the end.
    clock_ += 100.0;
    EXPECT_DOUBLE_EQ(engine_->Position(), 30.0);
    engine_->Seek(-5.0);
    EXPECT_DOUBLE_EQ(engine_->Position(), 0.0);
    engine_->Stop();
    clock_ += 5.0;
    EXPECT_DOUBLE_EQ(engine_->Position(), 0.0);
}

TEST(PlayerClockTest, RealClockRunsWhilePlayingAndHoldsWhilePaused) {
    PlayerEngine engine;  // QueryPerformanceCounter
    engine.SetPlaylist(TwoTracks());
    engine.Open(0, true);
    const DWORD deadline = GetTickCount() + 5000;
    while (engine.Position() < 0.05 && GetTickCount() < deadline) Sleep(1);
    EXPECT_GE(engine.Position(), 0.05);
    engine.Pause();
    const double paused = engine.Position();
    // Wait until the real clock itself has moved on by 50 ms.
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    do {
        Sleep(1);
        QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < frequency.QuadPart / 20);
    EXPECT_EQ(engine.Position(), paused);
}

TEST_F(PlayerTest, MediaItemsAnswerTheirAttributes) {
    std::vector<Track> tracks = TwoTracks();
    tracks[1].attributes.erase(L"Artist");
    tracks[1].attributes.erase(L"Album");
    tracks[1].attributes[L"MediaType"] = L"video";
    engine_->SetPlaylist(tracks);

    ComPtr<IWMPMedia> media;
    EXPECT_EQ(engine_->Core()->get_currentMedia(media.put()), S_OK);
    EXPECT_FALSE(media) << "nothing is open yet";
    EXPECT_EQ(engine_->Core()->get_currentMedia(nullptr), E_POINTER);

    engine_->Open(0, true);
    ASSERT_EQ(engine_->Core()->get_currentMedia(media.put()), S_OK);
    ASSERT_TRUE(media);
    UniqueBstr value;
    UniqueBstr artist(L"Artist");
    EXPECT_EQ(media->getItemInfo(artist.get(), value.put()), S_OK);
    EXPECT_STREQ(value.c_str(), L"Sigur R\u00f3s");
    UniqueBstr mediaType(L"MediaType");
    EXPECT_EQ(media->getItemInfo(mediaType.get(), value.put()), S_OK);
    EXPECT_STREQ(value.c_str(), L"audio");
    EXPECT_EQ(media->getItemInfo(artist.get(), nullptr), E_POINTER);

    // Missing attributes: an empty text by default, a failure when made to.
    engine_->Open(1, true);
    ASSERT_EQ(engine_->Core()->get_currentMedia(media.put()), S_OK);
    EXPECT_EQ(media->getItemInfo(artist.get(), value.put()), S_OK);
    ASSERT_NE(value.get(), nullptr);
    EXPECT_EQ(value.length(), 0u);
    engine_->SetMissingAttributeAnswer(MissingAttributeAnswer::Failure);
    UniqueBstr album(L"Album");
    EXPECT_EQ(media->getItemInfo(album.get(), value.put()), E_INVALIDARG);
    EXPECT_EQ(value.get(), nullptr);
    UniqueBstr title(L"Title");
    EXPECT_EQ(media->getItemInfo(title.get(), value.put()), S_OK);
    EXPECT_STREQ(value.c_str(), L"Second Title");
    EXPECT_EQ(media->getItemInfo(mediaType.get(), value.put()), S_OK);
    EXPECT_STREQ(value.c_str(), L"video");

    // No item, or a failure, when made to.
    engine_->SetCurrentMediaAnswer(CurrentMediaAnswer::NoItem);
    EXPECT_EQ(engine_->Core()->get_currentMedia(media.put()), S_OK);
    EXPECT_FALSE(media);
    engine_->SetCurrentMediaAnswer(CurrentMediaAnswer::Failure);
    EXPECT_EQ(engine_->Core()->get_currentMedia(media.put()), E_FAIL);
    EXPECT_FALSE(media);

    const std::vector<std::string> calls = Calls();
    EXPECT_TRUE(Contains(calls, "media.getItemInfo(Artist)"));
    EXPECT_TRUE(Contains(calls, "media.getItemInfo(Album)"));
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "core.get_currentMedia"), 6);
}

TEST_F(PlayerTest, VersionInfoAndWhatIsNotImplemented) {
    IWMPCore* core = engine_->Core();
    UniqueBstr version;
    EXPECT_EQ(core->get_versionInfo(version.put()), S_OK);
    EXPECT_STREQ(version.c_str(), L"12.0.7601.24150");
    engine_->SetVersionInfo(L"10.00.00.4036");
    EXPECT_EQ(core->get_versionInfo(version.put()), S_OK);
    EXPECT_STREQ(version.c_str(), L"10.00.00.4036");
    engine_->SetVersionInfoFailure(E_FAIL);
    EXPECT_EQ(core->get_versionInfo(version.put()), E_FAIL);
    EXPECT_EQ(version.get(), nullptr);
    EXPECT_EQ(core->get_versionInfo(nullptr), E_POINTER);

    WMPPlayState state;
    EXPECT_EQ(core->get_playState(&state), E_NOTIMPL);
    ComPtr<IWMPControls> controls;
    core->get_controls(controls.put());
    EXPECT_EQ(controls->next(), E_NOTIMPL);
    ComPtr<IUnknown> unknown;
    // IWMPCore3, which this player does not offer.
    constexpr IID kIidWmpCore3 = {0x7587c667, 0x628f, 0x499f, {0x88, 0xe7, 0x6a, 0x6f, 0x4e, 0x88, 0x84, 0x64}};
    EXPECT_EQ(core->QueryInterface(kIidWmpCore3, unknown.put_void()), E_NOINTERFACE);

    const std::vector<std::string> calls = Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "core.get_versionInfo"), 4);
    EXPECT_TRUE(Contains(calls, "core.get_playState (not implemented)"));
    EXPECT_TRUE(Contains(calls, "controls.next (not implemented)"));
    EXPECT_TRUE(Contains(calls, "core.QueryInterface({7587C667-628F-499F-88E7-6A6F4E888464}) (not offered)"));
}

TEST_F(PlayerTest, AFailedCreateDetachesAndReleasesThePlugin) {
    factory_->nextCreateResult = E_FAIL;
    SET_EXPECT(SetCore);
    SET_EXPECT(Create);
    SET_EXPECT(SetCore_null);
    EXPECT_EQ(window_->LoadPlugin(), E_FAIL);
    CHECK_CALLED(SetCore);
    CHECK_CALLED(Create);
    CHECK_CALLED(SetCore_null);
    EXPECT_FALSE(window_->Plugin().IsLoaded());
    TestPlugin& plugin = *factory_->made.back().get();
    EXPECT_EQ(plugin.record, (std::vector<std::string>{"SetCore(core)", "Create", "SetCore(null)"}));
    EXPECT_EQ(plugin.References(), 1u);
    EXPECT_EQ(engine_->AdvisedSinkCount(), 0u);
}

TEST_F(PlayerTest, AnUnregisteredClassLeavesThePlayerRunning) {
    // {5B0E7C2D-1A3F-4E68-B9D0-2C4F6A8E1B37}: registered nowhere.
    constexpr CLSID unregistered = {0x5b0e7c2d, 0x1a3f, 0x4e68, {0xb9, 0xd0, 0x2c, 0x4f, 0x6a, 0x8e, 0x1b, 0x37}};
    window_->SetPluginClass(unregistered);
    EXPECT_EQ(window_->LoadPlugin(), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(window_->Plugin().IsLoaded());
    engine_->Open(0, true);
    Pump();
    EXPECT_EQ(engine_->PlayState(), wmppsPlaying);
    EXPECT_EQ(engine_->Log().Texts(LogKind::Host).back(),
              "plugin.CoCreateInstance({5B0E7C2D-1A3F-4E68-B9D0-2C4F6A8E1B37}) -> 0x80040154");
}

TEST_F(PlayerTest, PluginAddRemoveMessageReloadsThePlugin) {
    TestPlugin& first = LoadTestPlugin();
    const HWND firstHost = window_->HostWindow();
    SET_EXPECT(Destroy);
    SET_EXPECT(SetCore_null);
    SET_EXPECT(SetCore);
    SET_EXPECT(Create);
    SendMessageW(window_->Hwnd(), RegisterWindowMessageW(L"WMPlayer_PluginAddRemove"), 0, 0);
    CHECK_CALLED(Destroy);
    CHECK_CALLED(SetCore_null);
    CHECK_CALLED(SetCore);
    CHECK_CALLED(Create);
    EXPECT_EQ(window_->RescanCount(), 1);
    ASSERT_EQ(factory_->made.size(), 2u);
    EXPECT_EQ(first.References(), 1u);
    TestPlugin& second = *factory_->made.back().get();
    EXPECT_NE(&second, &first);
    // A fresh host window for the new plug-in; the old one went with the old plug-in.
    EXPECT_FALSE(IsWindow(firstHost));
    EXPECT_EQ(second.hostWindow, window_->HostWindow());
    EXPECT_TRUE(Contains(engine_->Log().Texts(LogKind::Player), "player.rescan"));
    // The new plug-in is subscribed.
    engine_->Open(0, true);
    Pump();
    EXPECT_EQ(second.TakeEvents(), kOpenAndPlay);
    EXPECT_TRUE(first.TakeEvents().empty());
    UnloadTestPlugin();
}

TEST_F(PlayerTest, PictureOfTheWindowShowsThePluginsWindow) {
    LoadTestPlugin();
    Pump();
    wchar_t directory[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, directory), 0u);
    const std::wstring path = std::wstring(directory) + L"sonavire-player-picture.bmp";
    ASSERT_TRUE(window_->SavePicture(path));

    sv::UniqueFileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    std::vector<unsigned char> bytes(GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr));
    file.reset();
    DeleteFileW(path.c_str());
    ASSERT_GT(bytes.size(), sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER));
    const auto* header = reinterpret_cast<const BITMAPFILEHEADER*>(bytes.data());
    const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data() + sizeof(BITMAPFILEHEADER));
    EXPECT_EQ(header->bfType, 0x4D42);
    EXPECT_EQ(header->bfSize, bytes.size());
    RECT client;
    GetClientRect(window_->Hwnd(), &client);
    EXPECT_EQ(info->biWidth, client.right);
    EXPECT_EQ(info->biHeight, client.bottom);
    EXPECT_EQ(info->biBitCount, 24);

    // The middle of the settings area is the plug-in's red window; the strip above is not red.
    auto pixel = [&](int x, int y) {
        const int stride = (info->biWidth * 3 + 3) & ~3;
        const unsigned char* p = bytes.data() + header->bfOffBits + (info->biHeight - 1 - y) * stride + x * 3;
        return RGB(p[2], p[1], p[0]);
    };
    EXPECT_EQ(pixel(client.right / 2, client.bottom / 2), RGB(255, 0, 0));
    EXPECT_NE(pixel(client.right / 2, PlayerWindow::kStripHeight / 2), RGB(255, 0, 0));
    UnloadTestPlugin();
}

TEST(PlayerEngineTest, ObjectsOutlivingThePlayerAnswerWithoutIt) {
    ComPtr<IWMPCore> core;
    ComPtr<IWMPControls> controls;
    ComPtr<IConnectionPoint> point;
    {
        PlayerEngine engine;
        core = ComPtr<IWMPCore>::From(engine.Core());
        ASSERT_EQ(core->get_controls(controls.put()), S_OK);
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(core.As(container), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(sv::kIidWmpEvents, point.put()), S_OK);
    }
    UniqueBstr version;
    EXPECT_EQ(core->get_versionInfo(version.put()), E_UNEXPECTED);
    EXPECT_EQ(controls->play(), E_UNEXPECTED);
    EXPECT_EQ(point->Unadvise(1), CONNECT_E_NOCONNECTION);
}

}  // namespace

namespace {

TEST(PlayerInterfaceTest, IdentifierConstantsMatchTheInterfaceDeclarations) {
    EXPECT_TRUE(__uuidof(IWMPPluginUI) == sv::kIidWmpPluginUi);
    EXPECT_TRUE(__uuidof(IWMPEvents) == sv::kIidWmpEvents);
    EXPECT_TRUE(__uuidof(IWMPCore) == sv::kIidWmpCore);
    EXPECT_TRUE(__uuidof(IWMPControls) == sv::kIidWmpControls);
    EXPECT_TRUE(__uuidof(IWMPMedia) == sv::kIidWmpMedia);
    wchar_t text[40] = {};
    StringFromGUID2(sv::kIidWmpPluginUi, text, 40);
    EXPECT_STREQ(text, L"{4C5E8F9F-AD3E-4BF9-9753-FCD30D6D38DD}");
    EXPECT_EQ(sv::kSettingsAreaAutorunCapabilities, 0x40000004u);
}

}  // namespace
