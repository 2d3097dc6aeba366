// Figures for the lyrics pane, on a real window (run under Wine inside Xvfb):
//  - sync error: a timed song played in real time (the position is a clock on
//    QueryPerformanceCounter); for each line, the position at which it became bright minus its
//    time: median, 95th percentile, maximum, and the number of lines shown early;
//  - cost while playing: line-timer wake-ups (WM_TIMER) per minute of that song;
//  - paint time of a 600 x 400 pane showing a 200-line song (median);
//  - how long one re-sync click (the stamp and its one-line scroll animation) holds the UI thread.
// Usage: sync-bench [lines]   (default 45, at least 40)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "lyrics/lyrics_document.h"
#include "pane_test_support.h"
#include "panes/lyrics_pane.h"

namespace {

using sv::CSVPluginLyrics;
using svtest::PaneFixture;
using svtest::TestHost;

using Clock = tools::BenchClock;
using tools::Percentile;

std::unique_ptr<sv::LyricsDocument> MakeSong(sv::LyricsStatus status, int lines, double firstMs, unsigned seed) {
    auto document = std::make_unique<sv::LyricsDocument>();
    document->status = status;
    document->sourceKind = sv::MediaSource::Player;
    double time = firstMs;
    for (int i = 0; i < lines; ++i) {
        const std::string text = "Line " + std::to_string(i) + " of the benchmark song, with some words";
        document->AddLine(std::u16string(text.begin(), text.end()), u"");
        document->LineAt(i)->time = status == sv::LyricsStatus::Untimed ? 0.0 : time;
        // 600 to 1400 ms apart, with fractions of a millisecond as timed lyrics carry them.
        seed = seed * 1103515245u + 12345u;
        time += 600.0 + static_cast<double>((seed >> 8) % 80000) / 100.0;
    }
    return document;
}

// Watches the pane from outside: each WM_TIMER of the line timer, and after each paint whether
// the current line changed, with the clock at that moment.
struct Watch {
    static Watch* active;
    WNDPROC previous = nullptr;
    CSVPluginLyrics* pane = nullptr;
    const Clock* clock = nullptr;
    int timers = 0;
    int lastLine = -1;
    std::vector<std::pair<int, double>> shown;  // line, clock (ms) when it was first painted bright

    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        Watch& watch = *active;
        if (message == WM_TIMER && wParam == CSVPluginLyrics::kLineTimerId) ++watch.timers;
        const LRESULT result = CallWindowProcW(watch.previous, hwnd, message, wParam, lParam);
        if (message == WM_PAINT && watch.pane->CurrentLine() != watch.lastLine) {
            watch.lastLine = watch.pane->CurrentLine();
            watch.shown.emplace_back(watch.lastLine, watch.clock->ElapsedMs());
        }
        return result;
    }
};
Watch* Watch::active = nullptr;

void MeasureSyncError(int lines) {
    TestHost host;
    Clock clock;
    host.positionSource = [&clock] { return static_cast<uint32_t>(clock.ElapsedMs()); };
    PaneFixture fixture(600, 400, &host);
    auto song = MakeSong(sv::LyricsStatus::Timed, lines, 800.25, 7);
    CSVPluginLyrics& pane = fixture.pane();
    pane.SetDocument(song.get());
    pane.SetManualScroll(false);
    pane.CurrentLineFor(0, false);

    Watch watch;
    watch.pane = &pane;
    watch.clock = &clock;
    watch.lastLine = pane.CurrentLine();
    Watch::active = &watch;
    watch.previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(fixture.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Watch::Procedure)));

    const double lastTime = song->LineAt(lines - 1)->time;
    clock.Restart();
    pane.OnPlay(host.GetPositionMs());
    svtest::PumpUntil([&] { return pane.CurrentLine() == lines - 1; }, static_cast<DWORD>(lastTime + 5000));
    const double songMs = clock.ElapsedMs();
    pane.OnStop();
    SetWindowLongPtrW(fixture.hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watch.previous));
    Watch::active = nullptr;

    std::vector<double> errors;
    int early = 0;
    int missed = 0;
    int expected = 1;
    for (const auto& [line, at] : watch.shown) {
        if (line == 0) continue;
        // Each line is due at its own time; a line skipped over would count as missed.
        missed += std::max(0, line - expected);
        expected = line + 1;
        const double error = at - song->LineAt(line)->time;
        if (error < 0) ++early;
        errors.push_back(error);
    }
    std::printf("sync error over %d timed lines (%.1f s played in real time, position from QueryPerformanceCounter):\n",
                lines, songMs / 1000.0);
    std::printf("  lines shown: %zu, skipped: %d, early: %d\n", errors.size(), missed, early);
    std::printf("  late by: median %.2f ms, p95 %.2f ms, max %.2f ms, min %.2f ms\n", Percentile(errors, 0.5),
                Percentile(errors, 0.95), Percentile(errors, 1.0), Percentile(errors, 0.0));
    std::printf("cost while playing: %d line-timer wake-ups in %.1f s = %.1f per minute (%.2f per line change)\n",
                watch.timers, songMs / 1000.0, watch.timers * 60000.0 / songMs,
                errors.empty() ? 0.0 : static_cast<double>(watch.timers) / static_cast<double>(errors.size()));
}

void MeasurePaint() {
    TestHost host;
    PaneFixture fixture(600, 400, &host);
    auto song = MakeSong(sv::LyricsStatus::Timed, 200, 0, 11);
    CSVPluginLyrics& pane = fixture.pane();
    pane.SetDocument(song.get());
    pane.SetManualScroll(false);
    pane.CurrentLineFor(static_cast<uint32_t>(song->LineAt(100)->time + 1), false);
    Clock clock;
    std::vector<double> times;
    for (int i = 0; i < 300; ++i) {
        const double start = clock.ElapsedMs();
        RedrawWindow(fixture.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        times.push_back(clock.ElapsedMs() - start);
    }
    std::printf("paint of a 600 x 400 pane with 200 lines (current line 100, %d rows on screen), 300 paints:\n",
                400 / (pane.LineHeight() + 1));
    std::printf("  median %.3f ms, p95 %.3f ms, max %.3f ms\n", Percentile(times, 0.5), Percentile(times, 0.95),
                Percentile(times, 1.0));
}

void MeasureStampAnimation() {
    TestHost host;
    PaneFixture fixture(600, 400, &host);
    auto song = MakeSong(sv::LyricsStatus::Untimed, 200, 0, 13);
    CSVPluginLyrics& pane = fixture.pane();
    pane.SetDocument(song.get());
    pane.SetManualScroll(false);
    pane.OnPlay(0);
    pane.SetResyncing(true);
    RedrawWindow(fixture.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Clock clock;
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
        host.position = 1000u * static_cast<uint32_t>(i + 1);
        const double start = clock.ElapsedMs();
        SendMessageW(fixture.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(300, 200));
        times.push_back(clock.ElapsedMs() - start);
    }
    std::printf("re-sync click (stamp and one-line scroll of %d px, 600 x 400, 200 lines), 50 clicks:\n",
                pane.LineHeight());
    std::printf("  UI thread held: median %.2f ms, max %.2f ms (stamped up to line %d)\n", Percentile(times, 0.5),
                Percentile(times, 1.0), pane.CurrentLine());
}

}  // namespace

int main(int argc, char** argv) {
    const int lines = argc > 1 ? std::max(40, std::atoi(argv[1])) : 45;
    MeasurePaint();
    MeasureStampAnimation();
    MeasureSyncError(lines);
    return 0;
}
