// Figures for the lyrics fetch workers, against the stand-in service:
//  1. the user-interface thread never waits for a lyrics request: with the service answering
//     after 2 s, a window's message loop starts 20 fetches in a row and keeps handling messages;
//     the longest gap between two handled messages is printed (goal: under 20 ms);
//  2. from StartLyricsFetch to WM_SV_LYRICS_READY, median over many runs, for a cache hit whose
//     version check answers at once, and for a full fetch of a 200-line song over loopback.
//
// Run it with the stand-in, in a Wine prefix whose plug-in key it may change (the lyrics host is
// pointed at the stand-in and put back afterwards):
//   scripts/with-standin.sh <sonavire-server> -- scripts/wine-run.sh fetch-bench.exe
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/utf.h"
#include "lyrics/lyrics_document.h"
#include "base/module_lock.h"
#include "base/win_handles.h"
#include "settings/settings.h"
#include "settings/plugin_identity.h"
#include "service/lyrics_requests.h"
#include "service/server_hosts.h"
#include "standin_client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr UINT kTick = WM_APP + 1;
constexpr UINT kStartFetches = WM_APP + 2;
constexpr char kFetchPath[] = "/sonavire/services/getLyricXML_2";

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

sv::LyricsDocument Request(const char16_t* artist, const char16_t* title) {
    sv::LyricsDocument request;
    request.SetArtist(artist);
    request.SetTitle(title);
    request.sourceKind = sv::MediaSource::Player;
    request.status = sv::LyricsStatus::NotFound;
    return request;
}

sv::ServiceQuerySettings QuerySettings() {
    sv::ServiceQuerySettings settings;
    settings.deviceText = u"1000";
    settings.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    settings.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    return settings;
}

// The plug-in key with the lyrics host at the stand-in; what was there before comes back at the end.
class LyricsHostAtStandin {
public:
    explicit LyricsHostAtStandin(const std::string& hostPort) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, sv::kPluginKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition) != ERROR_SUCCESS)
            return;
        key_.reset(key);
        createdKey_ = disposition == REG_CREATED_NEW_KEY;
        previous_ = sv::ReadPluginText(sv::kLyricsHostValue);
        sv::WritePluginText(sv::kLyricsHostValue, std::wstring(hostPort.begin(), hostPort.end()));
    }
    ~LyricsHostAtStandin() {
        if (!key_) return;
        if (previous_)
            sv::WritePluginText(sv::kLyricsHostValue, *previous_);
        else
            RegDeleteValueW(key_.get(), sv::kLyricsHostValue);
        key_.reset();
        if (createdKey_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, sv::kPluginKey);
    }
    bool ok() const { return static_cast<bool>(key_); }

private:
    sv::UniqueHkey key_;
    bool createdKey_ = false;
    std::optional<std::wstring> previous_;
};

// A private cache folder, emptied on demand and removed at the end.
class CacheFolder {
public:
    CacheFolder() {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"sonavire-fetch-bench-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
    }
    ~CacheFolder() {
        Empty();
        RemoveDirectoryW(folder_.c_str());
    }
    void Empty() {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder_ + L"\\*.xml").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do DeleteFileW((folder_ + L"\\" + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }

    std::u16string Folder() const { return sv::AsU16(folder_.c_str()); }

private:
    std::wstring folder_;
};

// The message loop under test: a window, a tick posted whenever the queue runs dry for 1 ms, and
// the gaps between handled messages.
struct LoopState {
    explicit LoopState(std::u16string cacheFolder = sv::UserCacheFolder()) : fetcher(std::move(cacheFolder)) {}
    sv::LyricsFetcher fetcher;
    HWND window = nullptr;
    int fetchesToStart = 0;
    int repliesWanted = 0;
    int replies = 0;
    double startBurstMs = 0;
    std::vector<sv::LyricsStatus> statuses;
};

LoopState* g_loop = nullptr;

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kStartFetches && g_loop) {
        const auto start = Clock::now();
        const sv::LyricsDocument request = Request(u"Blue Harbour", u"The Long Road");
        const sv::ServiceQuerySettings settings = QuerySettings();
        for (int i = 0; i < g_loop->fetchesToStart; ++i) g_loop->fetcher.StartLyricsFetch(window, request, settings);
        g_loop->startBurstMs = MillisecondsSince(start);
        return 0;
    }
    if (message == sv::WM_SV_LYRICS_READY) {
        auto document = g_loop ? g_loop->fetcher.TakeReply(wParam) : nullptr;
        if (g_loop) {
            ++g_loop->replies;
            g_loop->statuses.push_back(document ? document->status : sv::LyricsStatus::None);
        }
        return 0;
    }
    if (message == kTick) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = BenchWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SonavireFetchBench";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

// Runs the loop until the wanted replies came or the deadline passed; returns the longest gap.
double RunLoop(LoopState& state, double deadlineMs, size_t& handled) {
    const auto start = Clock::now();
    auto lastHandled = Clock::now();
    double longestGap = 0;
    handled = 0;
    while (state.replies < state.repliesWanted && MillisecondsSince(start) < deadlineMs) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            const auto now = Clock::now();
            const double gap = std::chrono::duration<double, std::milli>(now - lastHandled).count();
            longestGap = std::max(longestGap, gap);
            lastHandled = now;
            ++handled;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (MsgWaitForMultipleObjectsEx(0, nullptr, 1, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_TIMEOUT)
            PostMessageW(state.window, kTick, 0, 0);
    }
    return longestGap;
}

bool WaitForWorkers(long baseline, double timeoutMs) {
    const auto start = Clock::now();
    while (sv::ModuleLockCount() > baseline) {
        if (MillisecondsSince(start) > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

// The same loop with nothing else to do: how long the machine itself keeps it waiting.
double LoopAloneLongestGap(HWND window, double durationMs, size_t& handled) {
    LoopState state;
    state.window = window;
    state.repliesWanted = 1;  // never comes: runs for the whole duration
    g_loop = &state;
    const double gap = RunLoop(state, durationMs, handled);
    g_loop = nullptr;
    return gap;
}

DWORD WINAPI SleepBriefly(LPVOID) {
    Sleep(2000);
    return 0;
}

DWORD WINAPI StartSleepers(LPVOID count) {
    for (INT_PTR i = 0; i < reinterpret_cast<INT_PTR>(count); ++i)
        CloseHandle(CreateThread(nullptr, 0, SleepBriefly, nullptr, 0, nullptr));
    return 0;
}

// The same loop while another thread starts as many threads that only sleep: what starting that
// many threads costs the loop on this system, whatever they do.
double LoopWithBareThreadsLongestGap(HWND window, int threads, double durationMs) {
    LoopState state;
    state.window = window;
    state.repliesWanted = 1;
    g_loop = &state;
    CloseHandle(
        CreateThread(nullptr, 0, StartSleepers, reinterpret_cast<LPVOID>(static_cast<INT_PTR>(threads)), 0, nullptr));
    size_t handled = 0;
    const double gap = RunLoop(state, durationMs, handled);
    g_loop = nullptr;
    return gap;
}

int BenchResponsiveness(svtest::StandinClient& client, HWND window, CacheFolder& cache) {
    constexpr int kFetches = 20;
    cache.Empty();
    client.SetBehaviour(kFetchPath, "delay", 2000);
    LoopState state(cache.Folder());
    state.window = window;
    state.fetchesToStart = kFetches;
    state.repliesWanted = kFetches;
    g_loop = &state;
    const long baseline = sv::ModuleLockCount();
    const auto start = Clock::now();
    PostMessageW(window, kStartFetches, 0, 0);
    size_t handled = 0;
    const double longestGap = RunLoop(state, 120000, handled);
    const double total = MillisecondsSince(start);
    g_loop = nullptr;
    client.ResetBehaviours();
    state.fetcher.Close();
    WaitForWorkers(baseline, 60000);

    int timed = 0;
    for (sv::LyricsStatus status : state.statuses) timed += status == sv::LyricsStatus::Timed;
    std::printf("1. %d fetches started in a row from the message loop, service answering after 2 s:\n", kFetches);
    std::printf("   starting all %d took %.2f ms on the user-interface thread\n", kFetches, state.startBurstMs);
    std::printf("   %d replies (%d with the 200 timed lines) after %.0f ms; %zu messages handled meanwhile\n",
                state.replies, timed, total, handled);
    std::printf("   longest gap between two handled messages: %.2f ms (goal: under 20 ms)\n", longestGap);
    size_t aloneHandled = 0;
    const double aloneGap = LoopAloneLongestGap(window, total, aloneHandled);
    std::printf("   for comparison, the same loop alone for as long: longest gap %.2f ms, %zu messages\n", aloneGap,
                aloneHandled);
    std::printf("   and while another thread starts %d threads that only sleep: longest gap %.2f ms\n", kFetches,
                LoopWithBareThreadsLongestGap(window, kFetches, total));
    return state.replies == kFetches && timed == kFetches ? 0 : 1;
}

// From StartLyricsFetch to the message, as the window sees it.
std::optional<double> TimeOneFetch(sv::LyricsFetcher& fetcher, HWND window, sv::LyricsStatus& status, int& lines) {
    const sv::LyricsDocument request = Request(u"Blue Harbour", u"The Long Road");
    const sv::ServiceQuerySettings settings = QuerySettings();
    const auto start = Clock::now();
    const WPARAM sequence = fetcher.StartLyricsFetch(window, request, settings);
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != sv::WM_SV_LYRICS_READY || message.hwnd != window) {
                DispatchMessageW(&message);
                continue;
            }
            const double elapsed = MillisecondsSince(start);
            auto document = fetcher.TakeReply(message.wParam);
            if (message.wParam != sequence || !document) continue;
            status = document->status;
            lines = document->LineCount();
            return elapsed;
        }
        if (MillisecondsSince(start) > 30000) return std::nullopt;
        MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

int BenchLatency(svtest::StandinClient& client, HWND window, CacheFolder& cache) {
    client.ResetBehaviours();
    sv::LyricsFetcher fetcher(cache.Folder());
    constexpr int kWarmUp = 3, kRounds = 40;
    sv::LyricsStatus status = sv::LyricsStatus::None;
    int lines = 0;
    bool ok = true;

    // Full fetch: no cache file, so no version check either.
    std::vector<double> full;
    for (int round = 0; round < kWarmUp + kRounds; ++round) {
        cache.Empty();
        const auto elapsed = TimeOneFetch(fetcher, window, status, lines);
        ok &= elapsed && status == sv::LyricsStatus::Timed && lines == 200;
        if (elapsed && round >= kWarmUp) full.push_back(*elapsed);
    }
    // Cache hit: the file written by the last full fetch, its version confirmed at once.
    client.ClearRequests();
    std::vector<double> hit;
    for (int round = 0; round < kWarmUp + kRounds; ++round) {
        const auto elapsed = TimeOneFetch(fetcher, window, status, lines);
        ok &= elapsed && status == sv::LyricsStatus::Timed && lines == 200;
        if (elapsed && round >= kWarmUp) hit.push_back(*elapsed);
    }
    const size_t fullFetchesDuringHits = client.Requests(kFetchPath).size();
    ok &= fullFetchesDuringHits == 0 && !full.empty() && !hit.empty();
    if (full.empty() || hit.empty()) {
        std::printf("2. latency: fetches did not answer\n");
        return 1;
    }
    std::printf("2. StartLyricsFetch to WM_SV_LYRICS_READY, %d runs each (after %d warm-up runs):\n", kRounds, kWarmUp);
    std::printf(
        "   cache hit, version check answered at once: median %.2f ms (min %.2f, max %.2f); "
        "full fetches meanwhile: %zu\n",
        Median(hit), *std::min_element(hit.begin(), hit.end()), *std::max_element(hit.begin(), hit.end()),
        fullFetchesDuringHits);
    std::printf("   full fetch of the 200-line song over loopback: median %.2f ms (min %.2f, max %.2f)\n", Median(full),
                *std::min_element(full.begin(), full.end()), *std::max_element(full.begin(), full.end()));
    return ok ? 0 : 1;
}

}  // namespace

int main() {
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    int status = 0;
    try {
        svtest::StandinClient client = svtest::StandinClient::FromEnvironment();
        LyricsHostAtStandin host(client.HostPort());
        if (!host.ok()) {
            std::printf("cannot open the plug-in key\n");
            return 1;
        }
        CacheFolder cache;
        const HWND window = MakeWindow();
        if (!window) {
            std::printf("cannot create a window (is there a display?)\n");
            return 1;
        }
        status |= BenchResponsiveness(client, window, cache);
        status |= BenchLatency(client, window, cache);
        DestroyWindow(window);
    } catch (const std::exception& e) {
        std::printf("fetch-bench: %s\n", e.what());
        status = 1;
    }
    return status;
}
