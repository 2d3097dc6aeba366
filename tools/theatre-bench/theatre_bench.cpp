// Figures for the video theatre as the playback source, on real windows (run under Wine inside
// Xvfb, against the stand-in community site: scripts/with-standin.sh):
//  - sync error: a timed song played in real time twice, once with the position from a clock (as
//    the player gives it) and once from the theatre page in a browse pane (the stand-in browser
//    running the page's script), read through "getCurrentTime" as the plug-in reads it. For each
//    line: the source's position at the moment the line was painted bright, minus the line's time;
//    median, 95th percentile, maximum and the number of lines shown early;
//  - the round trip of one CallPageFunction: "getCurrentTime" (no arguments, a number back) and
//    "OnMediaPlayerOpened" (three strings; the page writes them into its text).
// Usage: theatre-bench [lines]   (default 45, at least 20)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "base/win_handles.h"
#include "lyrics/lyrics_document.h"
#include "pane_test_support.h"
#include "panes/lyrics_pane.h"
#include "standin_browser.h"
#include "web/browse_pane.h"

namespace {

using sv::CSVPluginLyrics;
using svtest::PaneFixture;
using svtest::TestHost;

using Clock = tools::BenchClock;
using tools::Percentile;

std::unique_ptr<sv::LyricsDocument> MakeSong(int lines, double firstMs, unsigned seed) {
    auto document = std::make_unique<sv::LyricsDocument>();
    document->status = sv::LyricsStatus::Timed;
    document->sourceKind = sv::MediaSource::VideoPage;
    double time = firstMs;
    for (int i = 0; i < lines; ++i) {
        const std::string text = "Line " + std::to_string(i) + " of the benchmark song";
        document->AddLine(std::u16string(text.begin(), text.end()), u"");
        document->LineAt(i)->time = time;
        seed = seed * 1103515245u + 12345u;
        time += 600.0 + static_cast<double>((seed >> 8) % 80000) / 100.0;
    }
    return document;
}

// Notes, after each paint of the lyrics pane that changed its bright line, the source's position.
struct Watch {
    static Watch* active;
    WNDPROC previous = nullptr;
    CSVPluginLyrics* pane = nullptr;
    std::function<double()> positionMs;
    int lastLine = -1;
    std::vector<std::pair<int, double>> shown;

    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        Watch& watch = *active;
        const LRESULT result = CallWindowProcW(watch.previous, hwnd, message, wParam, lParam);
        if (message == WM_PAINT && watch.pane->CurrentLine() != watch.lastLine) {
            watch.lastLine = watch.pane->CurrentLine();
            watch.shown.emplace_back(watch.lastLine, watch.positionMs());
        }
        return result;
    }
};
Watch* Watch::active = nullptr;

void Report(const char* source, const sv::LyricsDocument& song, const Watch& watch, double songMs) {
    std::vector<double> errors;
    int early = 0;
    for (const auto& [line, at] : watch.shown) {
        if (line <= 0) continue;
        const double error = at - song.LineAt(line)->time;
        if (error < 0) ++early;
        errors.push_back(error);
    }
    std::printf("sync error, position from %s (%d lines, %.1f s in real time):\n", source, song.LineCount(),
                songMs / 1000.0);
    std::printf("  lines shown: %zu, early: %d; late by: median %.2f ms, p95 %.2f ms, max %.2f ms, min %.2f ms\n",
                errors.size(), early, Percentile(errors, 0.5), Percentile(errors, 0.95), Percentile(errors, 1.0),
                Percentile(errors, 0.0));
}

// Plays the song in a lyrics pane whose position comes from positionMs, started by start().
void PlaySong(const char* source, int lines, const std::function<uint32_t()>& positionMs,
              const std::function<void()>& start) {
    TestHost host;
    host.positionSource = positionMs;
    PaneFixture fixture(600, 400, &host);
    auto song = MakeSong(lines, 800.25, 7);
    CSVPluginLyrics& pane = fixture.pane();
    pane.SetDocument(song.get());
    pane.SetManualScroll(false);
    pane.CurrentLineFor(0, false);

    Watch watch;
    watch.pane = &pane;
    watch.positionMs = [&] { return static_cast<double>(positionMs()); };
    watch.lastLine = pane.CurrentLine();
    Watch::active = &watch;
    watch.previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(fixture.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Watch::Procedure)));

    Clock clock;
    start();
    pane.OnPlay(host.GetPositionMs());
    const double lastTime = song->LineAt(lines - 1)->time;
    svtest::PumpUntil([&] { return pane.CurrentLine() == lines - 1; }, static_cast<DWORD>(lastTime + 5000));
    const double songMs = clock.ElapsedMs();
    pane.OnStop();
    SetWindowLongPtrW(fixture.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watch.previous));
    Watch::active = nullptr;
    Report(source, *song, watch, songMs);
}

// A browse pane in a window of its own, showing the theatre page.
class TheatrePane {
public:
    TheatrePane() {
        WNDCLASSW info{};
        info.lpfnWndProc = DefWindowProcW;
        info.hInstance = GetModuleHandleW(nullptr);
        info.lpszClassName = L"TheatreBenchFrame";
        RegisterClassW(&info);
        frame_ = CreateWindowExW(0, L"TheatreBenchFrame", L"theatre", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 650, 0,
                                 640, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        pane_.Create(GetModuleHandleW(nullptr), frame_, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN);
        MoveWindow(pane_.Hwnd(), 0, 0, 640, 400, TRUE);
    }
    ~TheatrePane() {
        pane_.Destroy();
        DestroyWindow(frame_);
    }
    bool Load(const std::wstring& url) {
        pane_.NavigateTo(url);
        return svtest::PumpUntil([&] {
            for (auto* browser : sv::standin::LiveStandinBrowsers())
                if (browser->CompletedLoads() > 0 && !browser->Loading()) return true;
            return false;
        });
    }
    sv::CSVPluginBrowse& pane() { return pane_; }

private:
    HWND frame_ = nullptr;
    sv::CSVPluginBrowse pane_;
};

void MeasureRoundTrips(sv::CSVPluginBrowse& pane) {
    const struct {
        const wchar_t* function;
        std::vector<std::wstring> arguments;
    } calls[] = {{L"getCurrentTime", {}}, {L"OnMediaPlayerOpened", {L"", L"Blue Harbour", L"Night Train"}}};
    for (const auto& call : calls) {
        Clock clock;
        std::vector<double> times;
        int failed = 0;
        for (int i = 0; i < 2000; ++i) {
            sv::UniqueVariant result;
            const double start = clock.ElapsedMs();
            failed += !pane.CallPageFunction(call.function, call.arguments, result.get());
            times.push_back((clock.ElapsedMs() - start) * 1000.0);
        }
        std::printf(
            "CallPageFunction(\"%ls\", %zu arguments) round trip, 2000 calls (%d failed): median %.1f us, "
            "p95 %.1f us, max %.1f us\n",
            call.function, call.arguments.size(), failed, Percentile(times, 0.5), Percentile(times, 0.95),
            Percentile(times, 1.0));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::max(20, std::atoi(argv[1])) : 45;
    sv::ScopedCoInit com(COINIT_APARTMENTTHREADED);
    sv::standin::ScopedStandinBrowser standin;
    const std::wstring site = L"http://" + svtest::StandinHost();
    TheatrePane theatre;
    if (!standin.Registered() || svtest::StandinHost().empty() || !theatre.Load(site + L"/wiki/wmp/")) {
        std::fprintf(stderr, "theatre-bench: run it with the stand-in service (scripts/with-standin.sh)\n");
        return 2;
    }
    sv::CSVPluginBrowse& pane = theatre.pane();
    std::printf("page idle:\n");
    MeasureRoundTrips(pane);

    Clock clock;
    PlaySong(
        "a clock (as the player gives it)", lines, [&] { return static_cast<uint32_t>(clock.ElapsedMs()); },
        [&] { clock.Restart(); });
    PlaySong(
        "the theatre page (getCurrentTime)", lines,
        [&] { return static_cast<uint32_t>(pane.PageGetCurrentTime() * 1000.0); },
        [&] {
            pane.CallPageFunction(L"theatreOpen", {L"Bench", L"Song", L"bench", L""});
            pane.CallPageFunction(L"theatrePlay", {});
        });
    std::printf("video playing:\n");
    MeasureRoundTrips(pane);
    return 0;
}
