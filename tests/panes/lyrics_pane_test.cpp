// The lyrics pane as a real window under Wine and Xvfb: what it paints (read back pixel by pixel,
// row by row, in the project's fonts), the status views and the "Edit Lyrics" link, the line
// timer against a host whose position the test sets, manual scroll and re-sync stamping.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pane_test_support.h"
#include "settings/settings.h"
#include "resources/resource_ids.h"

namespace {

using namespace svtest;
using sv::CSVPluginLyrics;

constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr COLORREF kBright = CSVPluginLyrics::kCurrentLineColour;

class LyricsPaneTest : public ::testing::Test {
protected:
    LyricsPaneTest() : fixture(kWidth, kHeight, &host) {}

    CSVPluginLyrics& pane() { return fixture.pane(); }
    HWND hwnd() { return fixture.hwnd(); }
    // Row i of the lines view: each line is drawn one line height plus 1 pixel below the one
    // above. With line 0 first, the blank row above it takes exactly one line height.
    int RowTop(int row, bool blankFirstRow = false) {
        const int lineHeight = pane().LineHeight();
        if (blankFirstRow && row > 0) return lineHeight + (row - 1) * (lineHeight + 1);
        return row * (lineHeight + 1);
    }
    int RowBottom(int row, bool blankFirstRow = false) { return RowTop(row, blankFirstRow) + pane().LineHeight(); }
    COLORREF RowColour(const Capture& capture, int row, bool blankFirstRow = false) {
        return capture.DominantColour(RowTop(row, blankFirstRow), RowBottom(row, blankFirstRow));
    }
    // Shows a document as the main window does when one arrives.
    void Show(sv::LyricsDocument* document) {
        pane().SetDocument(document);
        pane().SetManualScroll(false);
        pane().CurrentLineFor(0, false);
    }

    TestHost host;
    PaneFixture fixture;
};

std::unique_ptr<sv::LyricsDocument> TwelveTimedLines() {
    std::vector<double> times;
    for (int i = 0; i < 12; ++i) times.push_back(i * 1000.0);
    return MakeDocument(sv::LyricsStatus::Timed, times);
}

TEST_F(LyricsPaneTest, CurrentLineZeroSitsInTheSecondRowWithFadingLinesBelow) {
    auto document = TwelveTimedLines();
    Show(document.get());
    const Capture capture = PaintAndCapture(hwnd());
    ASSERT_GT(pane().LineHeight(), 10);

    EXPECT_EQ(capture.NonBlack(RECT{0, RowTop(0), kWidth, RowBottom(0)}), 0) << "the first row stays blank";
    EXPECT_EQ(RowColour(capture, 1, true), kBright);
    EXPECT_EQ(RowColour(capture, 2, true), Grey(0x60));
    EXPECT_EQ(RowColour(capture, 3, true), Grey(0x58));
    EXPECT_EQ(RowColour(capture, 4, true), Grey(0x50));
    EXPECT_EQ(RowColour(capture, 5, true), Grey(0x48));
    EXPECT_EQ(RowColour(capture, 6, true), Grey(0x40));
    EXPECT_EQ(RowColour(capture, 7, true), Grey(0x40));
    EXPECT_EQ(RowColour(capture, 8, true), Grey(0x40));
}

TEST_F(LyricsPaneTest, CurrentLineFiveFollowsLineFourInTheFirstRow) {
    auto document = TwelveTimedLines();
    Show(document.get());
    pane().CurrentLineFor(5001, true);  // strictly past line 5 at 5000 ms
    ASSERT_EQ(pane().CurrentLine(), 5);
    const Capture capture = Capture(hwnd());

    EXPECT_EQ(RowColour(capture, 0), Grey(0x60)) << "line 4";
    EXPECT_EQ(RowColour(capture, 1), kBright) << "line 5";
    EXPECT_EQ(RowColour(capture, 2), Grey(0x60)) << "line 6";
    EXPECT_EQ(RowColour(capture, 3), Grey(0x58)) << "line 7";
    // Line 11 is the last: row 7 shows it, nothing below.
    EXPECT_EQ(RowColour(capture, 7), Grey(0x40));
    EXPECT_EQ(capture.NonBlack(RECT{0, RowTop(8), kWidth, kHeight}), 0);
}

TEST_F(LyricsPaneTest, LinesStopBeforeARowThatCannotHoldAWholeLineAndFillANewSize) {
    auto document = TwelveTimedLines();
    Show(document.get());
    PaintAndCapture(hwnd());
    const int lineHeight = pane().LineHeight();

    // Three whole rows and half of a fourth: the fourth stays empty.
    fixture.Resize(kWidth, 3 * (lineHeight + 1) + lineHeight / 2);
    Capture capture = PaintAndCapture(hwnd());
    EXPECT_EQ(RowColour(capture, 1, true), kBright);
    EXPECT_EQ(RowColour(capture, 2, true), Grey(0x60));
    EXPECT_EQ(capture.NonBlack(RECT{0, RowTop(3, true), kWidth, capture.height()}), 0);

    // Larger again: the kept back buffer is remade, and every row of the new size is drawn.
    fixture.Resize(kWidth, 13 * (lineHeight + 1));
    capture = PaintAndCapture(hwnd());
    EXPECT_EQ(capture.height(), 13 * (lineHeight + 1));
    EXPECT_EQ(RowColour(capture, 12, true), Grey(0x40)) << "line 11 in the last row";
    EXPECT_EQ(capture.NonBlack(RECT{kWidth - 30, 0, kWidth, capture.height()}), 0) << "short lines, centred";
}

TEST_F(LyricsPaneTest, AnEmptyLineEndsTheLinesAndAnAmpersandShowsAsItself) {
    auto document = MakeTextDocument(sv::LyricsStatus::Timed, {u"&", u"one", u"", u"after the gap"});
    Show(document.get());
    const Capture capture = PaintAndCapture(hwnd());
    EXPECT_EQ(RowColour(capture, 1, true), kBright) << "a lone '&' is text, not a mnemonic prefix";
    EXPECT_EQ(RowColour(capture, 2, true), Grey(0x60));
    EXPECT_EQ(capture.NonBlack(RECT{0, RowTop(3, true), kWidth, kHeight}), 0);
}

TEST_F(LyricsPaneTest, RightToLeftLineIsDrawnInRightToLeftReadingOrderAndCentred) {
    // Hebrew followed by Latin letters and a full stop: the reading order decides which side each
    // part lands on, so the two orders give different pictures.
    const std::u16string text = u"\u05E9\u05DC\u05D5\u05DD abc.";
    auto document = MakeTextDocument(sv::LyricsStatus::Timed, {text, u"next"});
    ASSERT_TRUE(document->LineAt(0)->rightToLeft);
    Show(document.get());
    const Capture capture = PaintAndCapture(hwnd());
    const int lineHeight = pane().LineHeight();
    const RECT row = {0, RowTop(1, true), kWidth, RowBottom(1, true)};

    // The same text drawn here in each reading order, in the pane's font and row.
    auto reference = [&](UINT extraFormat) {
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, kWidth, lineHeight);
        HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
        HGDIOBJ oldFont = SelectObject(memory, sv::Settings().boldFont.get());
        RECT all = {0, 0, kWidth, lineHeight};
        FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetBkMode(memory, TRANSPARENT);
        SetTextColor(memory, kBright);
        DrawTextW(memory, reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), &all,
                  DT_SINGLELINE | DT_CENTER | DT_NOPREFIX | extraFormat);
        std::vector<bool> ink;
        for (int y = 0; y < lineHeight; ++y)
            for (int x = 0; x < kWidth; ++x) ink.push_back(GetPixel(memory, x, y) != RGB(0, 0, 0));
        SelectObject(memory, oldFont);
        SelectObject(memory, oldBitmap);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return ink;
    };
    std::vector<bool> painted;
    for (int y = row.top; y < row.bottom; ++y)
        for (int x = 0; x < kWidth; ++x) painted.push_back(capture.At(x, y) != RGB(0, 0, 0));

    const std::vector<bool> rightToLeft = reference(DT_RTLREADING);
    const std::vector<bool> leftToRight = reference(0);
    ASSERT_NE(rightToLeft, leftToRight) << "this system's text layout ignores the reading order";
    auto differing = [&](const std::vector<bool>& other) {
        int count = 0;
        for (size_t i = 0; i < painted.size(); ++i) count += painted[i] != other[i];
        return count;
    };
    EXPECT_EQ(differing(rightToLeft), 0) << "left-to-right differs by " << differing(leftToRight);

    const RECT ink = capture.InkBounds(row);
    ASSERT_FALSE(IsRectEmpty(&ink));
    EXPECT_LE(std::abs(static_cast<int>(ink.left) - static_cast<int>(kWidth - ink.right)), 3) << "centred";
}

TEST_F(LyricsPaneTest, NotFoundViewShowsTwoLinesWithTheLinkAndOnlyTheLinkTakesClicks) {
    auto document = MakeDocument(sv::LyricsStatus::NotFound, {});
    Show(document.get());
    host.status.statusTextId = IDS_STATUS_NOT_FOUND;
    const Capture capture = PaintAndCapture(hwnd());
    const int lineHeight = pane().LineHeight();

    // First line: status colour, ending at H/2 - 5, centred.
    const RECT upper = capture.InkBounds(RECT{0, 0, kWidth, kHeight / 2});
    ASSERT_FALSE(IsRectEmpty(&upper));
    EXPECT_LE(upper.bottom, kHeight / 2 - 5);
    EXPECT_GT(upper.bottom, kHeight / 2 - 5 - lineHeight);
    EXPECT_EQ(capture.DominantColour(upper), sv::STATUS_COLOUR);
    EXPECT_LE(std::abs(static_cast<int>(upper.left) - static_cast<int>(kWidth - upper.right)), 3);

    // Second line at H/2 + 5: the link in the middle in its own colour, the rest in the status colour.
    const RECT link = pane().LinkRect();
    ASSERT_FALSE(IsRectEmpty(&link));
    EXPECT_EQ(link.top, kHeight / 2 + 5);
    EXPECT_EQ(link.bottom - link.top, lineHeight);
    EXPECT_EQ(capture.DominantColour(link), CSVPluginLyrics::kLinkColour);
    EXPECT_EQ(capture.DominantColour(RECT{0, link.top, link.left, link.bottom}), sv::STATUS_COLOUR);
    EXPECT_EQ(capture.DominantColour(RECT{link.right, link.top, kWidth, link.bottom}), sv::STATUS_COLOUR);
    const RECT lower = capture.InkBounds(RECT{0, kHeight / 2, kWidth, kHeight});
    EXPECT_LE(std::abs(static_cast<int>(lower.left) - static_cast<int>(kWidth - lower.right)), 4) << "centred";
    EXPECT_EQ(capture.NonBlack(RECT{0, link.bottom + 2, kWidth, kHeight}), 0);

    // The hand cursor over the link only.
    auto cursorAt = [&](POINT point) {
        ClientToScreen(hwnd(), &point);
        SetCursorPos(point.x, point.y);
        SendMessageW(hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor();
    };
    const HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    const POINT inLink = {(link.left + link.right) / 2, (link.top + link.bottom) / 2};
    EXPECT_EQ(cursorAt(inLink), hand);
    EXPECT_EQ(cursorAt(POINT{link.left - 5, inLink.y}), arrow);
    EXPECT_EQ(cursorAt(POINT{inLink.x, upper.top + 3}), arrow);
    EXPECT_EQ(cursorAt(POINT{link.left, link.top}), hand);
    EXPECT_EQ(cursorAt(POINT{link.right, link.top}), arrow) << "the right edge lies outside";

    // Clicks: elsewhere nothing, on the link the editor; a double click on it counts too.
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(link.right + 2, inLink.y));
    EXPECT_EQ(host.editorOpened, 0);
    EXPECT_EQ(document->status, sv::LyricsStatus::NotFound);
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(inLink.x, inLink.y));
    EXPECT_EQ(host.editorOpened, 1);
    SendMessageW(hwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(inLink.x, inLink.y));
    EXPECT_EQ(host.editorOpened, 2);

    // Another status: the link is gone, and so is its cursor and its click.
    host.status.statusTextId = IDS_STATUS_LOADING;
    PaintAndCapture(hwnd());
    EXPECT_TRUE(IsRectEmpty(&pane().LinkRect()));
    EXPECT_EQ(cursorAt(inLink), arrow);
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(inLink.x, inLink.y));
    EXPECT_EQ(host.editorOpened, 2);
}

TEST_F(LyricsPaneTest, LoadingMessageShowsCentredOnlyWhileNoLinesAreShown) {
    host.status.statusTextId = IDS_STATUS_LOADING;
    auto empty = std::make_unique<sv::LyricsDocument>();  // cleared: status -1, no lines
    Show(empty.get());
    Capture capture = PaintAndCapture(hwnd());
    const RECT ink = capture.InkBounds(RECT{0, 0, kWidth, kHeight});
    ASSERT_FALSE(IsRectEmpty(&ink));
    EXPECT_EQ(capture.DominantColour(ink), sv::STATUS_COLOUR);
    EXPECT_LE(std::abs(static_cast<int>(ink.left) - static_cast<int>(kWidth - ink.right)), 3);
    EXPECT_LE(std::abs(static_cast<int>(ink.top) - static_cast<int>(kHeight - ink.bottom)), 4);
    EXPECT_LT(ink.bottom - ink.top, pane().LineHeight() + 1) << "one line";
    EXPECT_TRUE(IsRectEmpty(&pane().LinkRect()));

    // No document at all: the same view.
    Show(nullptr);
    capture = PaintAndCapture(hwnd());
    EXPECT_EQ(capture.DominantColour(RECT{0, 0, kWidth, kHeight}), sv::STATUS_COLOUR);

    // The message is in the status line while lines are shown; the blank id and a missing main
    // window draw nothing either.
    host.status.linesShown = true;
    EXPECT_EQ(PaintAndCapture(hwnd()).NonBlack(RECT{0, 0, kWidth, kHeight}), 0);
    host.status.linesShown = false;
    host.status.statusTextId = IDS_STATUS_NONE;
    EXPECT_EQ(PaintAndCapture(hwnd()).NonBlack(RECT{0, 0, kWidth, kHeight}), 0);
    host.status.statusTextId = IDS_STATUS_LOADING;
    host.hasStatus = false;
    EXPECT_EQ(PaintAndCapture(hwnd()).NonBlack(RECT{0, 0, kWidth, kHeight}), 0);
}

TEST_F(LyricsPaneTest, HiddenLyricsShowTheStatusViewInstead) {
    auto document = TwelveTimedLines();
    Show(document.get());
    host.status.statusTextId = IDS_STATUS_LOADING;
    pane().SetShowLyrics(false);
    Capture capture = Capture(hwnd());  // repainted by the change itself
    EXPECT_EQ(capture.DominantColour(RECT{0, 0, kWidth, kHeight}), sv::STATUS_COLOUR);
    pane().SetShowLyrics(true);
    capture = Capture(hwnd());
    EXPECT_EQ(RowColour(capture, 1, true), kBright);
}

TEST_F(LyricsPaneTest, ManualScrollShowsEveryLineBrightAndIgnoresPlayback) {
    auto document = TwelveTimedLines();
    Show(document.get());
    pane().CurrentLineFor(3500, false);
    ASSERT_EQ(pane().CurrentLine(), 3);
    pane().SetManualScroll(true);

    SCROLLINFO info = {sizeof(info), SIF_ALL};
    ASSERT_TRUE(GetScrollInfo(hwnd(), SB_VERT, &info));
    EXPECT_EQ(info.nMin, 0);
    EXPECT_EQ(info.nMax, 12);
    EXPECT_EQ(info.nPos, 3);
    EXPECT_TRUE(GetWindowLongPtrW(hwnd(), GWL_STYLE) & WS_VSCROLL) << "bar shown";
    EXPECT_TRUE(document->manualScroll);

    Capture capture = Capture(hwnd());
    for (int row = 0; row < 9; ++row) EXPECT_EQ(RowColour(capture, row), kBright) << "row " << row;

    // Playback no longer moves the lines, and no line timer runs.
    host.position = 9500;
    pane().OnPlay(9500);
    EXPECT_EQ(pane().CurrentLine(), 3);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId));
    EXPECT_EQ(GetScrollPos(hwnd(), SB_VERT), 3);

    // Each scroll code moves the bar as the table says; the system keeps it within 0..12.
    struct Step {
        int code;
        int expected;
    };
    for (const Step step : {Step{SB_LINEDOWN, 4}, Step{SB_PAGEDOWN, 9}, Step{SB_LINEUP, 8}, Step{SB_PAGEUP, 3},
                            Step{SB_PAGEUP, 0}, Step{SB_LINEUP, 0}, Step{SB_THUMBPOSITION, 0}, Step{SB_BOTTOM, 12},
                            Step{SB_PAGEDOWN, 12}, Step{SB_TOP, 0}, Step{SB_ENDSCROLL, 0}}) {
        SendMessageW(hwnd(), WM_VSCROLL, MAKEWPARAM(step.code, 0), 0);
        EXPECT_EQ(GetScrollPos(hwnd(), SB_VERT), step.expected) << "code " << step.code;
    }
    // Position 0: the blank row, then line 0.
    capture = Capture(hwnd());
    EXPECT_EQ(capture.NonBlack(RECT{0, RowTop(0, true), kWidth, RowBottom(0, true)}), 0);
    EXPECT_EQ(RowColour(capture, 1, true), kBright);

    // At the end of the range only the last line remains, in the top row.
    SendMessageW(hwnd(), WM_VSCROLL, MAKEWPARAM(SB_BOTTOM, 0), 0);
    capture = Capture(hwnd());
    EXPECT_EQ(RowColour(capture, 0), kBright);
    EXPECT_EQ(capture.NonBlack(RECT{0, RowTop(1), capture.width(), capture.height()}), 0);

    // Off again: range 0..0, bar hidden, the lines follow the music again at once.
    pane().SetManualScroll(false);
    info = {sizeof(info), SIF_ALL};
    GetScrollInfo(hwnd(), SB_VERT, &info);
    EXPECT_EQ(info.nMax, 0);
    EXPECT_EQ(info.nPos, 0);
    EXPECT_FALSE(GetWindowLongPtrW(hwnd(), GWL_STYLE) & WS_VSCROLL) << "bar hidden";
    EXPECT_EQ(pane().CurrentLine(), 9);
    capture = Capture(hwnd());
    EXPECT_EQ(RowColour(capture, 0), Grey(0x60));
    EXPECT_EQ(RowColour(capture, 1), kBright);
}

TEST_F(LyricsPaneTest, LineTimerWakesWhenTheNextLineIsDueAndNeverShowsItEarly) {
    auto document = MakeDocument(sv::LyricsStatus::Timed, {0, 150, 300, 450});
    Show(document.get());
    MessageCounter counter(hwnd());
    host.position = 0;
    pane().OnPlay(0);
    EXPECT_EQ(pane().Mode(), sv::PlaybackMode::Playing);
    EXPECT_EQ(pane().CurrentLine(), 0);

    // The timer fires while the position still says 150 (a clock behind the timer): line 1 is not
    // strictly past, so it stays dark and the timer comes back.
    host.position = 150;
    ASSERT_TRUE(WaitForTimer(hwnd(), CSVPluginLyrics::kLineTimerId, 2000));
    EXPECT_EQ(pane().CurrentLine(), 0);
    ASSERT_TRUE(WaitForTimer(hwnd(), CSVPluginLyrics::kLineTimerId, 2000));
    EXPECT_EQ(pane().CurrentLine(), 0);

    host.position = 151;
    ASSERT_TRUE(WaitForTimer(hwnd(), CSVPluginLyrics::kLineTimerId, 2000));
    EXPECT_EQ(pane().CurrentLine(), 1);
    EXPECT_EQ(RowColour(Capture(hwnd()), 1), kBright) << "repainted with the new line";
    EXPECT_EQ(RowColour(Capture(hwnd()), 0), Grey(0x60));

    // The timer brings the last line: it stops for good (window timers repeat unless killed).
    host.position = 451;
    pane().CurrentLineFor(400, true);
    EXPECT_EQ(pane().CurrentLine(), 2);
    ASSERT_TRUE(WaitForTimer(hwnd(), CSVPluginLyrics::kLineTimerId, 2000));
    EXPECT_EQ(pane().CurrentLine(), 3);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId));

    // A seek past every line: the last line, and no timer left.
    pane().CurrentLineFor(200, true);
    pane().CurrentLineFor(1000, true);
    EXPECT_EQ(pane().CurrentLine(), 3);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId));

    // Pause stops the timer; play arms it again; stop goes back to line 0 without a timer.
    pane().CurrentLineFor(200, true);
    pane().OnPause();
    EXPECT_EQ(pane().Mode(), sv::PlaybackMode::Paused);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId));
    host.position = 200;
    pane().OnPlay(200);
    EXPECT_EQ(pane().CurrentLine(), 1);
    host.position = 301;
    ASSERT_TRUE(WaitForTimer(hwnd(), CSVPluginLyrics::kLineTimerId, 2000));
    EXPECT_EQ(pane().CurrentLine(), 2);
    pane().OnStop();
    EXPECT_EQ(pane().CurrentLine(), 0);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId));
    EXPECT_GT(counter.timers(), 0);

    // A new document stops the timer and keeps the playback mode.
    pane().OnPlay(0);
    pane().SetDocument(nullptr);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId));
    EXPECT_EQ(pane().Mode(), sv::PlaybackMode::Playing);
}

TEST_F(LyricsPaneTest, UntimedLyricsAreNotMovedByPlayback) {
    auto document = MakeTextDocument(sv::LyricsStatus::Untimed, {u"a", u"b", u"c"});
    Show(document.get());
    host.position = 5000;
    pane().OnPlay(5000);
    pane().CurrentLineFor(9000, true);
    EXPECT_EQ(pane().CurrentLine(), 0);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId));
}

TEST_F(LyricsPaneTest, ResyncClicksStampTheNextLineAndScrollOneLine) {
    auto document = MakeTextDocument(sv::LyricsStatus::Untimed, {u"zero", u"one", u"two", u"three"});
    Show(document.get());
    host.position = 0;
    pane().OnPlay(0);
    pane().SetResyncing(true);
    ASSERT_TRUE(document->resyncing);
    EXPECT_EQ(pane().CurrentLine(), 0);
    PaintAndCapture(hwnd());
    const int lineHeight = pane().LineHeight();

    MessageCounter counter(hwnd());
    host.position = 1500;
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
    EXPECT_EQ(pane().CurrentLine(), 1);
    EXPECT_EQ(document->status, sv::LyricsStatus::Retimed);
    EXPECT_EQ(document->LineAt(1)->time, 1500.0);
    EXPECT_EQ(document->LineAt(0)->time, 0.0) << "line 0 is never stamped";
    // The click paints once; the move goes on in frames of the pane's timer, then the final picture.
    EXPECT_LE(counter.paints(), 1);
    EXPECT_TRUE(pane().Animating());
    ASSERT_TRUE(PumpUntil([&] { return !pane().Animating(); }, 3000));
    EXPECT_GE(counter.paints(), 4);
    EXPECT_LE(counter.paints(), lineHeight + 2);
    Capture capture = Capture(hwnd());
    EXPECT_EQ(RowColour(capture, 0), Grey(0x60)) << "line 0 moved up into the first row";
    EXPECT_EQ(RowColour(capture, 1), kBright);
    EXPECT_FALSE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId)) << "no line timer during re-sync";

    // A quick second click arrives as a double click (CS_DBLCLKS) and stamps just the same.
    host.position = 2600;
    SendMessageW(hwnd(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(50, 50));
    EXPECT_EQ(pane().CurrentLine(), 2);
    EXPECT_EQ(document->LineAt(2)->time, 2600.0);
    host.position = 4000;
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
    EXPECT_EQ(pane().CurrentLine(), 3);
    EXPECT_EQ(document->LineAt(3)->time, 4000.0);

    // At the last line a click does nothing: no stamp, no scroll.
    ASSERT_TRUE(PumpUntil([&] { return !pane().Animating(); }, 3000));
    counter.Reset();
    host.position = 5000;
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
    EXPECT_EQ(pane().CurrentLine(), 3);
    EXPECT_EQ(document->LineAt(3)->time, 4000.0);
    EXPECT_EQ(counter.paints(), 0);

    // Re-sync off: the re-timed lines follow the position again.
    host.position = 2700;
    pane().SetResyncing(false);
    EXPECT_EQ(pane().CurrentLine(), 2);
    EXPECT_TRUE(KillTimer(hwnd(), CSVPluginLyrics::kLineTimerId)) << "playing: the timer waits for line 3";
}

TEST_F(LyricsPaneTest, ClicksOutsideResyncStampNothing) {
    auto document = MakeTextDocument(sv::LyricsStatus::Untimed, {u"zero", u"one"});
    Show(document.get());
    host.position = 1200;
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 50));
    EXPECT_EQ(pane().CurrentLine(), 0);
    EXPECT_EQ(document->LineAt(1)->time, 0.0);
    EXPECT_EQ(document->status, sv::LyricsStatus::Untimed);
}

TEST(LyricsPaneText, TheWindowTextIsTheBrightLineForScreenReaders) {
    TestHost host;
    PaneFixture fixture(kWidth, kHeight, &host);
    auto document = MakeDocument(sv::LyricsStatus::Timed, {0, 1000, 2000});
    auto text = [&] {
        wchar_t buffer[256] = {};
        GetWindowTextW(fixture.hwnd(), buffer, 256);
        return std::wstring(buffer);
    };
    fixture.pane().SetDocument(document.get());
    EXPECT_EQ(text(), L"Line 0");
    host.position = 1001;
    fixture.pane().OnPlay(1001);
    EXPECT_EQ(text(), L"Line 1");
    fixture.pane().SetShowLyrics(false);
    EXPECT_EQ(text(), L"") << "hidden lyrics are not read out";
    fixture.pane().SetShowLyrics(true);
    fixture.pane().SetManualScroll(true);
    EXPECT_EQ(text(), L"") << "no line is bright while the user scrolls";
    fixture.pane().SetManualScroll(false);
    fixture.pane().SetDocument(nullptr);
    EXPECT_EQ(text(), L"");
}

}  // namespace
