#include "lyrics/line_follower.h"

#include <cmath>
#include <utility>

namespace sv {

PaneActions& PaneActions::Then(const PaneActions& later) {
    if (later.stopLineTimer) {
        stopLineTimer = true;
        armLineTimer = false;
        lineTimerMs = 0;
    }
    if (later.armLineTimer) {
        armLineTimer = true;
        lineTimerMs = later.lineTimerMs;
    }
    animateScroll = animateScroll || later.animateScroll;
    repaint = repaint || later.repaint;
    return *this;
}

LineFollower::LineFollower(std::function<uint32_t()> readPosition) : readPosition_(std::move(readPosition)) {}

double LineFollower::ShownTime(const LyricLine& line) const {
    return line.time + static_cast<double>(document_ ? document_->timingOffsetMs : 0);
}

PaneActions LineFollower::SetTimingOffset(int32_t offsetMs) {
    if (!document_) return PaneActions();
    document_->timingOffsetMs = ClampTimingOffset(offsetMs);
    return CurrentLineFor(readPosition_(), true);
}

std::optional<uint32_t> LineFollower::JumpTo(int32_t line) {
    if (!document_ || document_->resyncing) return std::nullopt;
    if (document_->status != LyricsStatus::Timed && document_->status != LyricsStatus::Retimed) return std::nullopt;
    const LyricLine* target = document_->LineAt(line);
    if (!target) return std::nullopt;
    // Just past the line's shown time, so the rule that lights the last passed line agrees at once.
    const double position = std::floor(ShownTime(*target)) + kLineTimerMarginMs;
    if (!(position > 0)) return 0u;
    if (position >= static_cast<double>(UINT32_MAX)) return UINT32_MAX;
    return static_cast<uint32_t>(position);
}

PaneActions LineFollower::SetDocument(LyricsDocument* document) {
    document_ = document;
    currentLine_ = 0;
    PaneActions actions;
    actions.stopLineTimer = true;
    actions.repaint = true;
    return actions;
}

PaneActions LineFollower::CurrentLineFor(uint32_t positionMs, bool repaint) {
    PaneActions actions;
    if (!document_ || document_->manualScroll) return actions;
    // Untimed lyrics move only by stamping, and so do lyrics being re-timed: their lines not yet
    // stamped hold 0 or their old times, which would make a late line current and leave the
    // following clicks nothing to stamp.
    if (document_->resyncing) return actions;
    if (document_->status != LyricsStatus::Timed && document_->status != LyricsStatus::Retimed) return actions;

    const double position = static_cast<double>(positionMs);
    const int count = document_->LineCount();
    int stop = count;
    for (int i = 0; i < count; ++i) {
        if (ShownTime(*document_->LineAt(i)) >= position) {
            stop = i;
            break;
        }
    }
    currentLine_ = stop > 0 ? stop - 1 : 0;

    if (mode_ == PlaybackMode::Playing) actions.Then(NextLineDelay());
    if (repaint) actions.repaint = true;
    return actions;
}

PaneActions LineFollower::NextLineDelay() {
    PaneActions actions;
    actions.stopLineTimer = true;
    actions.repaint = true;
    if (!document_ || document_->resyncing) return actions;
    // The position first: reading it may reach the player or a page script, which may re-enter and
    // replace the document; its lines are looked up only afterwards.
    const uint32_t position = readPosition_();
    if (!document_ || document_->resyncing) return actions;
    const LyricLine* current = document_->LineAt(currentLine_);
    const LyricLine* next = document_->LineAt(currentLine_ + 1);
    if (!current || !next) return actions;

    // Whole milliseconds until the next line's time, plus the margin that puts the position past it.
    const double untilDue = std::floor(ShownTime(*next) - static_cast<double>(position));
    uint32_t period;
    if (!(untilDue >= 0))  // overdue, or a NaN
        period = 1;
    else if (untilDue >= static_cast<double>(kLongestLineTimerMs - kLineTimerMarginMs))
        period = kLongestLineTimerMs;
    else
        period = static_cast<uint32_t>(untilDue) + kLineTimerMarginMs;
    actions.armLineTimer = true;
    actions.lineTimerMs = period;
    return actions;
}

PaneActions LineFollower::StampNextLine(uint32_t positionMs) {
    PaneActions actions;
    if (!document_ || !document_->resyncing) return actions;
    LyricLine* next = document_->LineAt(currentLine_ + 1);
    if (!next) return actions;
    document_->status = LyricsStatus::Retimed;
    next->time = static_cast<double>(positionMs);
    ++currentLine_;
    actions.stopLineTimer = true;
    actions.animateScroll = true;
    actions.Then(NextLineDelay());
    actions.repaint = true;
    return actions;
}

PaneActions LineFollower::OnPlay(uint32_t positionMs) {
    mode_ = PlaybackMode::Playing;
    return CurrentLineFor(positionMs, true);
}

PaneActions LineFollower::OnPause() {
    mode_ = PlaybackMode::Paused;
    PaneActions actions;
    actions.stopLineTimer = true;
    return actions;
}

PaneActions LineFollower::OnStop() {
    mode_ = PlaybackMode::Stopped;
    PaneActions actions;
    actions.stopLineTimer = true;
    actions.Then(CurrentLineFor(0, true));
    return actions;
}

PaneActions LineFollower::OnLineTimer() {
    PaneActions actions;
    actions.stopLineTimer = true;
    if (document_ && !document_->resyncing) actions.Then(CurrentLineFor(readPosition_(), true));
    return actions;
}

PaneActions LineFollower::SetResyncing(bool on) {
    PaneActions actions;
    if (!document_) return actions;
    document_->resyncing = on;
    if (on) {
        // Stamping starts again from the first line; only clicks move it from here on.
        currentLine_ = 0;
        actions.stopLineTimer = true;
    } else {
        actions.Then(CurrentLineFor(readPosition_(), true));
    }
    actions.repaint = true;
    return actions;
}

ManualScrollChange LineFollower::SetManualScroll(bool on) {
    ManualScrollChange change;
    const bool wasOn = document_ && document_->manualScroll;
    if (document_) document_->manualScroll = on;
    if (on && document_) {
        change.scrollBar.visible = true;
        change.scrollBar.maximum = document_->LineCount();
        change.scrollBar.position = currentLine_;
    }
    // Leaving manual scroll while playing: the lines follow the music again now, not at the next seek.
    if (wasOn && !on && mode_ == PlaybackMode::Playing) change.actions.Then(CurrentLineFor(readPosition_(), true));
    change.actions.repaint = true;
    return change;
}

ResyncStartPlan PlanResyncStart(const LyricsDocument* document, bool restart) {
    ResyncStartPlan plan;
    if (!document || document->resyncing || document->LineCount() == 0) return plan;
    const LyricsStatus status = document->status;
    if (status != LyricsStatus::Retimed && status != LyricsStatus::Untimed && status != LyricsStatus::Timed)
        return plan;
    plan.start = true;
    if (document->sourceKind == MediaSource::Player) {
        plan.rewindPlayer = restart;
        plan.playPlayer = true;
    } else if (document->sourceKind == MediaSource::VideoPage) {
        plan.seekPageToStart = restart;
    }
    return plan;
}

bool ResyncStopNeeded(const LyricsDocument* document) { return document && document->resyncing; }

}  // namespace sv
