// The lyrics pane: the shown document's lines on black, the current line bright and its
// neighbours in fading greys, kept in step with playback by one line timer that wakes when the
// next line is due. Without lines it shows the main window's status message, and for lyrics that
// were not found an "Edit Lyrics" link. During re-sync each click stamps the next line; otherwise a
// click on a timed line plays from that line. Keys "-", "+" and "0" nudge the timing (commands to
// the parent window).
//
// The pane only carries out what the line rules (LineFollower) decide: stop or arm the line timer,
// animate a one-line scroll, repaint. It never owns the document.
//
// For screen readers, the pane's window text is the line shown bright (empty when none is), and
// each change is announced (EVENT_OBJECT_NAMECHANGE), so a reader reads the lyrics with the music.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "lyrics/line_follower.h"
#include "lyrics/lyrics_document.h"
#include "base/win_handles.h"
#include "panes/lyrics_pane_host.h"
#include "panes/pane_look.h"
#include "window/buffered_paint.h"
#include "window/window_base.h"

namespace sv {

class CSVPluginLyrics : public WindowBase {
public:
    static constexpr wchar_t kClassName[] = L"SVPluginLyrics";
    static constexpr UINT_PTR kLineTimerId = 100;
    // The one-line scroll after a re-sync stamp moves on this timer, a few pixels per frame.
    static constexpr UINT_PTR kScrollTimerId = 101;
    static constexpr UINT kScrollFrameMs = 10;
    static constexpr int kScrollFrames = 8;

    static constexpr COLORREF kBackgroundColour = RGB(0, 0, 0);
    static constexpr COLORREF kCurrentLineColour = 0x00E0E0E0;
    static constexpr int kFirstGreyLevel = 0x60;  // the line before the current one and the one after
    static constexpr int kGreyStep = 8;
    static constexpr int kDarkestGreyLevel = 0x40;
    static constexpr COLORREF kLinkColour = 0x00FF8000;
    // At 96 dpi: rows of lines are this far apart; the not-found view's two lines this far from the middle.
    static constexpr int kRowGap = 1;
    static constexpr int kNotFoundGap = 5;

    // The host answers the playback position, the status triple and the Edit Lyrics command; it
    // must outlive the pane. Null is allowed: position 0, no status, no editor.
    explicit CSVPluginLyrics(LyricsPaneHost* host);
    ~CSVPluginLyrics() override;

    // Registers "SVPluginLyrics" in the given module (the logo shares the class).
    static bool RegisterPaneClass(HINSTANCE instance);
    // The fonts and sizes at the window's DPI (not owned; outlives the pane); none: 96 dpi.
    void SetLook(const PaneLook* look) { look_ = look; }
    const PaneLook& Look() const { return look_ ? *look_ : PaneLook::Default(); }
    // Creates the pane as a child of parent, at rect (none: empty); its status texts come from
    // instance's string table.
    bool Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect = nullptr);

    // Shows another document (not owned; may be null). The line timer stops; the playback mode stays.
    void SetDocument(LyricsDocument* document);
    LyricsDocument* Document() const { return follower_.document(); }
    // Manual scroll: a scroll bar over 0..line count, every line bright, playback moves nothing.
    void SetManualScroll(bool on);
    // Off: the status view instead of the lines (the video page's hide-lyrics state).
    void SetShowLyrics(bool on);
    bool ShowLyrics() const { return showLyrics_; }
    void SetResyncing(bool on);
    // The shown document's timing offset (negative: earlier); the line the position calls for lights.
    void SetTimingOffset(int32_t offsetMs);

    void OnPlay(uint32_t positionMs);
    void OnPause();
    void OnStop();
    // Makes the line the position is in current; the timer is re-armed while playing.
    void CurrentLineFor(uint32_t positionMs, bool repaint);
    int CurrentLine() const { return follower_.currentLine(); }
    // A one-line scroll is on its way (it ends by itself a few frames later).
    bool Animating() const { return animating_; }
    PlaybackMode Mode() const { return follower_.mode(); }

    // Holds the pane's repaints and its announcement of the bright line for a scope; when the
    // outermost hold ends they are made once, for the state reached by then. A new document so
    // shows at once at the line the position calls for, never first at line 0.
    class PaintHold {
    public:
        explicit PaintHold(CSVPluginLyrics& pane) : pane_(pane) { ++pane_.paintHolds_; }
        ~PaintHold() { pane_.ReleasePaintHold(); }
        PaintHold(const PaintHold&) = delete;
        PaintHold& operator=(const PaintHold&) = delete;

    private:
        CSVPluginLyrics& pane_;
    };

    // Client rectangle of the "Edit Lyrics" link as last painted; empty when none is shown.
    const RECT& LinkRect() const { return linkRect_; }
    // Height of one line of the lyrics font as last painted; rows are this plus RowGap() apart.
    int LineHeight() const { return lineHeight_; }
    int RowGap() const { return Look().Scale(kRowGap); }

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    uint32_t PositionNow() const;
    void Carry(const PaneActions& actions);
    void StopLineTimer();
    void ArmLineTimer(uint32_t periodMs);
    void RepaintNow();
    void ReleasePaintHold();
    void AnimateScroll();
    void NextScrollFrame();
    void StopScrollAnimation();
    void ApplyScrollBar(const ScrollBarSetting& setting);
    bool InManualScroll() const;

    void OnPaint();
    void DrawLines(HDC dc, const RECT& client, int first);
    void DrawStatusView(HDC dc, const RECT& client);
    void DrawNotFoundView(HDC dc, const RECT& client);
    void OnVerticalScroll(int code);
    void OnPrimaryButton(POINT point);
    // The line drawn at a client y, as last painted; -1 above the first.
    int LineAtY(int y) const;
    bool OnKey(WPARAM key);
    bool OnSetCursor(UINT hitTest);
    // The window text follows the bright line.
    void AnnounceBrightLine();
    // WM_GETTEXT (and, with no buffer, WM_GETTEXTLENGTH) with the announced line.
    LRESULT AnswerText(WPARAM capacity, LPARAM buffer) const;

    LyricsPaneHost* host_;
    const PaneLook* look_ = nullptr;
    HINSTANCE instance_ = nullptr;
    LineFollower follower_;
    BufferedPaintUser bufferedPaint_;
    UINT_PTR lineTimer_ = 0;
    bool showLyrics_ = true;
    bool animating_ = false;
    int animationOffset_ = 0;
    int lineHeight_ = 0;
    RECT linkRect_ = {0, 0, 0, 0};

    int paintHolds_ = 0;
    bool paintOwed_ = false;  // a repaint was asked for under a hold

    std::u16string announced_;  // the window text last set
};

}  // namespace sv
