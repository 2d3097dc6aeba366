// Sonavire.dll as the player meets it: loaded with LoadLibrary, its object made through
// DllGetClassObject and driven by the stand-in player against the stand-in lyrics service. What is
// checked is what the player, the service and the user can see: HRESULTs, windows and their
// places, the version notice, the player's call record, the service's request record, the
// registry and whether the module may be unloaded.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "call_log.h"
#include "base/com_ptr.h"
#include "player_engine.h"
#include "player_window.h"
#include "resources/resource_ids.h"
#include "settings/plugin_identity.h"
#include "base/wmp_plugin_ui.h"
#include "player_fixture.h"
#include "plugin_test_support.h"
#include "process_figures.h"
#include "standin_client.h"

namespace {

using namespace svtest;
using sv::ComPtr;
using sv::standin::LogKind;
using sv::standin::PlayerEngine;
using sv::standin::PlayerWindow;
using sv::standin::Track;

constexpr char kSavePath[] = "/sonavire/services/setLyrics.php";
constexpr wchar_t kClickToAdvance[] = L"Click lyrics to advance line";
constexpr wchar_t kSaving[] = L"Saving lyrics... Please wait";

// Sonavire.dll from the test's folder, loaded as the player loads an in-process server.
class SonavireModule {
public:
    bool Load() {
        module_ = LoadLibraryW((ExecutableFolder() + L"Sonavire.dll").c_str());
        if (!module_) return false;
        getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(GetProcAddress(module_, "DllGetClassObject"));
        canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(GetProcAddress(module_, "DllCanUnloadNow"));
        return getClassObject_ && canUnloadNow_;
    }
    HMODULE module() const { return module_; }
    HRESULT CanUnloadNow() const { return canUnloadNow_(); }

    ComPtr<IWMPPluginUI> NewPlugin() const {
        ComPtr<IClassFactory> factory;
        ComPtr<IWMPPluginUI> plugin;
        if (FAILED(getClassObject_(sv::CLSID_Sonavire, IID_IClassFactory, factory.put_void()))) return plugin;
        factory->CreateInstance(nullptr, sv::kIidWmpPluginUi, plugin.put_void());
        return plugin;
    }

    // Waits until nothing holds the module (workers end on their own), frees it and waits until it
    // has left the process, so the next test starts with a freshly loaded module.
    bool Unload(DWORD timeoutMs) {
        if (!module_) return true;
        const bool released = PumpUntil([&] { return CanUnloadNow() == S_OK; }, timeoutMs);
        FreeLibrary(module_);
        module_ = nullptr;
        const bool gone = PumpUntil([] { return GetModuleHandleW(L"Sonavire.dll") == nullptr; }, timeoutMs);
        return released && gone;
    }

    // FreeLibrary at once, as a careless host might.
    void FreeWithoutAsking() {
        FreeLibrary(module_);
        module_ = nullptr;
    }

private:
    HMODULE module_ = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
};

Track AudioTrack(const wchar_t* artist, const wchar_t* title, const wchar_t* album, double seconds) {
    return Track::Audio(artist, title, album, seconds);
}

Track WithMediaType(Track track, const wchar_t* mediaType) {
    if (mediaType) {
        track.attributes[L"MediaType"] = mediaType;
    } else {
        track.attributes.erase(L"MediaType");
    }
    return track;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool ContainsPrefix(const std::vector<std::string>& texts, const std::string& prefix) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
}

class PluginObjectTest : public PlayerFixture {
protected:
    void SetUp() override {
        DeleteCacheFiles();
        ASSERT_TRUE(module_.Load());
        StartPlayer();
    }

    void TearDown() override {
        StopPlayer();
        EXPECT_TRUE(module_.Unload(15000)) << "the module must be free once the player has let go";
        EndService();
    }

    HRESULT LoadPlugin() {
        plugin_ = module_.NewPlugin();
        if (!plugin_) return E_NOINTERFACE;
        const HRESULT hr = player_->LoadPluginObject(plugin_.get());
        if (hr == S_OK) PumpUntil([&] { return Windows().laidOut(); });
        return hr;
    }
    ComPtr<IWMPEvents> Events() {
        ComPtr<IWMPEvents> events;
        if (plugin_) plugin_->QueryInterface(sv::kIidWmpEvents, events.put_void());
        return events;
    }
    PluginWindows Windows() const { return PluginWindows::In(player_->HostWindow()); }
    bool WaitForStatus(const std::wstring& text, DWORD timeoutMs = 10000) {
        return PumpUntil([&] { return Windows().StatusText() == text; }, timeoutMs);
    }
    // A plain window inside the player's settings area, for driving the plug-in by hand.
    HWND MakeOwnHost() {
        return CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 500, 400, player_->SettingsArea(),
                               nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    std::wstring Text(UINT id) const { return ResourceText(module_.module(), id); }

    SonavireModule module_;
};

// ---------------------------------------------------------------------------------------------
// Create and the player version.

TEST_F(PluginObjectTest, CreateAcceptsPlayerElevenAndLaterWithoutANotice) {
    // The part before the first "." is the major version; a text without "." is read whole.
    for (const wchar_t* version : {L"11.0.6001.7000", L"12"}) {
        SCOPED_TRACE(testing::Message() << "version " << std::string(version, version + wcslen(version)));
        DialogDismisser notices(107);
        engine_->SetVersionInfo(version);
        ASSERT_EQ(S_OK, LoadPlugin());
        EXPECT_TRUE(notices.seen().empty());
        const PluginWindows windows = Windows();
        ASSERT_TRUE(windows.found());
        EXPECT_EQ(player_->Plugin().PluginWindow(), windows.main);
        EXPECT_EQ(L"Sonavire", TextOf(windows.main));
        EXPECT_EQ(static_cast<LONG_PTR>(WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN),
                  GetWindowLongPtrW(windows.main, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CLIPSIBLINGS));
        EXPECT_TRUE(GetWindowLongPtrW(player_->HostWindow(), GWL_STYLE) & WS_CLIPCHILDREN);
        player_->UnloadPlugin();
        plugin_.reset();
    }
}

TEST_F(PluginObjectTest, CreateShowsTheNoticeAndFailsForOlderOrUnreadableVersions) {
    // 10 is too old; an empty or non-numeric text counts as 0.
    for (const wchar_t* version : {L"10.00.00.4036", L"9", L"", L"abc"}) {
        SCOPED_TRACE(testing::Message() << "version \"" << std::string(version, version + wcslen(version)) << "\"");
        DialogDismisser notices(107);
        engine_->SetVersionInfo(version);
        EXPECT_EQ(E_FAIL, LoadPlugin());
        ASSERT_EQ(1u, notices.seen().size()) << "the notice is shown once and answered";
        EXPECT_EQ(L"Sonavire", notices.seen()[0].caption);
        EXPECT_EQ(L"Sonavire requires Windows Media Player version 11 or later.", notices.seen()[0].controlText);
        EXPECT_FALSE(Windows().found()) << "no window is made";
        const HWND host = player_->HostWindow();
        EXPECT_TRUE(!host || static_cast<LONG_PTR>(GetClassLongPtrW(host, GCLP_WNDPROC)) ==
                                 GetWindowLongPtrW(host, GWLP_WNDPROC))
            << "the host window is not taken over";
        plugin_.reset();
    }
    EXPECT_EQ(S_OK, module_.CanUnloadNow()) << "refused objects leave nothing behind";

    // A version that cannot be read fails without a notice.
    DialogDismisser notices(107);
    engine_->SetVersionInfoFailure(E_FAIL);
    EXPECT_EQ(E_FAIL, LoadPlugin());
    EXPECT_TRUE(notices.seen().empty());
    EXPECT_FALSE(Windows().found());
}

TEST_F(PluginObjectTest, CreateWithoutCoreSkipsTheCheckAndTheHostGetsItsProcedureBack) {
    const HWND host = MakeOwnHost();
    ASSERT_TRUE(host);
    const LONG_PTR ownProcedure = GetWindowLongPtrW(host, GWLP_WNDPROC);
    plugin_ = module_.NewPlugin();
    ASSERT_TRUE(plugin_);

    EXPECT_EQ(E_FAIL, plugin_->Create(host, nullptr)) << "a null out pointer";
    EXPECT_EQ(nullptr, GetWindow(host, GW_CHILD));

    HWND made = reinterpret_cast<HWND>(1);
    ASSERT_EQ(S_OK, plugin_->Create(host, &made));
    EXPECT_TRUE(IsWindow(made));
    EXPECT_EQ(host, GetParent(made));
    EXPECT_FALSE(ContainsPrefix(Calls(), "core.get_versionInfo")) << "no core, no version check";
    EXPECT_NE(ownProcedure, GetWindowLongPtrW(host, GWLP_WNDPROC));

    HWND again = nullptr;
    EXPECT_EQ(E_UNEXPECTED, plugin_->Create(host, &again)) << "one window per object at a time";
    MSG message{};
    EXPECT_EQ(E_POINTER, plugin_->TranslateAccelerator(nullptr));
    EXPECT_EQ(S_FALSE, plugin_->TranslateAccelerator(&message));
    EXPECT_EQ(E_NOTIMPL, plugin_->DisplayPropertyPage(host));

    EXPECT_EQ(S_OK, plugin_->Destroy());
    EXPECT_FALSE(IsWindow(made));
    EXPECT_EQ(E_UNEXPECTED, plugin_->Destroy());
    EXPECT_EQ(E_UNEXPECTED, plugin_->TranslateAccelerator(&message));

    // The last release gives the host its own procedure back: nothing of the module stays in it.
    plugin_.reset();
    EXPECT_EQ(ownProcedure, GetWindowLongPtrW(host, GWLP_WNDPROC));
    // The language list's worker may still be finishing; then nothing else may hold the module.
    EXPECT_TRUE(PumpUntil([&] { return module_.CanUnloadNow() == S_OK; }, 15000));
    DestroyWindow(host);
}

// ---------------------------------------------------------------------------------------------
// Events.

TEST_F(PluginObjectTest, TheReplayedOpenAndPlayLookUpTheItemAlreadyPlaying) {
    engine_->Open(0, true);
    Deliver();  // no plug-in yet: nobody hears these
    ASSERT_EQ(S_OK, LoadPlugin());
    const auto requests = service_.WaitForRequests(kFetchPath, 1);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("Blue Harbour", requests[0].Query("artist"));
    EXPECT_EQ("Night Train", requests[0].Query("title"));
    EXPECT_EQ("First Light", requests[0].Query("album"));
    const auto calls = Calls();
    EXPECT_TRUE(Contains(calls, "media.getItemInfo(Artist)"));
    EXPECT_TRUE(Contains(calls, "media.getItemInfo(Title)"));
    EXPECT_TRUE(Contains(calls, "media.getItemInfo(Album)"));
    // Timed lyrics arrive: they show, and the status line stays blank.
    EXPECT_TRUE(WaitForStatus(L""));
}

TEST_F(PluginObjectTest, OnlyTheMediaOpenStateStartsALookup) {
    engine_->Open(0, true);
    Deliver();
    ASSERT_EQ(S_OK, LoadPlugin());
    ASSERT_EQ(1u, service_.WaitForRequests(kFetchPath, 1).size());
    ASSERT_TRUE(WaitForStatus(L""));
    ComPtr<IWMPEvents> events = Events();
    ASSERT_TRUE(events);

    engine_->Log().Clear();
    events->OpenStateChange(12);  // media opening
    EXPECT_FALSE(ContainsPrefix(Calls(), "core.get_currentMedia"));
    EXPECT_EQ(L"", Windows().StatusText());

    // The lyrics are cached now: the lookup asks the service for their version only.
    events->OpenStateChange(13);
    EXPECT_TRUE(ContainsPrefix(Calls(), "core.get_currentMedia"));
    EXPECT_EQ(L"Loading lyrics... Please wait", Windows().StatusText());
    EXPECT_EQ(1u, service_.WaitForRequests(kVersionPath, 1).size());
}

TEST_F(PluginObjectTest, EventsAfterDestroyDoNothing) {
    engine_->Open(0, true);
    Deliver();
    ASSERT_EQ(S_OK, LoadPlugin());
    ASSERT_TRUE(WaitForStatus(L""));
    ComPtr<IWMPEvents> events = Events();
    ASSERT_TRUE(events);
    ASSERT_EQ(S_OK, plugin_->Destroy());
    EXPECT_FALSE(Windows().found());

    engine_->Log().Clear();
    events->PlayStateChange(3);
    events->OpenStateChange(13);
    events->PositionChange(1.0, 2.0);
    events->PlayStateChange(8);
    EXPECT_TRUE(Calls().empty()) << "nothing reaches the player after Destroy";
}

TEST_F(PluginObjectTest, APositionChangeWithoutLyricsAsksThePlayerNothing) {
    ASSERT_EQ(S_OK, LoadPlugin());  // nothing is open: no lyrics
    ComPtr<IWMPEvents> events = Events();
    ASSERT_TRUE(events);
    engine_->Log().Clear();
    events->PositionChange(0.0, 5.0);
    EXPECT_FALSE(Contains(Calls(), "controls.get_currentPosition")) << "no document: the position is 0";

    engine_->Open(0, true);
    Deliver();
    ASSERT_TRUE(WaitForStatus(L""));  // Night Train's lines are shown
    engine_->Log().Clear();
    events->PositionChange(0.0, 5.0);
    EXPECT_TRUE(Contains(Calls(), "controls.get_currentPosition"));
}

// ---------------------------------------------------------------------------------------------
// Module life.

TEST_F(PluginObjectTest, TheModuleStaysWhileThePlayerOrAWorkerHoldsIt) {
    EXPECT_EQ(S_OK, module_.CanUnloadNow());
    ASSERT_EQ(S_OK, LoadPlugin());
    plugin_.reset();  // only the player's reference is left
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow()) << "the player holds the object";

    // A lookup the service answers late outlives the object.
    service_.SetBehaviour(kFetchPath, "delay", 1500);
    engine_->Open(0, true);
    Deliver();
    ASSERT_EQ(1u, service_.WaitForRequests(kFetchPath, 1).size());
    player_->UnloadPlugin();
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow()) << "a worker still runs";
    EXPECT_TRUE(PumpUntil([&] { return module_.CanUnloadNow() == S_OK; }, 15000));
}

TEST_F(PluginObjectTest, AHostThatFreesTheModuleUnderARunningLookupDoesNotUnloadIt) {
    ASSERT_EQ(S_OK, LoadPlugin());
    service_.SetBehaviour(kFetchPath, "delay", 1000);
    engine_->Open(0, true);
    Deliver();
    ASSERT_EQ(1u, service_.WaitForRequests(kFetchPath, 1).size());
    player_->UnloadPlugin();
    plugin_.reset();
    // The host lets go of the module although DllCanUnloadNow says no: the lookup on the thread
    // pool holds a load reference of its own until its callback has returned.
    module_.FreeWithoutAsking();
    EXPECT_NE(nullptr, GetModuleHandleW(L"Sonavire.dll")) << "unloaded under a running lookup";
    EXPECT_TRUE(PumpUntil([] { return GetModuleHandleW(L"Sonavire.dll") == nullptr; }, 15000))
        << "the lookup's reference must go once it is done";
}

// A host that lets go of the plug-in, and frees the module as soon as it may, inside a message of
// its own top-level window (which the plug-in watches for DPI changes): the module must stay until
// that message has returned through the plug-in's procedure.
constexpr UINT kUnloadMessage = WM_APP + 22;
LRESULT CALLBACK UnloadingPlayerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    if (message == kUnloadMessage) (*reinterpret_cast<std::function<void()>*>(data))();
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

TEST_F(PluginObjectTest, APlayerThatUnloadsThePluginInsideItsOwnWindowsMessageReturnsIntoNoFreedCode) {
    bool freed = false;
    std::function<void()> unload = [&] {
        player_->UnloadPlugin();
        if (module_.CanUnloadNow() == S_OK) {
            module_.FreeWithoutAsking();
            freed = true;
        }
    };
    ASSERT_TRUE(SetWindowSubclass(player_->Hwnd(), &UnloadingPlayerProc, 1, reinterpret_cast<DWORD_PTR>(&unload)));
    ASSERT_EQ(S_OK, LoadPlugin());
    plugin_.reset();
    SendMessageW(player_->Hwnd(), kUnloadMessage, 0, 0);  // a crash here: the module went too soon
    EXPECT_FALSE(freed) << "the plug-in's procedure was still on the stack";
    // The language list's worker may still be finishing; the procedure's own lock went on return.
    EXPECT_TRUE(PumpUntil([&] { return module_.CanUnloadNow() == S_OK; }, 15000))
        << "and nothing holds it once that message has returned";
    RemoveWindowSubclass(player_->Hwnd(), &UnloadingPlayerProc, 1);
}

TEST_F(PluginObjectTest, AModuleLoadedAndUnloadedAgainAndAgainLeavesNothingBehind) {
    // What the module's runtime keeps for the player's thread lives as long as that thread, not
    // as long as the module: a player that rescans its plug-ins would collect it at every unload.
    const auto loadUseAndUnload = [&] {
        ASSERT_EQ(S_OK, LoadPlugin());
        engine_->Open(0, true);
        Deliver();
        EXPECT_TRUE(PumpUntil([&] { return Windows().StatusText() != L"Loading lyrics... Please wait"; }));
        player_->UnloadPlugin();
        plugin_.reset();
        ASSERT_TRUE(module_.Unload(15000));
        ASSERT_TRUE(module_.Load());
    };
    loadUseAndUnload();
    const svtest::ProcessFigures before = svtest::MeasureProcess();
    constexpr int kCycles = 16;
    for (int cycle = 0; cycle < kCycles; ++cycle) loadUseAndUnload();
    const svtest::ProcessFigures after = svtest::MeasureProcess();
    // The C++ runtime's exception pool (70 KB on 64-bit) came with every load and stayed.
    EXPECT_LT(static_cast<double>(after.heapBusyBytes) - static_cast<double>(before.heapBusyBytes),
              kCycles * 32 * 1024.0);
    // The system's own pools may keep an event or two more; a leak grows with every cycle.
    EXPECT_LT(static_cast<int>(after.handles) - static_cast<int>(before.handles), kCycles)
        << svtest::HandleTypeChanges(before, after);
    for (const wchar_t* kind : {L"Thread", L"Semaphore"}) {
        const auto count = [&](const svtest::ProcessFigures& figures) {
            const auto found = figures.handleTypes.find(kind);
            return found == figures.handleTypes.end() ? 0 : found->second;
        };
        EXPECT_EQ(count(before), count(after)) << svtest::HandleTypeChanges(before, after);
    }
}

// What the player does from inside the plug-in's sign-in dialog (its own closing, a rescan of
// its plug-ins): unload it, and let go of the last reference.
struct UnloadInDialog {
    PlayerWindow* player = nullptr;
    ComPtr<IWMPPluginUI>* lastReference = nullptr;
    bool unloaded = false;
    bool dialogLeftOpen = false;
} g_unloadInDialog;

BOOL CALLBACK FindDialogOfThread(HWND hwnd, LPARAM found) {
    if (TextOf(hwnd).empty() || ClassOf(hwnd) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

HWND DialogOfThisThread() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindDialogOfThread, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CALLBACK UnloadOnceTheDialogShows(HWND, UINT, UINT_PTR, DWORD) {
    const HWND dialog = DialogOfThisThread();
    if (!dialog) return;
    if (g_unloadInDialog.unloaded) {
        // Still open after the plug-in went: closed here so that the test ends.
        g_unloadInDialog.dialogLeftOpen = true;
        EndDialog(dialog, IDCANCEL);
        return;
    }
    g_unloadInDialog.unloaded = true;
    g_unloadInDialog.player->UnloadPlugin();
    g_unloadInDialog.lastReference->reset();
}

TEST_F(PluginObjectTest, ThePlayerLettingGoWhileTheSignInDialogIsOpenClosesTheDialogSafely) {
    ASSERT_EQ(S_OK, LoadPlugin());
    g_unloadInDialog = {player_.get(), &plugin_};
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, &UnloadOnceTheDialogShows);
    PostMessageW(Windows().main, WM_COMMAND, MAKEWPARAM(CMD_SIGN_IN, 0), 0);
    // The dialog's loop runs inside this pump; the plug-in's code below it returns into an object
    // the player has let go of.
    EXPECT_TRUE(PumpUntil([] { return g_unloadInDialog.unloaded && !DialogOfThisThread(); }));
    KillTimer(nullptr, timer);
    EXPECT_FALSE(g_unloadInDialog.dialogLeftOpen) << "the plug-in's dialog must go with the plug-in";
    g_unloadInDialog = {};
}

// A procedure a test installs over the plug-in's on the host window.
WNDPROC g_belowTestProcedure = nullptr;
LRESULT CALLBACK TestProcedureOnTop(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(g_belowTestProcedure, hwnd, message, wParam, lParam);
}

TEST_F(PluginObjectTest, AHostWindowStillRunningThePluginsProcedureKeepsTheModule) {
    const HWND host = MakeOwnHost();
    ASSERT_TRUE(host);
    const LONG_PTR ownProcedure = GetWindowLongPtrW(host, GWLP_WNDPROC);
    plugin_ = module_.NewPlugin();
    ASSERT_EQ(S_OK, plugin_->SetCore(engine_->Core()));
    HWND made = nullptr;
    ASSERT_EQ(S_OK, plugin_->Create(host, &made));

    // Someone subclasses the host on top of the plug-in, then the plug-in goes.
    g_belowTestProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TestProcedureOnTop)));
    EXPECT_EQ(S_OK, plugin_->Destroy());
    EXPECT_EQ(S_OK, plugin_->SetCore(nullptr));
    plugin_.reset();
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow()) << "its procedure is still called";
    SetWindowPos(host, nullptr, 0, 0, 480, 380, SWP_NOZORDER | SWP_NOMOVE);  // messages still pass through

    // Once the procedure on top has gone, the next message hands the host back.
    SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_belowTestProcedure));
    SendMessageW(host, WM_NULL, 0, 0);
    EXPECT_EQ(ownProcedure, GetWindowLongPtrW(host, GWLP_WNDPROC));
    EXPECT_TRUE(PumpUntil([&] { return module_.CanUnloadNow() == S_OK; }, 15000));
    DestroyWindow(host);
}

// The host window's own procedure, below the plug-in's: records whether the module could have
// been unloaded while it handled the window's last messages.
WNDPROC g_hostOwnProcedure = nullptr;
const SonavireModule* g_moduleUnderTest = nullptr;
std::vector<HRESULT> g_unloadAnswersWhileDestroying;
LRESULT CALLBACK RecordingHostProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if ((message == WM_DESTROY || message == WM_NCDESTROY) && g_moduleUnderTest)
        g_unloadAnswersWhileDestroying.push_back(g_moduleUnderTest->CanUnloadNow());
    return CallWindowProcW(g_hostOwnProcedure, hwnd, message, wParam, lParam);
}

TEST_F(PluginObjectTest, AHostWindowDestroyedUnderAnotherProcedureLetsTheModuleGo) {
    const HWND host = MakeOwnHost();
    g_hostOwnProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingHostProcedure)));
    plugin_ = module_.NewPlugin();
    HWND made = nullptr;
    ASSERT_EQ(S_OK, plugin_->Create(host, &made));
    g_belowTestProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TestProcedureOnTop)));
    plugin_->Destroy();
    plugin_.reset();
    EXPECT_EQ(S_FALSE, module_.CanUnloadNow());
    g_moduleUnderTest = &module_;
    g_unloadAnswersWhileDestroying.clear();
    DestroyWindow(host);
    g_moduleUnderTest = nullptr;
    // The plug-in's procedure is on the stack while the one below runs: the module stays till then.
    EXPECT_EQ((std::vector<HRESULT>{S_FALSE, S_FALSE}), g_unloadAnswersWhileDestroying);
    EXPECT_TRUE(PumpUntil([&] { return module_.CanUnloadNow() == S_OK; }, 15000));
}

TEST_F(PluginObjectTest, ReleasingAnOlderObjectLeavesANewerOneWorking) {
    const HWND host = MakeOwnHost();
    ComPtr<IWMPPluginUI> older = module_.NewPlugin();
    HWND made = nullptr;
    ASSERT_EQ(S_OK, older->SetCore(engine_->Core()));
    ASSERT_EQ(S_OK, older->Create(host, &made));
    plugin_ = module_.NewPlugin();
    ASSERT_EQ(S_OK, plugin_->SetCore(engine_->Core()));
    ASSERT_EQ(S_OK, plugin_->Create(host, &made));
    const LONG_PTR pluginProcedure = GetWindowLongPtrW(host, GWLP_WNDPROC);
    EXPECT_EQ(S_OK, older->Destroy());
    EXPECT_EQ(S_OK, older->SetCore(nullptr));
    older.reset();

    EXPECT_EQ(pluginProcedure, GetWindowLongPtrW(host, GWLP_WNDPROC)) << "the newer object's host is kept";
    SetWindowPos(host, nullptr, 0, 50, 400, 300, SWP_NOZORDER);
    EXPECT_EQ(0, RectInParent(host).top) << "the host is still held at the top of its parent";
    engine_->Open(1, true);  // untimed lyrics: re-sync starts once they are shown
    Deliver();
    EXPECT_TRUE(PumpUntil([&] { return PluginWindows::In(host).StatusText() == kClickToAdvance; }))
        << "status: " << PluginWindows::In(host).StatusText();
}

TEST_F(PluginObjectTest, CreateAfterTheHostDiedWithoutDestroyLooksLyricsUpAgain) {
    plugin_ = module_.NewPlugin();
    ASSERT_EQ(S_OK, plugin_->SetCore(engine_->Core()));
    HWND made = nullptr;
    const HWND first = MakeOwnHost();
    ASSERT_EQ(S_OK, plugin_->Create(first, &made));
    DestroyWindow(first);  // the player drops the area without calling Destroy

    const HWND second = MakeOwnHost();
    ASSERT_EQ(S_OK, plugin_->Create(second, &made));
    engine_->Open(1, true);  // untimed lyrics: re-sync starts once they are shown
    Deliver();
    EXPECT_TRUE(PumpUntil([&] { return PluginWindows::In(second).StatusText() == kClickToAdvance; }))
        << "status: " << PluginWindows::In(second).StatusText();
    EXPECT_EQ(S_OK, plugin_->Destroy());
}

// ---------------------------------------------------------------------------------------------
// The host window's place.

TEST_F(PluginObjectTest, TheHostWindowFillsItsParentForAudioAndHidesForOtherMedia) {
    engine_->SetPlaylist({WithMediaType(AudioTrack(L"A", L"One", L"", 30), L"audio"),
                          WithMediaType(AudioTrack(L"B", L"Two", L"", 30), L"Audio"),
                          WithMediaType(AudioTrack(L"C", L"Three", L"", 30), L"video"),
                          WithMediaType(AudioTrack(L"D", L"Four", L"", 30), nullptr)});
    engine_->SetMissingAttributeAnswer(sv::standin::MissingAttributeAnswer::Failure);
    ASSERT_EQ(S_OK, LoadPlugin());
    const HWND host = player_->HostWindow();
    RECT area;
    GetClientRect(player_->SettingsArea(), &area);

    auto placeHost = [&](UINT extraFlags) {
        SetWindowPos(host, nullptr, 7, 50, 300, 100, SWP_NOZORDER | SWP_NOACTIVATE | extraFlags);
    };
    auto expectFilling = [&](int width) {
        const RECT rect = RectInParent(host);
        EXPECT_TRUE(IsWindowVisible(host));
        EXPECT_EQ(0, rect.top);
        EXPECT_EQ(area.bottom, rect.bottom - rect.top) << "the parent's full client height";
        EXPECT_EQ(width, rect.right - rect.left) << "the player's width stays";
    };

    // No current item: shown.
    placeHost(0);
    expectFilling(300);
    EXPECT_EQ(7, RectInParent(host).left);

    const struct {
        int track;
        bool shown;
    } cases[] = {{0, true}, {1, true}, {2, false}, {3, false}, {0, true}};
    for (const auto& item : cases) {
        SCOPED_TRACE(testing::Message() << "track " << item.track);
        engine_->Open(item.track, false);
        Deliver();
        placeHost(SWP_SHOWWINDOW);
        if (item.shown) {
            expectFilling(300);
        } else {
            EXPECT_FALSE(IsWindowVisible(host)) << "the player's own picture must show";
        }
    }

    // A move-only or size-only request does not shrink the host to the values it left unset.
    SetWindowPos(host, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
    expectFilling(300);
}

// ---------------------------------------------------------------------------------------------
// Re-sync and upload.

class UploadTest : public PluginObjectTest {
protected:
    static constexpr int kLines = 8;

    void SetUp() override {
        PluginObjectTest::SetUp();
        // Untimed again for every test: an upload before makes the service's copy timed.
        std::string lrc = "[ar:Sonavire Tests]\n[ti:Untimed Hymn]\n";
        for (int i = 0; i < kLines; ++i) lrc += "verse line " + std::to_string(i) + "\n";
        ASSERT_FALSE(service_.AddSongLrc(lrc).empty());
        engine_->SetPlaylist({AudioTrack(L"Sonavire Tests", L"Untimed Hymn", L"", 60.0)});
    }
    // Untimed lyrics start re-sync where the track is: the player is told to play, not rewound.
    void OpenUntimedSong() {
        ASSERT_EQ(S_OK, LoadPlugin());
        engine_->Open(0, true);
        Deliver();
        ASSERT_TRUE(WaitForStatus(kClickToAdvance));
        EXPECT_TRUE(Contains(Calls(), "controls.play"));
        EXPECT_FALSE(ContainsPrefix(Calls(), "controls.put_currentPosition"));
    }
    void ClickLyricsAfter(double seconds) {
        clock_ += seconds;
        const HWND lyrics = Windows().lyrics;
        RECT client;
        GetClientRect(lyrics, &client);
        const LPARAM point = MAKELPARAM(client.right / 2, client.bottom / 2);
        SendMessageW(lyrics, WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(lyrics, WM_LBUTTONUP, 0, point);
    }
};

TEST_F(UploadTest, ReTimedLyricsAreUploadedAtTheEndOfTheMediaAndOnlyThen) {
    OpenUntimedSong();
    // Every line after the first gets a time (untimed lines left at 0 would fail the test).
    for (int i = 1; i < kLines; ++i) ClickLyricsAfter(1.5);
    EXPECT_TRUE(service_.Requests(kSavePath).empty()) << "nothing is sent before the end";

    engine_->EndCurrentTrack();
    Deliver();
    EXPECT_EQ(kSaving, Windows().StatusText());
    const auto saves = service_.WaitForRequests(kSavePath, 1);
    ASSERT_EQ(1u, saves.size());
    EXPECT_EQ("POST", saves[0].method);
    EXPECT_EQ("Sonavire Tests", saves[0].Query("artist"));
    EXPECT_EQ("Untimed Hymn", saves[0].Query("title"));
    EXPECT_EQ(
        "[00:00.00] verse line 0[00:01.50] verse line 1[00:03.00] verse line 2[00:04.50] verse line 3"
        "[00:06.00] verse line 4[00:07.50] verse line 5[00:09.00] verse line 6[00:10.50] verse line 7",
        saves[0].body.substr(0, saves[0].body.find('\0')));
}

TEST_F(UploadTest, LinesStampedTooCloseTogetherAreNotUploaded) {
    OpenUntimedSong();
    for (int i = 1; i < kLines; ++i) ClickLyricsAfter(0.4);
    engine_->EndCurrentTrack();
    Deliver();
    EXPECT_EQ(kClickToAdvance, Windows().StatusText()) << "no save was started";
    EXPECT_TRUE(service_.Requests(kSavePath).empty());
}

// ---------------------------------------------------------------------------------------------
// Panes and splitter.

TEST_F(PluginObjectTest, ThePanesAreLaidOutAroundTheSplitter) {
    ASSERT_EQ(S_OK, LoadPlugin());
    const PluginWindows windows = Windows();
    ASSERT_TRUE(windows.found());
    const std::vector<HWND>& panes = windows.panes;
    ASSERT_EQ(6u, panes.size());
    const wchar_t* classes[] = {L"SVPluginStatus", L"SVPluginAction", L"SVPluginBrowse",
                                L"SVPluginBrowse", L"SVPluginLyrics", L"SVPluginLyrics"};
    for (size_t i = 0; i < panes.size(); ++i) {
        EXPECT_EQ(classes[i], ClassOf(panes[i])) << "pane " << i;
        // The lyrics pane's scroll bar is hidden until manual scroll is switched on.
        EXPECT_EQ(0x52000000, GetWindowLongPtrW(panes[i], GWL_STYLE) & ~static_cast<LONG_PTR>(WS_VSCROLL))
            << "pane " << i;
    }

    MoveWindow(windows.main, 0, 0, 600, 400, TRUE);
    const struct {
        HWND hwnd;
        RECT expected;
        const char* name;
    } layout[] = {
        {windows.browse, {0, 1, 600, 180}, "browse"},      {windows.lyrics, {118, 183, 410, 380}, "lyrics"},
        {windows.actionBar, {0, 183, 118, 335}, "action"}, {windows.logo, {0, 335, 118, 380}, "logo"},
        {windows.advert, {410, 183, 600, 380}, "advert"},  {windows.statusLine, {0, 380, 600, 400}, "status"},
    };
    for (const auto& pane : layout) {
        const RECT rect = RectInParent(pane.hwnd);
        EXPECT_TRUE(EqualRect(&rect, &pane.expected))
            << pane.name << ": " << rect.left << "," << rect.top << "," << rect.right << "," << rect.bottom;
    }
}

TEST_F(PluginObjectTest, DroppingTheSplitterStoresTheLowerPartsHeight) {
    ASSERT_EQ(S_OK, LoadPlugin());
    const PluginWindows windows = Windows();
    MoveWindow(windows.main, 0, 0, 600, 400, TRUE);

    auto storedSplitPos = [&]() -> long {
        const auto value = key_->GetUser(L"SplitPos");
        if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) return -1;
        return static_cast<long>(*reinterpret_cast<const DWORD*>(value->bytes.data()));
    };
    auto drag = [&](int to) {
        SendMessageW(windows.main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 181));
        SendMessageW(windows.main, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, (to + 181) / 2));
        SendMessageW(windows.main, WM_LBUTTONUP, 0, MAKELPARAM(300, static_cast<WORD>(static_cast<SHORT>(to))));
    };

    SendMessageW(windows.main, WM_LBUTTONUP, 0, MAKELPARAM(300, 50));
    EXPECT_EQ(-1, storedSplitPos()) << "a release without a drag changes nothing";

    const struct {
        int dropY;
        long splitPos;
    } drops[] = {{300, 223}, {10, 390}, {-40, 400}, {100, 300}};
    for (const auto& drop : drops) {
        SCOPED_TRACE(testing::Message() << "drop at y " << drop.dropY);
        drag(drop.dropY);
        EXPECT_EQ(drop.splitPos, storedSplitPos());
        EXPECT_EQ(nullptr, GetCapture());
        const RECT browse = RectInParent(windows.browse);
        const RECT lyrics = RectInParent(windows.lyrics);
        const int split = 400 - static_cast<int>(drop.splitPos);
        EXPECT_EQ(std::max(1, split), browse.bottom);
        EXPECT_EQ(split + 3, lyrics.top);
        EXPECT_EQ(380, lyrics.bottom);
    }
}

}  // namespace
