// The current-line, line-timer and re-sync rules, driven with positions given by the test.
#include "lyrics/line_follower.h"

#include <gtest/gtest.h>

#include <memory>

namespace sv {
namespace {

struct Follow : ::testing::Test {
    uint32_t now = 0;  // what GetPositionMs would answer
    LineFollower follower{[this] { return now; }};
    LyricsDocument doc;

    void Lines(std::initializer_list<double> times, LyricsStatus status) {
        for (double t : times) {
            doc.AddLine(u"line", u"");
            doc.LineAt(doc.LineCount() - 1)->time = t;
        }
        doc.status = status;
        follower.SetDocument(&doc);
    }
    int32_t LineFor(uint32_t position) {
        follower.CurrentLineFor(position, false);
        return follower.currentLine();
    }
};

TEST_F(Follow, ALineBecomesCurrentOncePlaybackIsStrictlyPastIt) {
    Lines({0, 5000, 9000}, LyricsStatus::Timed);
    EXPECT_EQ(LineFor(0), 0);
    EXPECT_EQ(LineFor(5000), 0);
    EXPECT_EQ(LineFor(5001), 1);
    EXPECT_EQ(LineFor(9000), 1);
    EXPECT_EQ(LineFor(9001), 2);
    EXPECT_EQ(LineFor(0xFFFFFFFF), 2);  // positions are unsigned
    EXPECT_EQ(LineFor(4999), 0);
}

TEST_F(Follow, TheScanStopsAtTheFirstLineNotYetPassed) {
    // Re-timed lyrics may go backwards; the first unpassed line decides.
    Lines({1000, 8000, 3000, 9000}, LyricsStatus::Retimed);
    EXPECT_EQ(LineFor(500), 0);
    EXPECT_EQ(LineFor(5000), 0);  // stops at line 1
    EXPECT_EQ(LineFor(8500), 2);  // stops at line 3
}

TEST_F(Follow, OnlyTimedAndRetimedLyricsFollowThePosition) {
    Lines({0, 5000, 9000}, LyricsStatus::Untimed);
    EXPECT_EQ(LineFor(9500), 0);
    for (LyricsStatus status :
         {LyricsStatus::NotFound, LyricsStatus::Final, LyricsStatus::None, LyricsStatus::ConnectionError}) {
        doc.status = status;
        EXPECT_EQ(LineFor(9500), 0) << static_cast<int>(status);
        EXPECT_FALSE(follower.CurrentLineFor(9500, true).repaint);
    }
    doc.status = LyricsStatus::Timed;
    doc.manualScroll = true;
    EXPECT_EQ(LineFor(9500), 0);
    doc.manualScroll = false;
    EXPECT_EQ(LineFor(9500), 2);
    // No document: nothing happens.
    follower.SetDocument(nullptr);
    EXPECT_EQ(follower.CurrentLineFor(9500, true).repaint, false);
    EXPECT_EQ(follower.currentLine(), 0);
}

TEST_F(Follow, WhilePlayingTheTimerIsArmedForTheNextLine) {
    Lines({0, 12000, 20000}, LyricsStatus::Timed);
    now = 11000;
    PaneActions a = follower.OnPlay(now);
    EXPECT_EQ(follower.mode(), PlaybackMode::Playing);
    EXPECT_EQ(follower.currentLine(), 0);
    EXPECT_TRUE(a.stopLineTimer);
    EXPECT_TRUE(a.armLineTimer);
    EXPECT_EQ(a.lineTimerMs, 1000u + kLineTimerMarginMs);
    EXPECT_TRUE(a.repaint);

    now = 11999;
    EXPECT_EQ(follower.CurrentLineFor(now, false).lineTimerMs, 1u + kLineTimerMarginMs);
    // The delay is measured from the position read now, not the one the line was chosen for:
    // after a new document (line 0 for position 0) the timer catches up at once.
    now = 15000;
    a = follower.CurrentLineFor(0, false);
    EXPECT_EQ(follower.currentLine(), 0);
    EXPECT_TRUE(a.armLineTimer);
    EXPECT_EQ(a.lineTimerMs, 1u);
    a = follower.OnLineTimer();
    EXPECT_EQ(follower.currentLine(), 1);
    EXPECT_EQ(a.lineTimerMs, 5000u + kLineTimerMarginMs);
    // At the last line there is nothing to wait for.
    now = 20001;
    a = follower.OnLineTimer();
    EXPECT_EQ(follower.currentLine(), 2);
    EXPECT_TRUE(a.stopLineTimer);
    EXPECT_FALSE(a.armLineTimer);
}

TEST_F(Follow, DueLinesWaitForTheMarginAndOverdueOnesOneMillisecond) {
    Lines({0, 5000}, LyricsStatus::Retimed);
    follower.OnPlay(0);
    now = 5000;  // current line 0, next one reached but not yet passed
    EXPECT_EQ(follower.CurrentLineFor(now, false).lineTimerMs, kLineTimerMarginMs);

    LyricsDocument backwards;  // the line after the current one lies in the past
    backwards.AddLine(u"a", u"");
    backwards.AddLine(u"b", u"");
    backwards.LineAt(0)->time = 6000;
    backwards.LineAt(1)->time = 3000;
    backwards.status = LyricsStatus::Retimed;
    follower.SetDocument(&backwards);
    PaneActions a = follower.CurrentLineFor(now, false);
    EXPECT_EQ(follower.currentLine(), 0);
    EXPECT_TRUE(a.armLineTimer);
    EXPECT_EQ(a.lineTimerMs, 1u);
}

TEST_F(Follow, VeryDistantLinesUseTheLongestTimer) {
    Lines({0, 4294967295.0 * 2}, LyricsStatus::Timed);
    now = 1;
    EXPECT_EQ(follower.OnPlay(now).lineTimerMs, kLongestLineTimerMs);
}

TEST_F(Follow, TheTimingOffsetMovesTheLitLineAndTheTimerButNoTime) {
    Lines({0, 5000, 9000}, LyricsStatus::Timed);
    now = 4600;
    follower.OnPlay(now);
    EXPECT_EQ(follower.currentLine(), 0);
    // Earlier by 0.5 s: line 1 is due at 4500 ms, so it lights now, and line 2 at 8500 ms.
    PaneActions a = follower.SetTimingOffset(-kTimingNudgeMs);
    EXPECT_EQ(follower.currentLine(), 1);
    EXPECT_TRUE(a.repaint);
    EXPECT_EQ(a.lineTimerMs, 8500u - 4600u + kLineTimerMarginMs);
    EXPECT_EQ(LineFor(8500), 1);
    EXPECT_EQ(LineFor(8501), 2);
    // Later: every line 500 ms after its own time.
    follower.SetTimingOffset(kTimingNudgeMs);
    EXPECT_EQ(LineFor(5500), 0);
    EXPECT_EQ(LineFor(5501), 1);
    EXPECT_EQ(doc.LineAt(1)->time, 5000);  // what an upload sends stays the document's own
    follower.SetTimingOffset(-2 * kLongestTimingOffsetMs);
    EXPECT_EQ(doc.timingOffsetMs, -kLongestTimingOffsetMs);
}

TEST_F(Follow, AJumpLandsJustPastTheLinesShownTimeOutsideResyncOnly) {
    Lines({0, 5000, 9000}, LyricsStatus::Timed);
    doc.timingOffsetMs = -500;
    ASSERT_TRUE(follower.JumpTo(2).has_value());
    EXPECT_EQ(*follower.JumpTo(2), 8500u + kLineTimerMarginMs);
    EXPECT_EQ(LineFor(*follower.JumpTo(2)), 2);
    EXPECT_EQ(*follower.JumpTo(0), 0u);  // never before the start
    EXPECT_FALSE(follower.JumpTo(3));
    EXPECT_FALSE(follower.JumpTo(-1));
    doc.resyncing = true;
    EXPECT_FALSE(follower.JumpTo(1));
    doc.resyncing = false;
    doc.status = LyricsStatus::Untimed;
    EXPECT_FALSE(follower.JumpTo(1));
}

TEST_F(Follow, PauseStopAndTheOneShotTimer) {
    Lines({0, 5000, 9000}, LyricsStatus::Timed);
    now = 6000;
    follower.OnPlay(now);
    PaneActions a = follower.OnPause();
    EXPECT_EQ(follower.mode(), PlaybackMode::Paused);
    EXPECT_TRUE(a.stopLineTimer);
    EXPECT_FALSE(a.armLineTimer);
    EXPECT_EQ(follower.currentLine(), 1);
    // Seeking while paused moves the line but arms nothing.
    a = follower.CurrentLineFor(9500, true);
    EXPECT_EQ(follower.currentLine(), 2);
    EXPECT_FALSE(a.armLineTimer);
    EXPECT_TRUE(a.repaint);

    a = follower.OnStop();
    EXPECT_EQ(follower.mode(), PlaybackMode::Stopped);
    EXPECT_EQ(follower.currentLine(), 0);
    EXPECT_TRUE(a.stopLineTimer);
    EXPECT_FALSE(a.armLineTimer);
    EXPECT_TRUE(a.repaint);

    // A timer tick that cannot move the lines still ends the timer: it is one-shot.
    follower.OnPlay(now);
    doc.manualScroll = true;
    a = follower.OnLineTimer();
    EXPECT_TRUE(a.stopLineTimer);
    EXPECT_FALSE(a.armLineTimer);
}

TEST_F(Follow, ANewDocumentStartsAtLineZeroAndKeepsTheMode) {
    Lines({0, 5000, 9000}, LyricsStatus::Timed);
    follower.OnPlay(9500);
    EXPECT_EQ(follower.currentLine(), 2);
    LyricsDocument untimed;
    untimed.AddLine(u"a", u"");
    untimed.AddLine(u"b", u"");
    untimed.status = LyricsStatus::Untimed;
    PaneActions a = follower.SetDocument(&untimed);
    EXPECT_TRUE(a.stopLineTimer);
    EXPECT_TRUE(a.repaint);
    EXPECT_EQ(follower.currentLine(), 0);
    EXPECT_EQ(follower.mode(), PlaybackMode::Playing);
    EXPECT_EQ(follower.document(), &untimed);
}

TEST_F(Follow, ResyncStampsTheNextLineWithThePosition) {
    Lines({0, 0, 0}, LyricsStatus::Untimed);
    follower.OnPlay(0);
    // Outside re-sync a click stamps nothing.
    PaneActions a = follower.StampNextLine(700);
    EXPECT_FALSE(a.animateScroll);
    EXPECT_EQ(doc.status, LyricsStatus::Untimed);

    follower.SetResyncing(true);
    EXPECT_TRUE(doc.resyncing);
    a = follower.StampNextLine(1500);
    EXPECT_TRUE(a.animateScroll);
    EXPECT_TRUE(a.repaint);
    EXPECT_FALSE(a.armLineTimer);  // no line timer during re-sync
    EXPECT_EQ(doc.status, LyricsStatus::Retimed);
    EXPECT_EQ(follower.currentLine(), 1);
    EXPECT_EQ(doc.LineAt(1)->time, 1500.0);
    EXPECT_EQ(doc.LineAt(0)->time, 0.0);  // line 0 is never stamped

    // While re-syncing, re-timed lyrics do not follow the timer or the position.
    now = 100000;
    EXPECT_FALSE(follower.OnLineTimer().armLineTimer);
    EXPECT_EQ(follower.currentLine(), 1);

    follower.StampNextLine(2600);
    EXPECT_EQ(follower.currentLine(), 2);
    // At the last line a click does nothing.
    a = follower.StampNextLine(3000);
    EXPECT_FALSE(a.animateScroll);
    EXPECT_EQ(doc.LineAt(2)->time, 2600.0);
    EXPECT_TRUE(doc.PassesResyncTest());

    // Re-sync off: the re-timed lyrics follow the position read now.
    now = 2000;
    a = follower.SetResyncing(false);
    EXPECT_FALSE(doc.resyncing);
    EXPECT_EQ(follower.currentLine(), 1);
    EXPECT_TRUE(a.armLineTimer);
    EXPECT_EQ(a.lineTimerMs, 600u + kLineTimerMarginMs);
    EXPECT_EQ(doc.status, LyricsStatus::Retimed);
}

TEST_F(Follow, WhileResyncingOnlyClicksMoveTheCurrentLine) {
    // Untimed lines hold 0 until stamped: following the position would jump to the last line.
    Lines({0, 0, 0, 0, 0}, LyricsStatus::Untimed);
    follower.SetResyncing(true);
    follower.OnPlay(now = 1000);
    follower.StampNextLine(2000);
    ASSERT_EQ(doc.status, LyricsStatus::Retimed);
    follower.OnPause();
    follower.OnPlay(now = 3000);
    EXPECT_EQ(follower.currentLine(), 1);
    EXPECT_FALSE(follower.CurrentLineFor(2500, true).armLineTimer);  // a seek
    EXPECT_EQ(follower.currentLine(), 1);
    follower.StampNextLine(4000);
    EXPECT_EQ(follower.currentLine(), 2);
    EXPECT_EQ(doc.LineAt(2)->time, 4000.0);
}

TEST_F(Follow, ThePositionIsReadBeforeTheLinesAreLookedUp) {
    // Reading the position may re-enter and replace the document (a page script, the player).
    auto first = std::make_unique<LyricsDocument>();
    LyricsDocument second;
    for (LyricsDocument* d : {first.get(), &second}) {
        for (double t : {0.0, 5000.0, 9000.0}) {
            d->AddLine(u"line", u"");
            d->LineAt(d->LineCount() - 1)->time = t;
        }
        d->status = LyricsStatus::Timed;
    }
    second.LineAt(1)->time = 7000;
    LineFollower* self = nullptr;
    LineFollower replacing([&]() -> uint32_t {
        if (first) {
            self->SetDocument(&second);
            first.reset();
        }
        return 1000;
    });
    self = &replacing;
    replacing.SetDocument(first.get());
    const PaneActions a = replacing.OnPlay(1000);
    EXPECT_EQ(replacing.document(), &second);
    EXPECT_EQ(a.lineTimerMs, 6000u + kLineTimerMarginMs);  // the new document's next line
}

TEST_F(Follow, ResyncOfTimedLyricsRestartsAtLineZero) {
    Lines({1000, 5000, 9000}, LyricsStatus::Timed);
    follower.OnPlay(9500);
    EXPECT_EQ(follower.currentLine(), 2);
    follower.SetResyncing(true);
    EXPECT_EQ(follower.currentLine(), 0);
    follower.StampNextLine(4000);
    EXPECT_EQ(doc.LineAt(1)->time, 4000.0);
    EXPECT_EQ(doc.LineAt(0)->time, 1000.0);
}

TEST_F(Follow, ManualScrollShowsTheBarAndStopsFollowing) {
    Lines({0, 5000, 9000}, LyricsStatus::Timed);
    now = 6000;
    follower.OnPlay(now);
    ManualScrollChange change = follower.SetManualScroll(true);
    EXPECT_TRUE(doc.manualScroll);
    EXPECT_TRUE(change.scrollBar.visible);
    EXPECT_EQ(change.scrollBar.maximum, 3);
    EXPECT_EQ(change.scrollBar.position, 1);
    EXPECT_TRUE(change.actions.repaint);
    EXPECT_EQ(LineFor(9500), 1);

    // Back to following: the line catches up with the music at once.
    now = 9500;
    change = follower.SetManualScroll(false);
    EXPECT_FALSE(change.scrollBar.visible);
    EXPECT_EQ(change.scrollBar.maximum, 0);
    EXPECT_EQ(follower.currentLine(), 2);

    follower.SetDocument(nullptr);
    change = follower.SetManualScroll(true);
    EXPECT_FALSE(change.scrollBar.visible);
    EXPECT_TRUE(change.actions.repaint);
}

TEST(ResyncPlan, StartsOnlyForLyricsWithLinesThatAreNotResyncing) {
    EXPECT_FALSE(PlanResyncStart(nullptr, true).start);
    LyricsDocument doc;
    doc.AddLine(u"a", u"");
    doc.sourceKind = MediaSource::Player;
    for (LyricsStatus status : {LyricsStatus::None, LyricsStatus::MissingKeys, LyricsStatus::NotFound,
                                LyricsStatus::Final, LyricsStatus::ConnectionError}) {
        doc.status = status;
        EXPECT_FALSE(PlanResyncStart(&doc, true).start) << static_cast<int>(status);
    }
    for (LyricsStatus status : {LyricsStatus::Timed, LyricsStatus::Untimed, LyricsStatus::Retimed}) {
        doc.status = status;
        EXPECT_TRUE(PlanResyncStart(&doc, true).start) << static_cast<int>(status);
    }
    doc.resyncing = true;
    EXPECT_FALSE(PlanResyncStart(&doc, true).start);
    EXPECT_TRUE(ResyncStopNeeded(&doc));
    doc.resyncing = false;
    EXPECT_FALSE(ResyncStopNeeded(&doc));
    EXPECT_FALSE(ResyncStopNeeded(nullptr));

    LyricsDocument empty;
    empty.status = LyricsStatus::Untimed;
    EXPECT_FALSE(PlanResyncStart(&empty, false).start);
}

TEST(ResyncPlan, RestartRewindsTheSourceTheTrackPlaysIn) {
    LyricsDocument doc;
    doc.AddLine(u"a", u"");
    doc.status = LyricsStatus::Untimed;
    doc.sourceKind = MediaSource::Player;
    ResyncStartPlan plan = PlanResyncStart(&doc, true);
    EXPECT_TRUE(plan.rewindPlayer);
    EXPECT_TRUE(plan.playPlayer);
    EXPECT_FALSE(plan.seekPageToStart);
    plan = PlanResyncStart(&doc, false);  // a new untimed document: no rewind
    EXPECT_FALSE(plan.rewindPlayer);
    EXPECT_TRUE(plan.playPlayer);

    doc.sourceKind = MediaSource::VideoPage;
    plan = PlanResyncStart(&doc, true);
    EXPECT_TRUE(plan.seekPageToStart);
    EXPECT_FALSE(plan.playPlayer);
    EXPECT_FALSE(PlanResyncStart(&doc, false).seekPageToStart);

    doc.sourceKind = MediaSource::None;
    plan = PlanResyncStart(&doc, true);
    EXPECT_TRUE(plan.start);
    EXPECT_FALSE(plan.rewindPlayer || plan.playPlayer || plan.seekPageToStart);
}

}  // namespace
}  // namespace sv
