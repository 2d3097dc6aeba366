// The main plug-in window with the plug-in object, both built into this test from the same code as
// Sonavire.dll, inside the stand-in player and against the stand-in service. These tests read what
// only the process itself can see: the status triple, the shown and request documents, the pages
// the browse panes were sent to and the calls made on the video page's script.
#include "plugin_window_fixture.h"
#include "resources/resource_ids.h"

namespace {

using namespace svtest;

// Records the lyrics pane's current line at each of its paints.
struct PaneRecorder {
    static inline sv::CSVPluginLyrics* pane = nullptr;
    static inline WNDPROC original = nullptr;
    static inline std::vector<int> lines;
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_PAINT) lines.push_back(pane->CurrentLine());
        return CallWindowProcW(original, hwnd, message, wParam, lParam);
    }
};

// ---------------------------------------------------------------------------------------------
// Documents and status.

TEST_F(PluginWindowTest, TheStatusFollowsTheShownDocumentsCode) {
    LoadPlugin();
    const std::wstring noConnection =
        L"There is no internet connection. Ensure that your phone is correctly configured.";
    const struct {
        sv::LyricsStatus status;
        int lines;
        uint16_t textId;
        bool linesShown;
        std::wstring statusLine;
    } cases[] = {
        {sv::LyricsStatus::ConnectionError, 0, 500, false, L"Connection error"},
        {sv::LyricsStatus::LoginFailed, 0, 501, false, noConnection},
        {sv::LyricsStatus::ServerUnreachable, 0, 504, false, noConnection},
        {sv::LyricsStatus::RequestFailed, 0, 505, false, noConnection},
        {sv::LyricsStatus::Timed, 3, 200, true, L""},
        {sv::LyricsStatus::NotFound, 0, 206, false, Text(206)},
        {sv::LyricsStatus::MissingKeys, 0, 205, false, L"Missing artist or title info"},
        {sv::LyricsStatus::Final, 2, 207, true, L"The timing of the lyrics of this song is final"},
        {sv::LyricsStatus::None, 0, 200, false, L""},
        {static_cast<sv::LyricsStatus>(70000), 0, 200, false, L""},  // an unknown code shows nothing
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(testing::Message() << "status " << static_cast<int>(item.status));
        auto document = MakeDocument(item.status, item.lines);
        const LyricsDocument* shown = document.get();
        Window().SetDocument(std::move(document));
        EXPECT_EQ(shown, Window().ShownDocument());
        EXPECT_EQ(shown, Window().LyricsPane().Document());
        EXPECT_EQ(item.textId, Status().statusTextId);
        EXPECT_EQ(sv::STATUS_COLOUR, Status().statusColour);
        EXPECT_EQ(item.linesShown, Status().linesShown);
        EXPECT_EQ(item.statusLine, StatusLineText());
    }
    Window().SetDocument(nullptr);
    EXPECT_EQ(nullptr, Window().LyricsPane().Document());
    EXPECT_EQ(200, Status().statusTextId);
    EXPECT_FALSE(Status().linesShown);
}

TEST_F(PluginWindowTest, UntimedLinesStartReSyncWhereTheTrackIs) {
    LoadPlugin();
    engine_->Log().Clear();
    auto document = MakeDocument(sv::LyricsStatus::Untimed, 4);
    LyricsDocument* shown = document.get();
    Window().SetDocument(std::move(document));
    EXPECT_TRUE(shown->resyncing);
    EXPECT_FALSE(shown->manualScroll);
    EXPECT_EQ(201, Status().statusTextId);
    EXPECT_EQ(L"Click lyrics to advance line", StatusLineText());
    EXPECT_EQ(std::vector<std::string>{"controls.play"}, Calls()) << "played, never rewound";

    // Untimed but without lines: nothing to re-time, and the status stays as it was.
    Window().SetStatus(212);
    engine_->Log().Clear();
    auto empty = MakeDocument(sv::LyricsStatus::Untimed, 0);
    LyricsDocument* emptyShown = empty.get();
    Window().SetDocument(std::move(empty));
    EXPECT_FALSE(emptyShown->resyncing);
    EXPECT_EQ(212, Status().statusTextId);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(PluginWindowTest, ReSyncWithRestartRewindsThePlayerAndStopResyncClearsTheStatus) {
    LoadPlugin();
    auto document = MakeDocument(sv::LyricsStatus::Timed, 5);
    LyricsDocument* shown = document.get();
    Window().SetDocument(std::move(document));
    engine_->Log().Clear();
    Window().StartResync(true);
    EXPECT_EQ((std::vector<std::string>{"controls.put_currentPosition(0)", "controls.play"}), Calls());
    EXPECT_TRUE(shown->resyncing);
    EXPECT_EQ(201, Status().statusTextId);
    EXPECT_EQ(0, Window().LyricsPane().CurrentLine());

    engine_->Log().Clear();
    Window().StartResync(true);
    EXPECT_TRUE(Calls().empty()) << "already re-syncing";

    Window().StopResync();
    EXPECT_FALSE(shown->resyncing);
    EXPECT_EQ(200, Status().statusTextId);

    // A document from the video page seeks the page instead of the player.
    auto record = RecordPageCalls();
    Window().SetDocument(MakeDocument(sv::LyricsStatus::Timed, 5, sv::MediaSource::VideoPage));
    engine_->Log().Clear();
    record->calls.clear();
    Window().StartResync(true);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(std::vector<std::wstring>{L"seekTo(0)"}, record->calls);
}

// ---------------------------------------------------------------------------------------------
// Lookups.

TEST_F(PluginWindowTest, TheLanguageListComesLaterAndTheFirstLookupStillWaitsForTheStoredChoice) {
    constexpr char kLanguagesPath[] = "/sonavire/services/getSupportedLanguages.php";
    key_->SetUserText(L"Translation", L"fr");
    service_.SetBehaviour(kLanguagesPath, "delay", 1200);
    const ULONGLONG before = GetTickCount64();
    LoadPlugin();
    engine_->Open(0, true);
    Deliver();
    EXPECT_LT(GetTickCount64() - before, 1000u) << "the player's thread never waits for the list";
    EXPECT_EQ(1u, Window().Languages().entries().size());
    // The lookup waited on its worker and went out in the stored language.
    const auto requests = service_.WaitForRequests(kFetchPath, 1);
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("fr", requests[0].Query("lang"));
    ASSERT_TRUE(PumpUntil([&] { return Window().Languages().entries().size() == 3; }));
    EXPECT_EQ(3, Window().Languages().selected());
    ASSERT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::Player));
    sv::CommandInfo translate;
    translate.id = CMD_TRANSLATE;
    Window().DescribeCommand(translate);
    EXPECT_EQ(sv::CMD_STATE_ACTIVE, translate.state);
}

TEST_F(PluginWindowTest, TwentyQuickTrackChangesEndWithTheLastTracksLyrics) {
    std::vector<Track> tracks;
    const Track songs[] = {Track::Audio(L"Traditional", L"Auld Lang Syne", L"", 30.0),
                           Track::Audio(L"Traditional", L"Amazing Grace", L"", 30.0),
                           Track::Audio(L"Nobody Known", L"No Such Song", L"", 30.0),
                           Track::Audio(L"The Escapes", L"Rock & Roll", L"", 30.0)};
    for (int i = 0; i < 19; ++i) tracks.push_back(songs[i % 4]);
    tracks.push_back(Track::Audio(L"Blue Harbour", L"Night Train", L"First Light", 40.0));
    engine_->SetPlaylist(tracks);
    LoadPlugin();
    StaleReplies stale(Window());
    // Every answer comes late, long after the next track has opened.
    service_.SetBehaviour(kFetchPath, "delay", 400);
    service_.SetBehaviour(kVersionPath, "delay", 400);

    for (int i = 0; i < 20; ++i) {
        engine_->Open(i, true);
        engine_->DeliverPendingEvents();
    }
    EXPECT_EQ(L"Loading lyrics... Please wait", StatusLineText());
    // The first lookups run and come back stale; those between them and the last are dropped unrun.
    const long running = sv::LyricsFetcher::kRunningFetchLimit;
    ASSERT_TRUE(PumpUntil(
        [&] {
            const LyricsDocument* shown = Window().ShownDocument();
            return stale.count == running && shown && shown->Title() == u"Night Train";
        },
        30000))
        << "stale replies: " << stale.count;
    EXPECT_EQ(19 - running, PluginWindowTestAccess::DiscardedReplies(Window()));
    const LyricsDocument* shown = Window().ShownDocument();
    EXPECT_EQ(sv::LyricsStatus::Timed, shown->status);
    EXPECT_EQ(44, shown->LineCount());
    EXPECT_EQ(L"", StatusLineText());
}

TEST_F(PluginWindowTest, AReplyForATrackNoLongerWantedIsDropped) {
    LoadPlugin();
    StaleReplies stale(Window());
    service_.SetBehaviour(kFetchPath, "delay", 500);
    engine_->Open(0, true);
    Deliver();
    ASSERT_EQ(1u, service_.WaitForRequests(kFetchPath, 1).size());
    // The page reports a video without a title: nothing is looked up, and the player's answer
    // that is still on its way must not appear.
    PageOpens(u"Someone", u"");
    EXPECT_EQ(sv::LyricsStatus::MissingKeys, Window().RequestDocument().status);
    EXPECT_EQ(205, Status().statusTextId) << "the loading text gives way to the reason";
    ASSERT_TRUE(PumpUntil([&] { return stale.count == 1; }));
    EXPECT_EQ(nullptr, Window().ShownDocument());
    EXPECT_EQ(205, Status().statusTextId);
}

TEST_F(PluginWindowTest, ALookupGivenUpForAnItemThatCannotBeReadLeavesNoLoadingText) {
    LoadPlugin();
    service_.SetBehaviour(kFetchPath, "delay", 500);
    for (const auto answer : {sv::standin::CurrentMediaAnswer::NoItem, sv::standin::CurrentMediaAnswer::Failure}) {
        engine_->SetCurrentMediaAnswer(sv::standin::CurrentMediaAnswer::CurrentItem);
        engine_->Open(0, true);
        Deliver();
        ASSERT_EQ(IDS_STATUS_LOADING, Status().statusTextId);
        engine_->SetCurrentMediaAnswer(answer);
        Events().OpenStateChange(13);
        EXPECT_EQ(0u, PluginWindowTestAccess::WantedFetch(Window()));
        EXPECT_EQ(200, Status().statusTextId) << "no item: no loading text";
    }
    // An item without a title: its own message, through the lookup that answers at once.
    engine_->SetCurrentMediaAnswer(sv::standin::CurrentMediaAnswer::CurrentItem);
    engine_->SetPlaylist({Track::Audio(L"Blue Harbour", L"", L"", 40.0)});
    engine_->Open(0, true);
    Deliver();
    ASSERT_TRUE(PumpUntil([&] { return Window().ShownDocument() != nullptr; }));
    EXPECT_EQ(205, Status().statusTextId);
}

TEST_F(PluginWindowTest, ADocumentArrivingMidSongIsPaintedOnceAtItsLine) {
    LoadPlugin();
    engine_->Open(0, true);
    Deliver();
    ASSERT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::Player));
    clock_ += 25.0;  // 25 s into the song
    auto document = MakeDocument(sv::LyricsStatus::Timed, 6);
    for (int i = 0; i < 6; ++i) document->LineAt(i)->time = 10000.0 * i;  // line 2 is due at 20 s
    // The line the pane stands at each time it paints.
    PaneRecorder::pane = &Window().LyricsPane();
    PaneRecorder::lines.clear();
    PumpPending();
    const HWND pane = Window().LyricsPane().Hwnd();
    PaneRecorder::original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&PaneRecorder::Procedure)));
    Window().SetDocument(std::move(document));
    PumpPending();
    SetWindowLongPtrW(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PaneRecorder::original));
    const std::vector<int> lines = PaneRecorder::lines;
    EXPECT_EQ(std::vector<int>{2}, lines) << "one paint, at line 2; never line 0";
    EXPECT_EQ(2, Window().LyricsPane().CurrentLine());
}

// Moves and resizes of the plug-in window's panes, seen by a hook on this thread: a pane made
// somewhere and moved into its place afterwards costs the player's thread a round of messages and
// an erase more.
HWND g_movesWatchedParent = nullptr;
int g_paneMoves = 0;
LRESULT CALLBACK CountPaneMoves(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_WINDOWPOSCHANGING && GetParent(call->hwnd) == g_movesWatchedParent) {
        const auto* position = reinterpret_cast<const WINDOWPOS*>(call->lParam);
        if ((position->flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) ++g_paneMoves;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(PluginWindowTest, CreateMakesThePanesTheFirstEventsReachAndTheOthersInLaterMessages) {
    engine_->Open(0, true);
    LoadPlugin(false);
    g_movesWatchedParent = Window().Hwnd();
    g_paneMoves = 0;
    const HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, &CountPaneMoves, nullptr, GetCurrentThreadId());
    EXPECT_EQ(L"Loading lyrics... Please wait", StatusLineText()) << "the replayed open reached the status line";
    EXPECT_TRUE(Window().LyricsPane().Hwnd() && !Window().ActionBar().Hwnd());
    // Made in their places: the status line along the bottom, the lyrics pane with an area.
    RECT client{}, status{}, lyrics{};
    GetClientRect(Window().Hwnd(), &client);
    GetClientRect(Window().StatusLine().Hwnd(), &status);
    GetClientRect(Window().LyricsPane().Hwnd(), &lyrics);
    EXPECT_TRUE(client.right > 0 && status.right == client.right && status.bottom > 0 && !IsRectEmpty(&lyrics));
    const bool ready = PumpUntil([&] { return Window().PanesReady(); });
    UnhookWindowsHookEx(hook);
    ASSERT_TRUE(ready);
    EXPECT_TRUE(Window().ActionBar().ListWindow() && Window().Logo().Hwnd() && Window().AdvertPane().Hwnd());
    EXPECT_EQ(0, g_paneMoves) << "the later panes are made in their places too";
    // A layout for the size the window has moves no pane.
    MessageCounter statusMoves(Window().StatusLine().Hwnd()), actionMoves(Window().ActionBar().Hwnd());
    Window().Layout(client.right, client.bottom);
    EXPECT_EQ(0, statusMoves.Count(WM_WINDOWPOSCHANGING) + actionMoves.Count(WM_WINDOWPOSCHANGING));
}

TEST_F(PluginWindowTest, TracksChangingWhileTheServiceIsSilentRepaintNothingThatStaysTheSame) {
    LoadPlugin();
    service_.SetBehaviour(kFetchPath, "delay", 3000);
    engine_->Open(0, true);
    Deliver();
    PumpPending();
    MessageCounter status(Window().StatusLine().Hwnd()), lyrics(Window().LyricsPane().Hwnd());
    for (int i = 1; i < 6; ++i) {
        engine_->Open(i % 2, true);
        Deliver();
        PumpPending();
    }
    EXPECT_EQ(IDS_STATUS_LOADING, Status().statusTextId);
    EXPECT_EQ(0, status.paints() + lyrics.paints()) << "the same loading text again";
}

TEST_F(PluginWindowTest, AForeignLyricsReadyMessageIsNeverTakenForAReply) {
    LoadPlugin();
    service_.SetBehaviour(kFetchPath, "delay", 500);
    engine_->Open(0, true);
    Deliver();
    ASSERT_EQ(1u, service_.WaitForRequests(kFetchPath, 1).size());
    // Someone else posts the same message with the wanted sequence before the reply is there:
    // nothing is adopted, and its lParam (here an object on the stack) is never touched.
    LyricsDocument notOurs;
    notOurs.SetTitle(u"Foreign");
    PostMessageW(Window().Hwnd(), sv::WM_SV_LYRICS_READY, PluginWindowTestAccess::WantedFetch(Window()),
                 reinterpret_cast<LPARAM>(&notOurs));
    PumpPending();
    EXPECT_EQ(nullptr, Window().ShownDocument());
    EXPECT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::Player)) << "the real reply is still taken";
}

TEST_F(PluginWindowTest, RepliesStillQueuedWhenTheWindowGoesAreFreed) {
    // The item is open before the plug-in comes: Create's replayed open starts the lookup.
    engine_->Open(0, true);
    LoadPlugin(false);
    const HWND main = Window().Hwnd();
    MSG queued;
    // The reply is posted by the worker; nothing here dispatches it.
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (!PeekMessageW(&queued, main, sv::WM_SV_LYRICS_READY, sv::WM_SV_LYRICS_READY, PM_NOREMOVE | PM_NOYIELD) &&
           GetTickCount64() < deadline) {
        MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_POSTMESSAGE, 0);
    }
    ASSERT_EQ(sv::WM_SV_LYRICS_READY, queued.message);
    Window().Destroy();
    EXPECT_EQ(1, PluginWindowTestAccess::DiscardedReplies(Window()));
    EXPECT_FALSE(PeekMessageW(&queued, main, sv::WM_SV_LYRICS_READY, sv::WM_SV_LYRICS_READY, PM_NOREMOVE));
}

// ---------------------------------------------------------------------------------------------
// The video page and the player.

TEST_F(PluginWindowTest, TheVideoPageAndThePlayerTakeTurns) {
    engine_->Open(0, true);
    Deliver();
    LoadPlugin();
    auto page = RecordPageCalls();
    ASSERT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::Player));

    // The page opens a video: the player stops; the page is not told about its own event.
    engine_->Log().Clear();
    page->calls.clear();
    PageOpens(u"Traditional", u"Amazing Grace");
    EXPECT_EQ(std::vector<std::string>{"controls.stop"}, Calls());
    EXPECT_TRUE(page->calls.empty());
    ASSERT_TRUE(WaitForShown(u"Amazing Grace", sv::MediaSource::VideoPage));
    const auto fetches = service_.Requests(kFetchPath);
    ASSERT_FALSE(fetches.empty());
    EXPECT_EQ("youtube", fetches.back().Query("vidSrc"));
    EXPECT_EQ("vid42", fetches.back().Query("videoId"));

    // The page's own play states are not echoed back to it; positions come from the page.
    page->calls.clear();
    Page().PagePlayStateChanged(sv::PagePlayState::Playing);
    Page().PagePlayStateChanged(sv::PagePlayState::Paused);
    EXPECT_EQ(std::vector<std::wstring>{L"getCurrentTime()"}, page->calls);
    page->calls.clear();
    Events().PositionChange(0.0, 0.0);
    EXPECT_EQ(std::vector<std::wstring>{L"getCurrentTime()"}, page->calls);
    page->calls.clear();
    Page().PageShowsLyrics(false);
    EXPECT_FALSE(Window().LyricsPane().ShowLyrics());
    Page().PageShowsLyrics(true);
    EXPECT_TRUE(Window().LyricsPane().ShowLyrics());
    Page().PagePlayStateChanged(sv::PagePlayState::Stopped);
    Page().PagePlayStateChanged(sv::PagePlayState::MediaEnded);
    EXPECT_TRUE(page->calls.empty());
    EXPECT_EQ(sv::PlaybackMode::Stopped, Window().LyricsPane().Mode());

    // The player opens an item while the video's lyrics show: the page is stopped first.
    page->calls.clear();
    Events().OpenStateChange(13);
    ASSERT_GE(page->calls.size(), 2u);
    EXPECT_EQ(L"stop()", page->calls[0]);
    EXPECT_EQ(L"OnMediaPlayerOpened(,Blue Harbour,Night Train)", page->calls[1]);
    ASSERT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::Player));

    // Playing in the player while the video's lyrics show looks the player's item up first.
    PageOpens(u"Traditional", u"Amazing Grace");
    ASSERT_TRUE(WaitForShown(u"Amazing Grace", sv::MediaSource::VideoPage));
    page->calls.clear();
    engine_->Log().Clear();
    // The lyrics service's requests only: the panes load their pages from the same stand-in.
    const auto serviceRequests = [&] {
        std::vector<RecordedRequest> found;
        for (RecordedRequest& request : service_.Requests()) {
            if (request.path.rfind("/sonavire/", 0) == 0) found.push_back(std::move(request));
        }
        return found;
    };
    const size_t requestsBefore = serviceRequests().size();
    Events().PlayStateChange(3);
    EXPECT_EQ((std::vector<std::wstring>{L"stop()", L"OnMediaPlayerOpened(,Blue Harbour,Night Train)",
                                         L"OnMediaPlayerStarted()"}),
              page->calls);
    EXPECT_EQ("core.get_currentMedia", Calls().at(0));
    // Night Train is cached by now: its lookup asks for the version.
    std::vector<RecordedRequest> requests;
    ASSERT_TRUE(PumpUntil([&] { return (requests = serviceRequests()).size() > requestsBefore; }));
    ASSERT_EQ(requestsBefore + 1, requests.size());
    EXPECT_EQ("Night Train", requests.back().Query("title"));
    EXPECT_EQ(sv::MediaSource::Player, Window().RequestDocument().sourceKind);
}

TEST_F(PluginWindowTest, ThePlaybackPositionComesFromTheShownDocumentsSource) {
    LoadPlugin();
    auto page = RecordPageCalls();
    EXPECT_EQ(0u, Object().GetPositionMs()) << "no document";

    Window().SetDocument(MakeDocument(sv::LyricsStatus::Timed, 3, sv::MediaSource::VideoPage));
    const struct {
        VARTYPE type;
        double number;
        const wchar_t* text;
        uint32_t expected;
    } answers[] = {{VT_R8, 12.5, nullptr, 12500}, {VT_I4, 12, nullptr, 12000}, {VT_BSTR, 0, L"7.25", 7250},
                   {VT_BSTR, 0, L"soon", 0},      {VT_EMPTY, 0, nullptr, 0},   {VT_R8, -3.0, nullptr, 0},
                   {VT_R8, 1e300, nullptr, 0}};
    for (const auto& answer : answers) {
        VARIANT& value = *page->currentTime.put();
        value.vt = answer.type;
        if (answer.type == VT_R8) value.dblVal = answer.number;
        if (answer.type == VT_I4) value.lVal = static_cast<LONG>(answer.number);
        if (answer.type == VT_BSTR) value.bstrVal = SysAllocString(answer.text);
        EXPECT_EQ(answer.expected, Object().GetPositionMs()) << "answer type " << answer.type;
    }

    engine_->Open(0, true);
    Deliver();
    ASSERT_TRUE(WaitForShown(u"Night Train", sv::MediaSource::Player));
    clock_ += 2.5;
    EXPECT_EQ(2500u, Object().GetPositionMs());
}

// ---------------------------------------------------------------------------------------------
// Pages.

TEST_F(PluginWindowTest, TheFirstPagesComeFromTheSettingsOrAreOfflinePages) {
    const std::wstring site = L"http://" + StandinHost();
    LoadPlugin();
    // Create leaves the browser controls to later messages, which make and load them.
    EXPECT_FALSE(Window().BrowsePane().Browser().HasControl() || Window().AdvertPane().Browser().HasControl());
    ASSERT_TRUE(PumpUntil([&] { return Window().AdvertPane().Browser().HasControl(); }));
    EXPECT_TRUE(Window().BrowsePane().Browser().HasControl());
    EXPECT_EQ(site + L"/wiki/wmp/", Window().BrowsePane().CurrentAddress());
    EXPECT_EQ(site + L"/wiki/wmp/lyricsAd.php", Window().AdvertPane().CurrentAddress());
    EXPECT_EQ(site + L"/wiki/wmp/", TextOf(Window().BrowsePane().Hwnd()));

    key_->SetText(L"YouTube URL", L"http://video.example/theatre");
    key_->SetText(L"Advert URL", L"http://ads.example/");
    LoadPlugin();
    EXPECT_EQ(L"http://video.example/theatre", Window().BrowsePane().CurrentAddress());
    EXPECT_EQ(L"http://ads.example/", Window().AdvertPane().CurrentAddress());

    connected_ = false;
    LoadPlugin();
    EXPECT_EQ(L"C:\\Program Files\\Sonavire\\Offline\\OfflineSV.htm", Window().BrowsePane().CurrentAddress());
    EXPECT_EQ(L"C:\\Program Files\\Sonavire\\Offline\\OfflineAD.htm", Window().AdvertPane().CurrentAddress());
}

TEST_F(PluginWindowTest, EditLyricsOpensTheEditorWithTheShownDocumentsQuery) {
    LoadPlugin();
    CSVPluginWindow& window = Window();
    const std::wstring addressBefore = window.BrowsePane().CurrentAddress();
    SendMessageW(window.Hwnd(), WM_COMMAND, 107, 0);
    EXPECT_EQ(addressBefore, window.BrowsePane().CurrentAddress()) << "no document, no page";

    auto document = MakeDocument(sv::LyricsStatus::NotFound, 0);
    document->SetArtist(u"Los Faros");
    document->SetTitle(u"Canci\u00f3n del Alba");
    window.SetDocument(std::move(document));
    SendMessageW(window.Hwnd(), WM_COMMAND, 107, 0);
    const sv::PluginSettings& settings = sv::Settings();
    const std::wstring expected = L"http://" + StandinHost() +
                                  L"/wiki/wmp/editLyrics.php?lang=&artist=Los%20Faros&title=Canci%C3%B3n%20del%20Alba"
                                  L"&album=&videoId=&vidSrc=&user=" +
                                  std::wstring(settings.userName) + L"&device=1000&resolution=" +
                                  std::to_wstring(settings.screenWidth) + L"x" + std::to_wstring(settings.screenHeight);
    EXPECT_EQ(expected, window.BrowsePane().CurrentAddress());
}

// ---------------------------------------------------------------------------------------------
// Timing nudges and clicks on lines.

TEST_F(PluginWindowTest, NudgedTimingIsKeptPerSongNeverUploadedAndClearedByResyncAndAClickSeeks) {
    LoadPlugin();
    auto document = MakeDocument(sv::LyricsStatus::Timed, 5);
    for (int i = 0; i < 5; ++i) document->LineAt(i)->time = 5000.0 * i;
    LyricsDocument* shown = document.get();
    Window().SetDocument(std::move(document));
    const std::u16string folder = sv::AsU16(cacheFolder_.c_str());
    const std::wstring offsetFile =
        sv::AsWide(sv::TimingOffsetPathFor(*shown->CachePathIn(folder)).value_or(u"").c_str());
    auto stored = [&] {
        LyricsDocument sameSong(*shown);
        return sv::ReadTimingOffset(sameSong, folder);
    };

    Window().ExecuteCommand(CMD_LYRICS_EARLIER);
    SendMessageW(Window().LyricsPane().Hwnd(), WM_KEYDOWN, VK_SUBTRACT, 0);  // the pane's key for it
    EXPECT_EQ(-1000, shown->timingOffsetMs);
    EXPECT_EQ(L"Lyrics 0.5 s earlier", StatusLineText());
    EXPECT_TRUE(PumpUntil([&] { return stored() == -1000; }, 5000)) << "kept beside the cache file";
    // The notice passes and the status before it comes back.
    EXPECT_TRUE(PumpUntil([&] { return Status().statusTextId == IDS_STATUS_NONE; }, 5000));

    // A click on line 3 plays from its nudged time and lights it at once.
    UpdateWindow(Window().LyricsPane().Hwnd());
    const int height = Window().LyricsPane().LineHeight();
    ASSERT_GT(height, 0);
    engine_->Log().Clear();
    const int y = height + 3 * (height + 1) + 2;  // below the blank row above line 0
    SendMessageW(Window().LyricsPane().Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, y));
    ASSERT_FALSE(Calls().empty());
    EXPECT_EQ("controls.put_currentPosition(14.0015)", Calls().front());
    EXPECT_EQ(3, Window().LyricsPane().CurrentLine());

    // An upload sends the lines' own times, never the nudge.
    shown->status = sv::LyricsStatus::Retimed;
    const auto save = sv::PrepareLyricsSave(shown, sv::ServiceQuerySettings());
    ASSERT_TRUE(save);
    EXPECT_NE(std::string::npos, save->body.find("[00:15.00] line 3"));

    // Re-timing the song drops the nudge, on screen and on disk; the clicks stamp again.
    Window().StartResync(false);
    EXPECT_EQ(0, shown->timingOffsetMs);
    engine_->Log().Clear();
    SendMessageW(Window().LyricsPane().Hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, y));
    EXPECT_EQ(1, Window().LyricsPane().CurrentLine());
    for (const std::string& call : Calls()) EXPECT_EQ(std::string::npos, call.find("put_currentPosition"));
    EXPECT_TRUE(PumpUntil([&] { return GetFileAttributesW(offsetFile.c_str()) == INVALID_FILE_ATTRIBUTES; }, 5000));
}

}  // namespace
