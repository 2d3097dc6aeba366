// The main plug-in window: the window inside the player that owns the six panes, lays them out
// under a movable splitter, turns media and playback events into lyrics lookups and pane calls,
// adopts the documents the lookups send back and keeps the status text.
//
// Everything here runs on the player's user-interface thread. Lookups run on workers that get a
// copy of the request document and answer with WM_SV_LYRICS_READY; only the reply to the newest
// lookup is adopted.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/post_target.h"
#include "lyrics/lyrics_document.h"
#include "main_window/player_access.h"
#include "panes/action_bar.h"
#include "panes/command_info.h"
#include "panes/logo.h"
#include "panes/lyrics_pane.h"
#include "panes/lyrics_pane_host.h"
#include "panes/pane_look.h"
#include "panes/status_line.h"
#include "service/language_list.h"
#include "service/languages.h"
#include "service/lyrics_requests.h"
#include "web/browse_pane.h"
#include "window/window_base.h"

namespace sv {

struct PluginWindowTestAccess;

// Posted by the main window to itself: the next step of making its panes and loading their first
// pages (wParam), one step per message so that the player's loop runs between them.
inline constexpr UINT WM_SV_CREATE_STEP = 2996;
// Posted by the worker that wrote an LRC file: wParam the save's ticket, lParam its HRESULT.
inline constexpr UINT WM_SV_LRC_SAVED = 3001;

// What the main window takes from its surroundings rather than from the system, so that tests can
// put their own in.
struct MainWindowOptions {
    // Whether there is an Internet connection (the first pages are the offline ones without);
    // empty asks the system.
    std::function<bool()> isConnected;
    // Where lookups keep their cache files: the user's own unless a test gives another.
    std::u16string cacheFolder = UserCacheFolder();
    // The module's script bridge, which the panes' pages reach as window.external (not owned; it
    // outlives the window); null: pages get none.
    CWebIDispatch* scriptBridge = nullptr;
};

class CSVPluginWindow final : public WindowBase, public LyricsPaneHost, public CommandDescriber {
public:
    static constexpr wchar_t kClassName[] = L"SVPluginWindow";

    // Pane styles: WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, and a scroll bar for the lyrics.
    static constexpr DWORD kPaneStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
    static constexpr DWORD kLyricsPaneStyle = kPaneStyle | WS_VSCROLL;
    static_assert(kPaneStyle == 0x52000000 && kLyricsPaneStyle == 0x52200000, "pane styles");

    // Sizes at 96 dpi; the layout scales them with the window's DPI (Look()). The stored splitter
    // position is a 96-dpi height too, so that it means the same on every screen.
    static constexpr int kAdvertPaneWidth = 190;
    static constexpr int kSplitterGap = 3;                     // the bar between the web page and the lyrics
    static constexpr int kLowestLowerPart = 223;               // a drag leaves at least this much below
    static constexpr COLORREF kBackgroundColour = 0x0084685D;  // red 93, green 104, blue 132
    static constexpr COLORREF kSplitLineColour = 0x008D8D8E;
    static constexpr int kSplitLineWidth = 3;

    // Where the offline pages live when there is no connection.
    static constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\Sonavire";
    static constexpr wchar_t kOfflineFolder[] = L"\\Offline";
    static constexpr wchar_t kOfflineBrowsePage[] = L"OfflineSV.htm";
    static constexpr wchar_t kOfflineAdvertPage[] = L"OfflineAD.htm";

    // player: the player's item, position and controls; menu: the plug-in's menu (resource 100),
    // shown on a right click; neither owned, both outlive this.
    explicit CSVPluginWindow(PlayerAccess* player, HMENU menu = nullptr, MainWindowOptions options = {});
    ~CSVPluginWindow() override;

    // The player has let go of the plug-in: the window goes, ending the plug-in's own dialog and
    // menu, and neither the player nor its menu is used again. Code of this object still running
    // below a nested loop (a dialog, a menu, a page's script) then finds nothing to act on; the
    // object itself goes through DeleteWhenNoHandlerRuns.
    void Retire();

    static bool RegisterMainWindowClass(HINSTANCE instance);
    // Creates the window (and in WM_CREATE the status line and the lyrics pane; the other panes
    // and the first pages follow in posted messages) as a child of parent. Resources (status
    // texts, page addresses) come from instance. Made at rect in parent (none: empty), its first
    // panes are made in their places.
    HWND CreateMainWindow(HINSTANCE instance, HWND parent, const wchar_t* name, DWORD style,
                          const RECT* rect = nullptr);

    // Player and video-page events, by where they come from (Player or VideoPage). For the video
    // page, page is the track it reported (the script bridge's page document); none counts as a
    // track without artist and title.
    void OnMediaOpen(MediaSource source, const LyricsDocument* page = nullptr);
    void OnPlaybackStarted(MediaSource source);
    void OnPlaybackStopped(MediaSource source);
    void OnPlaybackPaused(MediaSource source);
    void OnMediaEnded(MediaSource source);
    // The position jumped (a seek): the lyrics follow at once.
    void OnPositionChange();
    // The video page shows or hides the lyrics.
    void SetShowLyrics(bool on);

    // Replaces the shown document (null: none), shows it and picks the status from its code.
    void SetDocument(std::unique_ptr<LyricsDocument> document);
    // Shows a status text (a string id) in the status colour.
    void SetStatus(uint16_t textId);
    // A status text with "%1" replaced by argument (a file name).
    void SetStatus(uint16_t textId, std::wstring argument);
    // Shows the text and starts a lookup of the request document. The reply to an earlier lookup
    // is dropped from now on.
    void StartLyricsFetch(uint16_t textId, OwnLyricsSources ownLyrics = {});
    // Uploads the shown document's re-timed lyrics when they pass the re-sync test, showing the text.
    void StartLyricsSave(uint16_t textId);
    void StartResync(bool restart);
    void StopResync();
    void SetManualScroll(bool on);
    // Moves the shown lyrics' timing by change milliseconds (negative: earlier), or back to the
    // document's own with reset; kept for this song and said on the status line for a moment.
    void NudgeTiming(int32_t change, bool reset);
    // Lays the panes out for a client area of width x height; a pane already in its place is not moved.
    void Layout(int width, int height);
    // The window is now shown at dpi: fonts and pictures are made again and the panes laid out.
    void ApplyDpi(int dpi);
    // The fonts and sizes the panes draw with, at the window's DPI.
    const PaneLook& Look() const { return look_; }
    // Whether every pane has its window and its place: a few posted messages after creation, which
    // makes only the status line and the lyrics pane at once.
    bool PanesReady() const { return panesReady_; }

    // The address of a community page from the string table, with the shown document's query for
    // the pages that take one; empty when there is no such page.
    std::wstring BuildCommunityUrl(int stringId) const;

    // Commands 101-121, from the action bar, the menu or any WM_COMMAND. Ids outside are ignored.
    void ExecuteCommand(int commandId);
    // CommandDescriber: label and state of a command; false for 108 and ids outside 101-121.
    // The timing commands (119-121) keep the menu's own labels and answer an empty one.
    bool DescribeCommand(CommandInfo& info) override;
    // Navigates the browse pane to a community page of the string table.
    void OpenCommunityPage(int stringId);
    // Sign-in dialog when nobody is signed in, else the sign-out question; then item 101 follows.
    void SignInOrOut();
    // The Translate command: the language menu at the Translate button, and a refetch in the choice.
    void ShowTranslateMenu();
    // Refreshes every item of a menu about to open (WM_INITMENUPOPUP): labels and grayed states.
    void RefreshMenu(HMENU menu);

    // LyricsPaneHost. The position of the shown document's source in milliseconds: the player's
    // or the video page's; 0 with no shown document.
    uint32_t GetPositionMs() override;
    const StatusTriple* Status() const override;
    // Command 107: the community site's lyrics editor for the shown document.
    void OpenEditLyricsPage() override;
    // A click on a timed line: the player's position, or the video page's clock.
    void SeekTo(uint32_t positionMs) override;

    const LyricsDocument* ShownDocument() const { return shownDocument_.get(); }
    LyricsDocument* ShownDocument() { return shownDocument_.get(); }
    const LyricsDocument& RequestDocument() const { return requestDocument_; }
    LyricsDocument& RequestDocument() { return requestDocument_; }
    HINSTANCE Instance() const { return instance_; }

    CSVPluginLyrics& LyricsPane() { return lyricsPane_; }
    CSVPluginStatus& StatusLine() { return statusLine_; }
    CSVPluginAction& ActionBar() { return actionBar_; }
    CSVPluginBrowse& BrowsePane() { return browsePane_; }
    CSVPluginAdvert& AdvertPane() { return advertPane_; }
    CSVPluginSVLogo& Logo() { return logo_; }
    LanguageList& Languages() { return languages_; }

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    friend struct PluginWindowTestAccess;

    void OnCreate();
    // The top-level window (the player's) tells of DPI changes: children of a per-monitor aware
    // window get no message of their own. Its messages come through this procedure.
    void WatchRootWindow();
    void StopWatchingRootWindow();
    static LRESULT CALLBACK RootWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR);
    void OnCreateStep(WPARAM step);
    // Where each pane goes in a client area of width x height.
    struct PanePlaces {
        RECT lyrics, status, action, advert, logo, browse;
    };
    PanePlaces PlacesFor(int width, int height) const;
    // Where each pane goes in the window's client area as it is now.
    PanePlaces PlacesNow() const;
    void PlaceInCreationOrder(HWND pane, HWND madeBefore);
    void NavigateToFirstPages();
    void OnLyricsReady(WPARAM sequence);
    void OnLanguagesReady();
    void ShowContextMenu(LPARAM screenPoint);
    void EraseBackground(HDC dc);
    void ChooseStatusFor(const LyricsDocument* document);
    void OpenPlayerItem();
    void OpenPageItem(const LyricsDocument* page);
    // Shows a passing status text; kNoticeMs later the status before it comes back, unless
    // something else changed the status meanwhile.
    void ShowNotice(uint16_t textId);
    void EndNotice();

    // Save as LRC: the shown timed lyrics written beside the song on a worker, or where the user
    // chooses when that folder cannot be written (or the song is not a local file).
    void SaveAsLrc();
    void QueueLrcSave(std::u16string path);
    void OnLrcSaved(WPARAM ticket, HRESULT result);
    std::optional<std::u16string> AskLrcSavePath();

    // Splitter.
    void BeginSplitDrag(int y);
    void ContinueSplitDrag(int y);
    bool EndSplitDrag(int y);
    void CancelSplitDrag();
    int ClampSplitY(int y) const;
    void DrawSplitLine(int y);

    // Field order matters for destruction: the panes (which point at the shown document) go first.
    std::unique_ptr<LyricsDocument> shownDocument_;
    LyricsDocument requestDocument_;
    PlayerAccess* player_;
    HMENU menu_;
    MainWindowOptions options_;
    PaneLook look_;              // before the panes, which draw with it
    HWND rootWindow_ = nullptr;  // the top-level window watched for DPI changes
    CSVPluginLyrics lyricsPane_;
    CSVPluginStatus statusLine_;
    CSVPluginAction actionBar_;
    CSVPluginBrowse browsePane_;
    CSVPluginAdvert advertPane_;
    CSVPluginSVLogo logo_;
    LanguageList languages_;
    // The language list on its way from the service; null once it has been taken.
    std::shared_ptr<LanguageFetch> languageFetch_;
    bool panesReady_ = false;
    bool dragging_ = false;
    int16_t lastSplitY_ = -1;
    StatusTriple status_;
    static constexpr UINT_PTR kNoticeTimerId = 1;
    static constexpr UINT kNoticeMs = 2000;
    uint16_t statusBeforeNotice_ = IDS_STATUS_NONE;
    std::wstring statusArgumentBeforeNotice_;
    bool noticeShown_ = false;

    HINSTANCE instance_ = nullptr;
    LyricsFetcher fetcher_;
    // Sequence number of the lookup whose reply is wanted; 0 when none is.
    WPARAM wantedFetch_ = 0;
    // The plug-in's own modal UI while it runs, ended when the window goes.
    DialogBase* openDialog_ = nullptr;
    bool menuOpen_ = false;

    // "<name>.lrc" beside the current player item; empty when it is not a local file.
    std::u16string lrcPathBeside_;
    std::shared_ptr<PostTarget> lrcSaveTarget_;  // made on the first save, closed when the window goes
    WPARAM lrcSaveTicket_ = 0;                   // the save whose answer is wanted
    std::string lrcSaveText_;                    // what that save writes
    std::u16string lrcSavePath_;
    bool lrcSaveChosenByUser_ = false;
    HWND saveDialog_ = nullptr;  // the file dialog while it is open
};

}  // namespace sv
