// The longest time Sonavire holds the player's thread in the moments where it used to: one line
// per scenario, "stall <scenario>: longest <N> ms" (the goal is under 20 ms each). The gap is the
// longest wait of the player's message loop (tools/common/loop_gap.h) while:
//   window       the plug-in's window is created with the service silent;
//   sign-in      the sign-in check runs with the service silent (cancelled after 3 s);
//   lookups      20 lookups start in a row, the service answering after 2 s (fetch-bench's);
//   long-lyrics  a 10,000-line document arrives;
//   cut-reply    a 50 MB reply is cut (the stand-in serves at most 8 MiB of it, made before);
//   track-storm  tracks change every 25 ms for 2 s with the service silent;
//   resync-click a re-sync click on untimed lyrics;
//   translation  the translation arrives mid-song.
// First, loop-alone: the loop for 2 s with no plug-in loaded, the machine's own floor. After each
// figure, "[machine: a 1 ms sleep took up to M ms meanwhile]": the longest sleep, in that very gap,
// of a thread of the bench that does nothing but sleep 1 ms (tools/common/idle_probe.h), the part
// of the gap the machine itself held every thread of the process.
//
// It changes the plug-in's key and the user's Sonavire key of the prefix it runs in (pointed at the
// stand-in, removed at the end), as the tests do:
//   scripts/with-standin.sh <sonavire-server> -- scripts/wine-run.sh stall-bench.exe
#include <windows.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/com_ptr.h"
#include "base/module_lock.h"
#include "base/utf.h"
#include "dll/application.h"
#include "bench_clock.h"
#include "idle_probe.h"
#include "loop_gap.h"
#include "thread_sampler.h"
#include "main_window/plugin_window.h"
#include "player_engine.h"
#include "player_window.h"
#include "plugin/sonavire.h"
#include "resources/resource_ids.h"
#include "standin_client.h"
#include "win_test_support.h"

namespace {

using sv::standin::PlayerEngine;
using sv::standin::PlayerWindow;
using sv::standin::Track;
using Gap = tools::LoopGapMeter::Gap;

constexpr char kServices[] = "/sonavire/services/";
std::string ServicePath(const char* name) { return std::string(kServices) + name; }

void EmptyFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.xml").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do DeleteFileW((folder + L"\\" + found.cFileName).c_str());
    while (FindNextFileW(search, &found));
    FindClose(search);
}

// The stand-in player with the plug-in loaded, its cache in a folder of its own.
class Bench {
public:
    Bench()
        : service_(svtest::StandinClient::FromEnvironment()),
          engine_([this] { return clock_; }),
          player_(GetModuleHandleW(nullptr), engine_) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        cacheFolder_ = std::wstring(temp) + L"sonavire-stall-bench-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(cacheFolder_.c_str(), nullptr);
        engine_.SetPlaylist({Track::Audio(L"Blue Harbour", L"Night Train", L"First Light", 240.0),
                             Track::Audio(L"Traditional", L"Amazing Grace", L"", 240.0),
                             Track::Audio(L"Blue Harbour", L"The Long Road", L"", 240.0)});
        RECT frame{40, 40, 840, 640};
        player_.Create(&frame, true);
    }
    ~Bench() {
        player_.UnloadPlugin();
        svtest::PumpUntil([] { return sv::ModuleLockCount() == 0; }, 15000);
        EmptyFolder(cacheFolder_);
        RemoveDirectoryW(cacheFolder_.c_str());
        service_.ResetBehaviours();
    }

    svtest::StandinClient& Service() { return service_; }
    PlayerEngine& Engine() { return engine_; }
    double& Clock() { return clock_; }

    bool Load() {
        sv::ComPtr<IWMPPluginUI> plugin;
        sv::MainWindowOptions options;
        options.isConnected = [] { return true; };
        options.cacheFolder = sv::AsU16(cacheFolder_.c_str());
        options.scriptBridge = sv::Application().ScriptBridge();
        if (CSonavire::CreateInstance(sv::kIidWmpPluginUi, plugin.put_void(), std::move(options)) != S_OK) return false;
        return player_.LoadPluginObject(plugin.get()) == S_OK && Window();
    }
    void Unload() {
        player_.UnloadPlugin();
        svtest::PumpUntil([] { return sv::ModuleLockCount() == 0; }, 30000);
    }
    sv::CSVPluginWindow* Window() {
        auto* plugin = static_cast<CSonavire*>(player_.Plugin().Plugin());
        return plugin ? plugin->Window() : nullptr;
    }
    void Open(int index) {
        engine_.Open(index, true);
        engine_.DeliverPendingEvents();
    }
    bool WaitForShown(const std::function<bool(const sv::LyricsDocument&)>& match, DWORD timeoutMs = 20000) {
        return svtest::PumpUntil(
            [&] {
                const sv::LyricsDocument* shown = Window() ? Window()->ShownDocument() : nullptr;
                return shown && match(*shown);
            },
            timeoutMs);
    }
    // Nothing of the plug-in's runs on a worker any more (besides the plug-in's own lock).
    bool WaitForWorkers(long baseline, DWORD timeoutMs = 30000) {
        return svtest::PumpUntil([&] { return sv::ModuleLockCount() <= baseline; }, timeoutMs);
    }
    void ClearCache() { EmptyFolder(cacheFolder_); }

private:
    svtest::StandinClient service_;
    svtest::StandinKeyScope key_;
    double clock_ = 0;
    PlayerEngine engine_;
    PlayerWindow player_;
    std::wstring cacheFolder_;
};

// With --profile: the player's thread sampled all along, and the stacks it was in during each
// scenario's longest gap printed under its line (scripts/stall-profile.sh names them). With
// --gaps (or --profile): when each longest gap began and ended, in seconds of the performance
// counter (Wine's is CLOCK_MONOTONIC_RAW), to find it in a system-wide `perf record -k
// monotonic_raw`.
tools::ThreadSampler* profile = nullptr;
bool printGaps = false;
tools::IdleProbe* idle = nullptr;

void Print(const char* scenario, const Gap& longest, const char* note = "") {
    const double slept = idle->LongestSleepWithin(longest.from, longest.to);
    char machine[80];
    if (slept > 0)
        std::snprintf(machine, sizeof machine, " [machine: a 1 ms sleep took up to %.1f ms meanwhile]", slept);
    else
        std::snprintf(machine, sizeof machine, " [machine: a 1 ms sleep took under %.0f ms meanwhile]",
                      tools::IdleProbe::kNotedMs);
    std::printf("stall %s: longest %.1f ms%s%s\n", scenario, longest.ms, note, machine);
    if (printGaps) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        std::printf("  gap %.6f %.6f\n", static_cast<double>(longest.from) / frequency.QuadPart,
                    static_cast<double>(longest.to) / frequency.QuadPart);
    }
    if (profile) {
        for (const std::string& stack : profile->Stacks(longest.from, longest.to))
            std::printf("  stack %s\n", stack.c_str());
        profile->Clear();
    }
    std::fflush(stdout);
}

void Pump(DWORD ms) {
    svtest::PumpUntil([] { return false; }, ms);
}

// Under Wine the bench's own change to the machine's registry (the plug-in's key, pointed at the
// stand-in) is written out by Wine's server within 30 s: all of system.reg, some 3 MB, during which
// every thread of every Wine process waits for the server, the player's too (40-150 ms on the
// 2-core machine). That is no cost of the plug-in's, so the bench lets it pass before it measures.
// Not under Wine (no WINEPREFIX) or no file found: nothing to wait for.
void WaitForRegistrySave() {
    wchar_t prefix[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return;
    std::wstring path = std::wstring(L"Z:") + prefix + L"/system.reg";
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    auto written = [&path] {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0ULL;
        return (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    };
    const ULONGLONG before = written();
    if (!before) return;
    const tools::BenchClock clock;
    const bool saved = svtest::PumpUntil([&] { return written() != before; }, 32000);
    std::printf("stall-bench: %s %.1f s for Wine to save the registry\n", saved ? "waited" : "gave up after",
                clock.ElapsedMs() / 1000);
    std::fflush(stdout);
}

Gap WindowCreated(Bench& bench, tools::LoopGapMeter& meter, double& loadMs) {
    bench.Service().SetBehaviour(ServicePath("getSupportedLanguages.php"), "delay", 10000);
    Pump(50);
    meter.Restart();
    const tools::BenchClock clock;
    bench.Load();
    loadMs = clock.ElapsedMs();
    Pump(3500);  // past the language list's own wait
    const Gap longest = meter.Longest();
    bench.Service().ResetBehaviours();
    return longest;
}

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM found) {
    if (svtest::ClassOf(hwnd) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

Gap SignInCheck(Bench& bench, tools::LoopGapMeter& meter) {
    const std::string path = ServicePath("appVerifyUser.php");
    bench.Service().SetBehaviour(path, "delay", 20000);
    bench.Service().ClearRequests();
    const DWORD uiThread = GetCurrentThreadId();
    std::thread user([&] {
        HWND dialog = nullptr;
        for (int i = 0; i < 2000 && !dialog; ++i) {
            Sleep(5);
            EnumThreadWindows(uiThread, &FindDialog, reinterpret_cast<LPARAM>(&dialog));
        }
        if (!dialog) return;
        SetDlgItemTextW(dialog, IDC_SIGN_IN_USER, L"anna");
        SetDlgItemTextW(dialog, IDC_SIGN_IN_PASSWORD, L"secret");
        PostMessageW(GetDlgItem(dialog, IDC_SIGN_IN_BUTTON), BM_CLICK, 0, 0);
        bench.Service().WaitForRequests(path, 1);
        Sleep(3000);
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_SIGN_IN_CANCEL, BN_CLICKED), 0);
    });
    meter.Restart();
    bench.Window()->ExecuteCommand(CMD_SIGN_IN);
    const Gap longest = meter.Longest();
    user.join();
    bench.Service().ResetBehaviours();
    return longest;
}

Gap TwentyLookups(Bench& bench, tools::LoopGapMeter& meter, long baseline, double& burstMs) {
    bench.ClearCache();
    bench.Service().SetBehaviour(ServicePath("getLyricXML_2"), "delay", 2000);
    sv::CSVPluginWindow& window = *bench.Window();
    window.RequestDocument().SetArtist(u"Blue Harbour");
    window.RequestDocument().SetTitle(u"The Long Road");
    window.RequestDocument().sourceKind = sv::MediaSource::Player;
    Pump(20);
    meter.Restart();
    const tools::BenchClock clock;
    for (int i = 0; i < 20; ++i) window.StartLyricsFetch(IDS_STATUS_LOADING);
    burstMs = clock.ElapsedMs();
    bench.WaitForShown([](const sv::LyricsDocument& shown) { return shown.Title() == u"The Long Road"; });
    bench.WaitForWorkers(baseline);
    const Gap longest = meter.Longest();
    bench.Service().ResetBehaviours();
    return longest;
}

// A reply that holds 10,000 lines of the stand-in's large lyrics and a few more: its lines, with
// their random timing keys, average 62.7 bytes (about 10,050 lines in 630,000 bytes, never fewer
// than 10,000 in practice).
Gap LongLyrics(Bench& bench, tools::LoopGapMeter& meter, long baseline, int& lines) {
    bench.ClearCache();
    bench.Service().SetBehaviour(ServicePath("getLyricXML_2"), "large", 0, 0, 10000L * 63);
    bench.Clock() = 0;
    Pump(20);
    meter.Restart();
    bench.Open(2);
    bench.WaitForShown([](const sv::LyricsDocument& shown) { return shown.LineCount() > 1000; });
    Pump(100);
    const Gap longest = meter.Longest();
    lines = bench.Window()->ShownDocument() ? bench.Window()->ShownDocument()->LineCount() : 0;
    bench.WaitForWorkers(baseline);
    bench.Service().ResetBehaviours();
    return longest;
}

Gap CutReply(Bench& bench, tools::LoopGapMeter& meter, long baseline) {
    bench.ClearCache();
    bench.Service().SetBehaviour(ServicePath("getLyricXML_2"), "large", 0, 0, 50L * 1024 * 1024);
    // The stand-in makes the reply once and keeps it: made now, its second of CPU on this 2-core
    // machine is not taken from the player's thread while the plug-in reads and cuts it.
    bench.Service().Get(ServicePath("getLyricXML_2") + "?artist=stall&title=bench");
    Pump(20);
    meter.Restart();
    bench.Open(1);
    bench.WaitForShown([](const sv::LyricsDocument& shown) { return shown.Title() == u"Amazing Grace"; }, 60000);
    bench.WaitForWorkers(baseline, 60000);
    const Gap longest = meter.Longest();
    bench.Service().ResetBehaviours();
    return longest;
}

Gap TrackStorm(Bench& bench, tools::LoopGapMeter& meter, long baseline) {
    bench.ClearCache();
    for (const char* name : {"getLyricXML_2", "getLyricVerXML.php"})
        bench.Service().SetBehaviour(ServicePath(name), "delay", 20000);
    Pump(20);
    meter.Restart();
    for (int i = 0; i < 80; ++i) {  // 2 s
        bench.Open(i % 3);
        Pump(25);
    }
    const Gap longest = meter.Longest();
    bench.Service().ResetBehaviours();
    bench.WaitForWorkers(baseline, 60000);
    return longest;
}

Gap ResyncClick(Bench& bench, tools::LoopGapMeter& meter) {
    sv::CSVPluginWindow& window = *bench.Window();
    auto document = std::make_unique<sv::LyricsDocument>();
    document->SetArtist(u"Blue Harbour");
    document->SetTitle(u"Untimed");
    document->sourceKind = sv::MediaSource::Player;
    for (int i = 0; i < 40; ++i)
        document->AddLine(
            std::u16string(u"An untimed line of the song, number ") + sv::AsU16(std::to_wstring(i).c_str()), u"");
    document->status = sv::LyricsStatus::Untimed;
    window.SetDocument(std::move(document));  // re-sync starts at once
    Pump(50);
    const HWND pane = window.LyricsPane().Hwnd();
    RECT client{};
    GetClientRect(pane, &client);
    const LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
    meter.Restart();
    PostMessageW(pane, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    PostMessageW(pane, WM_LBUTTONUP, 0, middle);
    Pump(200);
    return meter.Longest();
}

Gap TranslationMidSong(Bench& bench, tools::LoopGapMeter& meter, long baseline) {
    bench.ClearCache();
    bench.Clock() = 0;
    bench.Open(0);
    bench.WaitForShown([](const sv::LyricsDocument& shown) { return shown.Title() == u"Night Train"; });
    bench.Clock() = 12.0;
    sv::CSVPluginWindow& window = *bench.Window();
    Pump(50);
    meter.Restart();
    window.RequestDocument().SetLanguage(u"de");
    window.StartLyricsFetch(IDS_STATUS_TRANSLATING);
    bench.WaitForShown([](const sv::LyricsDocument& shown) { return shown.Language() == u"de"; });
    Pump(100);
    const Gap longest = meter.Longest();
    bench.WaitForWorkers(baseline);
    return longest;
}

// What one call into the window system costs here: a window property read, which under Wine is
// a round trip to Wine's server (on Windows, a call into the kernel). Most of what the plug-in does
// on the player's thread is made of such calls.
void PrintServerCallCost() {
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window) return;
    constexpr int kCalls = 2000;
    const tools::BenchClock clock;
    for (int i = 0; i < kCalls; ++i) GetPropW(window, L"SonavireStallBench");
    const double ms = clock.ElapsedMs();
    DestroyWindow(window);
    std::printf("stall-bench: a call into the window system (GetPropW) takes %.1f us here\n", 1000.0 * ms / kCalls);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    std::unique_ptr<tools::ThreadSampler> sampler;
    const std::string option = argc > 1 ? argv[1] : "";
    printGaps = option == "--gaps" || option == "--profile";
    if (option == "--profile") {
        sampler = std::make_unique<tools::ThreadSampler>(GetCurrentThreadId());
        profile = sampler.get();
    }
    tools::IdleProbe probe;
    idle = &probe;
    sv::StartApplication();
    try {
        Bench bench;
        WaitForRegistrySave();
        PrintServerCallCost();
        tools::LoopGapMeter meter;
        // The same loop with no plug-in at all: what this machine's scheduling alone costs, the
        // floor under every figure below.
        meter.Restart();
        Pump(2000);
        Print("loop-alone", meter.Longest(), " (no plug-in loaded, 2 s)");
        // The first window of the process also loads what the system loads once (COM classes,
        // the browser control); the second is what every later start costs.
        for (const char* which : {" (first in the process", " (again"}) {
            double loadMs = 0;
            const Gap longest = WindowCreated(bench, meter, loadMs);
            char note[96];
            std::snprintf(note, sizeof note, "%s; creating it took %.1f ms)", which, loadMs);
            Print("window", longest, note);
            if (!bench.Window()) {
                std::printf("stall-bench: the plug-in did not load (is there a display and the stand-in?)\n");
                return 1;
            }
            bench.Unload();
        }
        bench.Load();
        Pump(500);
        const long baseline = sv::ModuleLockCount();
        Print("sign-in", SignInCheck(bench, meter));
        double burstMs = 0;
        const Gap lookups = TwentyLookups(bench, meter, baseline, burstMs);
        char burst[64];
        std::snprintf(burst, sizeof burst, " (starting the 20 took %.1f ms)", burstMs);
        Print("lookups", lookups, burst);
        int lines = 0;
        const Gap longLyrics = LongLyrics(bench, meter, baseline, lines);
        const std::string note = " (" + std::to_string(lines) + " lines)";
        Print("long-lyrics", longLyrics, note.c_str());
        Print("cut-reply", CutReply(bench, meter, baseline));
        Print("track-storm", TrackStorm(bench, meter, baseline));
        Print("resync-click", ResyncClick(bench, meter));
        Print("translation", TranslationMidSong(bench, meter, baseline));
    } catch (const std::exception& e) {
        std::printf("stall-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
