// The main window at the DPI the player is shown at, and when the player's top-level window moves
// to a screen of another DPI (WM_DPICHANGED, sent here as the stand-in player's dpi= sends it).
#include "plugin_window_fixture.h"

namespace {

using namespace svtest;

struct Sizes {
    int logoHeight, statusHeight, buttonItem, band, lyricsLeft, lyricsLine;
};

class DpiTest : public PluginWindowTest {
protected:
    Sizes Measure() {
        CSVPluginWindow& window = Window();
        window.LyricsPane().SetDocument(nullptr);
        PaintAndCapture(window.LyricsPane().Hwnd());  // the line height is measured as it paints
        const HWND list = window.ActionBar().ListWindow();
        const RECT logo = RectInParent(window.Logo().Hwnd());
        const RECT status = RectInParent(window.StatusLine().Hwnd());
        const RECT lyrics = RectInParent(window.LyricsPane().Hwnd());
        return {logo.bottom - logo.top,
                status.bottom - status.top,
                static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0)),
                window.ActionBar().List().BandHeight(),
                lyrics.left,
                window.LyricsPane().LineHeight()};
    }
    // The rows of the logo that are not black, as it paints.
    int LogoInkRows() {
        const Capture logo = PaintAndCapture(Window().Logo().Hwnd());
        const RECT ink = logo.InkBounds(RECT{0, 0, logo.width(), logo.height()});
        return ink.bottom - ink.top;
    }
};

TEST_F(DpiTest, TheBandTheButtonsAndTheFontsScaleWithTheDpiAndFollowEachChangeOfTheTopLevelWindow) {
    LoadPlugin();
    ASSERT_EQ(96, Window().Look().Dpi()) << "the test prefix shows windows at 96 dpi";
    const Sizes at96 = Measure();
    EXPECT_EQ(45, at96.logoHeight);
    EXPECT_EQ(20, at96.statusHeight);
    EXPECT_EQ(45, at96.buttonItem);
    EXPECT_EQ(118, at96.lyricsLeft);
    const int logoInk96 = LogoInkRows();

    // 150%, as Windows tells a per-monitor aware player: the window grows to the suggested size.
    player_->MoveToScreenOfDpi(144);
    PumpPending();
    EXPECT_EQ(144, player_->Dpi());
    ASSERT_EQ(144, Window().Look().Dpi());
    const Sizes at144 = Measure();
    EXPECT_EQ(68, at144.logoHeight);
    EXPECT_EQ(30, at144.statusHeight);
    EXPECT_EQ(68, at144.buttonItem) << "53-pixel face and 15 pixels of padding";
    EXPECT_EQ(68, at144.band);
    EXPECT_EQ(177, at144.lyricsLeft);
    EXPECT_NEAR(at96.lyricsLine * 1.5, at144.lyricsLine, 2.0);
    EXPECT_NEAR(logoInk96 * 1.5, LogoInkRows(), 2.0) << "the logo is stretched, not cut";

    player_->MoveToScreenOfDpi(192);
    PumpPending();
    const Sizes at192 = Measure();
    EXPECT_EQ(2 * at96.band, at192.band);
    EXPECT_EQ(2 * at96.buttonItem, at192.buttonItem);
    EXPECT_EQ(2 * at96.logoHeight, at192.logoHeight);
    EXPECT_EQ(2 * at96.statusHeight, at192.statusHeight);
    EXPECT_NEAR(at96.lyricsLine * 2.0, at192.lyricsLine, 2.0);

    // Back at 96 every size is what it was.
    player_->MoveToScreenOfDpi(96);
    PumpPending();
    const Sizes again = Measure();
    EXPECT_EQ(at96.logoHeight, again.logoHeight);
    EXPECT_EQ(at96.buttonItem, again.buttonItem);
    EXPECT_EQ(at96.band, again.band);
    EXPECT_EQ(at96.lyricsLeft, again.lyricsLeft);
    EXPECT_EQ(at96.lyricsLine, again.lyricsLine);
    EXPECT_EQ(logoInk96, LogoInkRows());
}

}  // namespace
