// The rules that keep the lyrics pane's current line in step with playback, and the re-sync
// decisions of the main window. Portable: the pane and the main window only carry out the actions
// these return (window timer 100, repaints, player calls), and the playback position comes in
// from outside, so every rule runs without a clock.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>

#include "lyrics/lyrics_document.h"

namespace sv {

enum class PlaybackMode : int32_t { Stopped = 0, Playing = 1, Paused = 2 };

// What the pane does after a rule ran, in this order: stop its line timer; run the one-line scroll
// animation; arm the line timer (id 100) with lineTimerMs; repaint at once.
struct PaneActions {
    bool stopLineTimer = false;
    bool animateScroll = false;
    bool armLineTimer = false;
    uint32_t lineTimerMs = 0;
    bool repaint = false;

    // Adds the actions of a rule that ran after this one: a later stop cancels an earlier arm.
    PaneActions& Then(const PaneActions& later);
};

// The pane's vertical scroll bar in manual scroll mode.
struct ScrollBarSetting {
    bool visible = false;
    int32_t maximum = 0;  // range is 0..maximum inclusive
    int32_t position = 0;
};

struct ManualScrollChange {
    ScrollBarSetting scrollBar;
    PaneActions actions;
};

// Longest period a window timer takes (USER_TIMER_MAXIMUM).
constexpr uint32_t kLongestLineTimerMs = 0x7FFFFFFF;
// A line is current once the position is strictly past its time, so the line timer is armed for
// one millisecond after that time: a timer for the time itself finds the line reached but not
// passed, and its re-arm is raised to the system's 10 ms timer floor.
constexpr uint32_t kLineTimerMarginMs = 1;

class LineFollower {
public:
    // readPosition answers the playback position in milliseconds now (GetPositionMs); it is asked
    // when the delay to the next line is computed and when re-sync ends.
    explicit LineFollower(std::function<uint32_t()> readPosition);

    LyricsDocument* document() const { return document_; }
    int32_t currentLine() const { return currentLine_; }
    PlaybackMode mode() const { return mode_; }

    // Shows another document (not owned; may be null): the line timer stops, the current line goes
    // back to 0 (an index left from the previous document could lie past this one's lines), and
    // the pane repaints. The playback mode stays.
    PaneActions SetDocument(LyricsDocument* document);

    // Makes current the last line whose time the position is strictly past (line 0 when none), for
    // timed or re-timed lyrics outside manual scroll; while playing, schedules the next line.
    PaneActions CurrentLineFor(uint32_t positionMs, bool repaint);
    // Stops the line timer and, while a later line exists and re-sync is off, arms it for the
    // moment that line is due plus kLineTimerMarginMs (1 ms when it is overdue); then repaints.
    PaneActions NextLineDelay();
    // A click during re-sync: the line after the current one starts now and becomes current.
    PaneActions StampNextLine(uint32_t positionMs);

    PaneActions OnPlay(uint32_t positionMs);
    PaneActions OnPause();
    PaneActions OnStop();
    // Timer 100 fired. The timer is one-shot: it stops here and is re-armed only while playing.
    PaneActions OnLineTimer();

    // Moves the shown times of the document's lines by offsetMs (negative: earlier; clamped to
    // kLongestTimingOffsetMs) and makes current the line the position now calls for.
    PaneActions SetTimingOffset(int32_t offsetMs);
    // The playback position that makes the given timed line current (its time with the offset,
    // plus kLineTimerMarginMs); none during re-sync, for untimed lyrics or a line that is not there.
    std::optional<uint32_t> JumpTo(int32_t line);

    // Re-sync on: the current line goes to the start; off: it follows the position again.
    PaneActions SetResyncing(bool on);
    // Manual scroll: the scroll bar spans every line and starts at the current one. Switching it
    // off while playing follows the position again at once.
    ManualScrollChange SetManualScroll(bool on);

private:
    // A line's time as shown: with the document's timing offset.
    double ShownTime(const LyricLine& line) const;

    std::function<uint32_t()> readPosition_;
    LyricsDocument* document_ = nullptr;
    int32_t currentLine_ = 0;
    PlaybackMode mode_ = PlaybackMode::Stopped;
};

// What the main window's StartResync does. Nothing at all unless start is set; otherwise, in order:
// rewind the player to 0.0 s if rewindPlayer, tell it to play if playPlayer, seek the video page to
// 0 if seekPageToStart; manual scroll off; re-sync on; refresh action items; status 201.
struct ResyncStartPlan {
    bool start = false;
    bool rewindPlayer = false;
    bool playPlayer = false;
    bool seekPageToStart = false;
};
ResyncStartPlan PlanResyncStart(const LyricsDocument* document, bool restart);
// StopResync acts only on a document that is re-syncing.
bool ResyncStopNeeded(const LyricsDocument* document);

}  // namespace sv
