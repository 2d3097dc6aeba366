#include "main_window/plugin_window.h"

#include <windowsx.h>
#include <commdlg.h>
#include <wininet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "base/hresult.h"
#include "base/module_lock.h"
#include "base/ui_thread.h"
#include "base/utf.h"
#include "base/win_handles.h"
#include "base/worker_pool.h"
#include "lyrics/own_lyrics.h"
#include "lyrics/own_lyrics_file.h"
#include "resources/resource_ids.h"
#include "panes/settings_dialog.h"
#include "service/languages.h"
#include "service/server_hosts.h"
#include "settings/settings.h"
#include "window/dpi.h"
#include "window/window_subclass.h"

namespace sv {
namespace {

constexpr wchar_t kEditLyricsPath[] = L"/wiki/wmp/editLyrics.php?";

bool SystemReportsConnection() {
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) != FALSE;
}

std::wstring OfflinePagePath(const wchar_t* fileName) {
    wchar_t path[MAX_PATH] = {};
    std::swprintf(path, MAX_PATH, L"%ls%ls\\%ls", CSVPluginWindow::kInstallFolder, CSVPluginWindow::kOfflineFolder,
                  fileName);
    return path;
}

std::wstring_view Wide(const std::u16string& text) { return std::wstring_view(AsWide(text.c_str()), text.size()); }

// Calls of RootWindowProc on the stack (the player's thread), and the module locks of procedures
// taken out meanwhile. A lock is given back only once no call is left: the player may let go of
// the plug-in inside a message of its top-level window, and a module unloaded then would return
// into its own procedure, or into the subclass code of a comctl32 loaded only for it.
int g_rootProcedureCalls = 0;
int g_rootLocksOwed = 0;

void ReleaseRootLockWhenUnwound() {
    if (g_rootProcedureCalls > 0) {
        ++g_rootLocksOwed;
    } else {
        ModuleRelease();
    }
}

// Seconds of a player or a page as unsigned milliseconds, truncated. A page may answer anything:
// no number, a time before the start or one past the 64-bit range is the start.
uint32_t MillisecondsOf(double seconds) {
    const double milliseconds = seconds * 1000.0;
    if (!std::isfinite(milliseconds) || milliseconds <= 0.0 || milliseconds >= 9.2e18) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(milliseconds));
}

}  // namespace

CSVPluginWindow::CSVPluginWindow(PlayerAccess* player, HMENU menu, MainWindowOptions options)
    : player_(player),
      menu_(menu),
      options_(std::move(options)),
      lyricsPane_(this),
      statusLine_(this),
      actionBar_(this),
      fetcher_(options_.cacheFolder) {
    browsePane_.SetScriptBridge(options_.scriptBridge);
    advertPane_.SetScriptBridge(options_.scriptBridge);
    lyricsPane_.SetLook(&look_);
    statusLine_.SetLook(&look_);
    actionBar_.SetLook(&look_);
    logo_.SetLook(&look_);
}

CSVPluginWindow::~CSVPluginWindow() {
    // The window (and with it the panes' windows) first, while every member is still whole.
    Destroy();
}

void CSVPluginWindow::Retire() {
    player_ = nullptr;
    menu_ = nullptr;
    Destroy();
}

bool CSVPluginWindow::RegisterMainWindowClass(HINSTANCE instance) {
    return WindowBase::RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

HWND CSVPluginWindow::CreateMainWindow(HINSTANCE instance, HWND parent, const wchar_t* name, DWORD style,
                                       const RECT* rect) {
    if (Hwnd() || !RegisterMainWindowClass(instance)) return nullptr;
    NoteUiThread();
    instance_ = instance;
    return WindowBase::Create(instance, kClassName, parent, name, style, 0, rect);
}

bool CSVPluginWindow::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                           MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_CREATE:
            OnCreate();
            result = 0;
            return true;
        case WM_DESTROY:
            StopWatchingRootWindow();
            // Lookups still running delete their replies from now on; replies already queued go too.
            fetcher_.Close();
            if (languageFetch_) languageFetch_->Close();
            if (lrcSaveTarget_) lrcSaveTarget_->Close();
            // The file dialog too: it would outlive the plug-in, with the player's window disabled.
            if (saveDialog_) PostMessageW(saveDialog_, WM_COMMAND, IDCANCEL, 0);
            // A dialog or menu of the plug-in would outlive it, with the player's window disabled.
            if (openDialog_) openDialog_->EndDialog(IDCANCEL);
            if (menuOpen_) EndMenu();
            return false;
        case WM_SIZE:
            // A window without an area shows no pane (the first WM_SIZE, inside CreateWindowEx, is
            // 0 x 0): the panes are moved once it has one.
            if (LOWORD(lParam) != 0 || HIWORD(lParam) != 0) Layout(LOWORD(lParam), HIWORD(lParam));
            result = 0;
            return true;
        case WM_DPICHANGED:
            // Passed on by RootWindowProc: the new DPI in the low word.
            ApplyDpi(LOWORD(wParam));
            result = 0;
            return true;
        case kDpiChangedAfterParent:
            // A per-monitor (v2) player: this window's DPI has changed with its parent's.
            ApplyDpi(WindowDpi(hwnd));
            result = 0;
            return true;
        case WM_ERASEBKGND:
            EraseBackground(reinterpret_cast<HDC>(wParam));
            result = 1;
            return true;
        case WM_COMMAND:
            ExecuteCommand(LOWORD(wParam));
            result = 0;
            return true;
        case WM_TIMER:
            if (wParam != kNoticeTimerId) return false;
            EndNotice();
            result = 0;
            return true;
        case WM_INITMENUPOPUP:
            RefreshMenu(reinterpret_cast<HMENU>(wParam));
            result = 0;
            return true;
        case WM_CONTEXTMENU:
            // A right click here or in a pane, or Shift+F10 / the menu key while the plug-in has the focus.
            ShowContextMenu(lParam);
            result = 0;
            return true;
        case WM_SV_LYRICS_READY:
            OnLyricsReady(wParam);
            result = 0;
            return true;
        case WM_SV_LRC_SAVED:
            OnLrcSaved(wParam, static_cast<HRESULT>(lParam));
            result = 0;
            return true;
        case WM_SV_LANGUAGES_READY:
            OnLanguagesReady();
            result = 0;
            return true;
        case WM_SV_CREATE_STEP:
            OnCreateStep(wParam);
            result = 0;
            return true;
        case WM_SETCURSOR:
            // Only the splitter bar is this window's own surface; the panes choose their cursors.
            if (reinterpret_cast<HWND>(wParam) != hwnd) return false;
            SetCursor(LoadCursorW(nullptr, IDC_SIZENS));
            result = TRUE;
            return true;
        case WM_LBUTTONDOWN:
            BeginSplitDrag(GET_Y_LPARAM(lParam));
            result = 0;
            return true;
        case WM_MOUSEMOVE:
            if ((wParam & MK_LBUTTON) && dragging_) ContinueSplitDrag(GET_Y_LPARAM(lParam));
            result = 0;
            return true;
        case WM_LBUTTONUP:
            if (!dragging_) return false;
            EndSplitDrag(GET_Y_LPARAM(lParam));
            return false;  // default processing as well
        case WM_CAPTURECHANGED:
            // Capture taken away mid-drag (another window, a menu): the line goes, nothing moves.
            if (dragging_ && reinterpret_cast<HWND>(lParam) != hwnd) CancelSplitDrag();
            return false;
        default:
            return false;
    }
}

// What follows WM_CREATE, in order, one posted message each: the panes nothing reaches at once,
// one by one in their places (each one's first erase and frame come with it), the layout that
// catches up with a size changed meanwhile, then the browser controls, each made and navigated
// on its own.
enum CreateStep : WPARAM {
    kMakeActionBar,
    kMakeBrowsePane,
    kMakeAdvertPane,
    kMakeLogo,
    kLayOutPanes,
    kMakeBrowseControl,
    kLoadBrowsePage,
    kMakeAdvertControl,
    kLoadAdvertPage,
};

void CSVPluginWindow::OnCreate() {
    const HWND hwnd = Hwnd();
    look_.SetDpi(WindowDpi(hwnd));
    WatchRootWindow();
    // At once only the panes that the player's first events reach; the rest come a message later
    // (OnCreateStep). All six, their first layout and the two browser controls in this message
    // held the player's thread for 40-190 ms.
    // Made in their places: moving them there afterwards is a round of messages and repaints more.
    const PanePlaces places = PlacesNow();
    statusLine_.Create(instance_, hwnd, kPaneStyle, &places.status);
    lyricsPane_.Create(instance_, hwnd, kLyricsPaneStyle, &places.lyrics);
    statusLine_.StatusChanged();

    // The list comes on a worker; lookups started before it is here wait for it there.
    languageFetch_ = LanguageFetch::Start(hwnd, WM_SV_LANGUAGES_READY);
    lyricsPane_.SetManualScroll(false);

    PostMessageW(hwnd, WM_SV_CREATE_STEP, kMakeActionBar, 0);
}

void CSVPluginWindow::OnCreateStep(WPARAM step) {
    const HWND hwnd = Hwnd();
    const PanePlaces places = PlacesNow();
    switch (step) {
        case kMakeActionBar:
            // Its list draws every button's state as it is now (the Translate item among them).
            actionBar_.Create(instance_, hwnd, kPaneStyle, &places.action);
            PlaceInCreationOrder(actionBar_.Hwnd(), statusLine_.Hwnd());
            break;
        case kMakeBrowsePane:
            browsePane_.Create(instance_, hwnd, kPaneStyle, false, &places.browse);
            PlaceInCreationOrder(browsePane_.Hwnd(), actionBar_.Hwnd());
            break;
        case kMakeAdvertPane:
            advertPane_.Create(instance_, hwnd, kPaneStyle, false, &places.advert);
            PlaceInCreationOrder(advertPane_.Hwnd(), browsePane_.Hwnd());
            NavigateToFirstPages();
            break;
        case kMakeLogo:
            logo_.Create(instance_, hwnd, kPaneStyle, &places.logo);
            PlaceInCreationOrder(logo_.Hwnd(), advertPane_.Hwnd());
            break;
        case kLayOutPanes: {
            RECT client{};
            GetClientRect(hwnd, &client);
            Layout(client.right, client.bottom);
            panesReady_ = true;
            break;
        }
        case kMakeBrowseControl:
            browsePane_.CreateControl();
            break;
        case kLoadBrowsePage:
            browsePane_.NavigateKeptAddress();
            break;
        case kMakeAdvertControl:
            advertPane_.CreateControl();
            break;
        case kLoadAdvertPage:
            advertPane_.NavigateKeptAddress();
            return;
        default:
            return;
    }
    PostMessageW(hwnd, WM_SV_CREATE_STEP, step + 1, 0);
}

void CSVPluginWindow::NavigateToFirstPages() {
    std::wstring browseUrl = BrowsePaneFirstPageUrl();
    std::wstring advertUrl = AdvertPaneFirstPageUrl();
    const bool connected = options_.isConnected ? options_.isConnected() : SystemReportsConnection();
    if (!connected) {
        browseUrl = OfflinePagePath(kOfflineBrowsePage);
        advertUrl = OfflinePagePath(kOfflineAdvertPage);
    }
    // The panes keep the addresses (and show them as their text); they load once the controls are there.
    browsePane_.NavigateTo(browseUrl);
    advertPane_.NavigateTo(advertUrl);
}

// A pane made after WM_CREATE goes where making the six in order would have put it among its
// siblings. Whether a new sibling goes to the top or the bottom of the z-order differs between
// systems: the status line (made first) and the lyrics pane (made last) tell which.
void CSVPluginWindow::PlaceInCreationOrder(HWND pane, HWND madeBefore) {
    if (!pane || !madeBefore) return;
    bool firstOnTop = false;
    for (HWND child = GetWindow(Hwnd(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == statusLine_.Hwnd() || child == lyricsPane_.Hwnd()) {
            firstOnTop = child == statusLine_.Hwnd();
            break;
        }
    }
    HWND insertAfter = madeBefore;  // just below it
    if (!firstOnTop) {
        // Just above it.
        insertAfter = GetWindow(madeBefore, GW_HWNDPREV);
        if (insertAfter == pane) return;
        if (!insertAfter) insertAfter = HWND_TOP;
    }
    SetWindowPos(pane, insertAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
}

void CSVPluginWindow::EraseBackground(HDC dc) {
    RECT client;
    if (!dc || !GetClientRect(Hwnd(), &client)) return;
    UniqueGdiObject brush(CreateSolidBrush(kBackgroundColour));
    if (brush) FillRect(dc, &client, static_cast<HBRUSH>(brush.get()));
}

void CSVPluginWindow::WatchRootWindow() {
    const HWND root = GetAncestor(Hwnd(), GA_ROOT);
    if (!root || root == Hwnd()) return;
    // The procedure finds this window by its handle (the subclass id), never by a pointer that
    // could outlive it; the module stays loaded while the procedure is in the chain.
    if (!WindowSubclass::Install(root, &RootWindowProc, reinterpret_cast<UINT_PTR>(Hwnd()))) return;
    ModuleAddRef();
    rootWindow_ = root;
}

void CSVPluginWindow::StopWatchingRootWindow() {
    const HWND root = rootWindow_;
    rootWindow_ = nullptr;
    // Left in the chain when someone has put a procedure on top of it: it takes itself out at
    // its next message, finding this window gone.
    if (root && WindowSubclass::Remove(root, &RootWindowProc, reinterpret_cast<UINT_PTR>(Hwnd()))) {
        ReleaseRootLockWhenUnwound();
    }
}

LRESULT CALLBACK CSVPluginWindow::RootWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                                 DWORD_PTR) {
    ++g_rootProcedureCalls;
    const HWND watcher = reinterpret_cast<HWND>(id);
    const bool watcherGone = !IsWindow(watcher) || GetAncestor(watcher, GA_ROOT) != hwnd;
    if (message == WM_NCDESTROY || watcherGone) {
        const bool ownsLock = message == WM_NCDESTROY ? WindowSubclass::Forget(hwnd, &RootWindowProc, id)
                                                      : WindowSubclass::Remove(hwnd, &RootWindowProc, id);
        if (ownsLock) ReleaseRootLockWhenUnwound();
    } else if (message == WM_DPICHANGED) {
        // Before the player's own handling, which moves its window to the suggested rectangle:
        // the layout that move brings already has the new sizes.
        SendMessageW(watcher, WM_DPICHANGED, wParam, 0);
    }
    const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
    // The locks go last: once they are given back the module may be unloaded, and this call is
    // still on the stack until the rest of the chain has returned.
    if (--g_rootProcedureCalls == 0) {
        for (; g_rootLocksOwed > 0; --g_rootLocksOwed) ModuleRelease();
    }
    return result;
}

void CSVPluginWindow::ApplyDpi(int dpi) {
    if (!look_.SetDpi(dpi)) return;
    actionBar_.DpiChanged();
    RECT client{};
    if (GetClientRect(Hwnd(), &client)) Layout(client.right, client.bottom);
    RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

CSVPluginWindow::PanePlaces CSVPluginWindow::PlacesFor(int width, int height) const {
    const PluginSettings& settings = Settings();
    const PaneLook& look = look_;
    const int split = static_cast<int16_t>(height - look.Scale(settings.splitPos));
    const int buttonWidth = look.Scale(settings.buttonWidth);
    const int logoHeight = look.Scale(settings.logoHeight);
    const int statusHeight = look.Scale(settings.statusHeight);
    const int advertWidth = look.Scale(kAdvertPaneWidth);
    const int lowerTop = split + look.Scale(kSplitterGap);
    // Never inverted: a window too small for its panes gives them no area rather than a negative one.
    auto place = [](LONG left, LONG top, LONG right, LONG bottom) {
        return RECT{left, top, std::max(left, right), std::max(top, bottom)};
    };
    PanePlaces places;
    places.lyrics = place(buttonWidth, lowerTop, width - advertWidth, height - statusHeight);
    places.status = place(0, height - statusHeight, width, height);
    places.action = place(0, lowerTop, buttonWidth, height - logoHeight - statusHeight);
    places.advert = place(width - advertWidth, lowerTop, width, height - statusHeight);
    places.logo = place(0, height - logoHeight - statusHeight, buttonWidth, height - statusHeight);
    places.browse = place(0, 1, width, split);
    return places;
}

CSVPluginWindow::PanePlaces CSVPluginWindow::PlacesNow() const {
    RECT client{};
    GetClientRect(Hwnd(), &client);
    return PlacesFor(client.right, client.bottom);
}

void CSVPluginWindow::Layout(int width, int height) {
    const PanePlaces places = PlacesFor(width, height);
    struct Placement {
        HWND hwnd;
        RECT rect;
    };
    // The order in which the panes are moved.
    const Placement placements[] = {
        {lyricsPane_.Hwnd(), places.lyrics}, {statusLine_.Hwnd(), places.status}, {actionBar_.Hwnd(), places.action},
        {advertPane_.Hwnd(), places.advert}, {logo_.Hwnd(), places.logo},         {browsePane_.Hwnd(), places.browse},
    };
    constexpr UINT kMoveFlags = SWP_NOZORDER | SWP_NOACTIVATE;
    auto extent = [](LONG from, LONG to) { return std::max<LONG>(0, to - from); };
    const HWND hwnd = Hwnd();
    auto inPlace = [hwnd](const Placement& placement) {
        RECT now{};
        if (!GetWindowRect(placement.hwnd, &now)) return false;
        MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&now), 2);
        return EqualRect(&now, &placement.rect) != FALSE;
    };

    // One batch, so the whole area repaints once.
    HDWP batch = BeginDeferWindowPos(4);
    for (const Placement& placement : placements) {
        if (!batch) break;
        if (!placement.hwnd || inPlace(placement)) continue;
        const RECT& r = placement.rect;
        batch = DeferWindowPos(batch, placement.hwnd, nullptr, r.left, r.top, extent(r.left, r.right),
                               extent(r.top, r.bottom), kMoveFlags);
    }
    if (!batch || !EndDeferWindowPos(batch)) {
        // No batch to be had: the panes move one by one.
        for (const Placement& placement : placements) {
            if (!placement.hwnd || inPlace(placement)) continue;
            const RECT& r = placement.rect;
            SetWindowPos(placement.hwnd, nullptr, r.left, r.top, extent(r.left, r.right), extent(r.top, r.bottom),
                         kMoveFlags);
        }
    }

    // A shown scroll bar in the action list takes its width from the lyrics pane.
    const HWND list = actionBar_.ListWindow();
    if (list && (GetWindowLongPtrW(list, GWL_STYLE) & WS_VSCROLL)) {
        const int scrollBarWidth = GetSystemMetrics(SM_CXVSCROLL);
        const RECT& lyrics = placements[0].rect;
        const RECT& action = placements[2].rect;
        if (lyricsPane_.Hwnd()) {
            MoveWindow(lyricsPane_.Hwnd(), lyrics.left + scrollBarWidth, lyrics.top,
                       extent(lyrics.left + scrollBarWidth, lyrics.right), extent(lyrics.top, lyrics.bottom), TRUE);
        }
        if (actionBar_.Hwnd()) {
            MoveWindow(actionBar_.Hwnd(), action.left, action.top, extent(action.left, action.right) + scrollBarWidth,
                       extent(action.top, action.bottom), FALSE);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Splitter: the line is drawn with XOR while dragging; the panes move once, on release.

void CSVPluginWindow::BeginSplitDrag(int y) {
    if (dragging_) DrawSplitLine(lastSplitY_);
    SetCapture(Hwnd());
    dragging_ = true;
    DrawSplitLine(y);
    lastSplitY_ = static_cast<int16_t>(y);
}

void CSVPluginWindow::ContinueSplitDrag(int y) {
    y = ClampSplitY(y);
    DrawSplitLine(lastSplitY_);
    DrawSplitLine(y);
    lastSplitY_ = static_cast<int16_t>(y);
}

bool CSVPluginWindow::EndSplitDrag(int y) {
    // Cleared before the capture goes, so that WM_CAPTURECHANGED does not take it for a cancel.
    dragging_ = false;
    ReleaseCapture();
    y = ClampSplitY(y);
    DrawSplitLine(lastSplitY_);
    lastSplitY_ = -1;

    RECT window;
    if (!GetWindowRect(Hwnd(), &window)) return false;
    const int height = window.bottom - window.top;
    PluginSettings& settings = Settings();
    settings.splitPos = look_.Unscale(height - y);
    settings.SaveSettings();
    Layout(window.right - window.left, height);
    return true;
}

void CSVPluginWindow::CancelSplitDrag() {
    dragging_ = false;
    DrawSplitLine(lastSplitY_);
    lastSplitY_ = -1;
}

int CSVPluginWindow::ClampSplitY(int y) const {
    RECT window{};
    GetWindowRect(Hwnd(), &window);
    const int highest = (window.bottom - window.top) - look_.Scale(kLowestLowerPart);
    if (y < 0) y = 0;
    if (y > highest) y = highest;
    return y;
}

void CSVPluginWindow::DrawSplitLine(int y) {
    const HWND parent = GetParent(Hwnd());
    if (!parent) return;
    // The parent's whole-window DC without its own clipping of children, so the line shows over
    // the panes.
    ScopedDc dc(parent, DCX_WINDOW | DCX_CACHE | DCX_LOCKWINDOWUPDATE);
    if (!dc.get()) return;
    RECT client;
    RECT parentWindow;
    if (!GetClientRect(Hwnd(), &client) || !GetWindowRect(parent, &parentWindow)) return;
    POINT ends[2] = {{client.left, y + 1}, {client.right, y + 1}};
    MapWindowPoints(Hwnd(), nullptr, ends, 2);
    for (POINT& end : ends) {
        end.x -= parentWindow.left;
        end.y -= parentWindow.top;
    }
    UniqueGdiObject pen(CreatePen(PS_SOLID, look_.Scale(kSplitLineWidth), kSplitLineColour));
    if (!pen) return;
    const int previousMode = SetROP2(dc.get(), R2_XORPEN);
    {
        ScopedSelect select(dc.get(), pen.get());
        MoveToEx(dc.get(), ends[0].x, ends[0].y, nullptr);
        LineTo(dc.get(), ends[1].x, ends[1].y);
    }
    SetROP2(dc.get(), previousMode);
}

// ---------------------------------------------------------------------------------------------
// Events.

void CSVPluginWindow::OnMediaOpen(MediaSource source, const LyricsDocument* page) {
    SV_ASSERT_UI_THREAD();
    // The lyrics pane paints once, when the new track's status is there, not also empty before it.
    CSVPluginLyrics::PaintHold paintOnce(lyricsPane_);
    if (const LyricsDocument* shown = shownDocument_.get(); shown && shown->sourceKind != source) {
        // The other source was playing: it stops before this one's track is taken.
        if (shown->sourceKind == MediaSource::Player) {
            if (player_) player_->Stop();
        } else if (shown->sourceKind == MediaSource::VideoPage) {
            browsePane_.PageStop();
        }
    }
    if (shownDocument_) SetDocument(nullptr);
    requestDocument_.Reset();
    lrcPathBeside_.clear();
    // Whatever was being looked up is no longer wanted, even when nothing new is.
    wantedFetch_ = 0;

    if (source == MediaSource::Player) {
        OpenPlayerItem();
    } else if (source == MediaSource::VideoPage) {
        OpenPageItem(page);
    }
    // A lookup given up with no new one in its place (no item, tags that cannot be read) must not
    // leave its waiting text on screen for good.
    const uint16_t text = status_.statusTextId;
    if (wantedFetch_ == 0 && (text == IDS_STATUS_LOADING || text == IDS_STATUS_TRANSLATING)) {
        SetStatus(IDS_STATUS_NONE);
    }
}

void CSVPluginWindow::OpenPlayerItem() {
    MediaTags tags;
    if (!player_ || !player_->CurrentMediaTags(tags)) return;
    const std::u16string& artist = tags.artist;
    const std::u16string& title = tags.title;
    // A selection outside the list asks for no translation.
    const std::u16string language = languages_.SelectedLanguageCode().value_or(std::u16string());
    requestDocument_.SetTitle(title);
    requestDocument_.SetArtist(artist);
    requestDocument_.SetAlbum(tags.album);
    requestDocument_.SetLanguage(language);
    requestDocument_.SetVideoId(u"");
    requestDocument_.sourceKind = MediaSource::Player;
    requestDocument_.status = LyricsStatus::NotFound;

    browsePane_.PageMediaOpened(Settings().userName, Wide(artist), Wide(title));
    OwnLyricsSources ownLyrics;
    lrcPathBeside_ = LrcPathBeside(tags.sourceUrl).value_or(std::u16string());
    ownLyrics.lrcPath = lrcPathBeside_;
    ownLyrics.taggedLyrics = std::move(tags.lyrics);
    ownLyrics.taggedSyncLyrics = std::move(tags.syncLyrics);
    // Without artist or title the worker answers at once with status -2.
    StartLyricsFetch(!artist.empty() && !title.empty() ? IDS_STATUS_LOADING : IDS_STATUS_MISSING_ARTIST_OR_TITLE,
                     std::move(ownLyrics));
}

void CSVPluginWindow::OpenPageItem(const LyricsDocument* page) {
    if (!page || page->Title().empty() || page->Artist().empty()) {
        requestDocument_.status = LyricsStatus::MissingKeys;
        SetStatus(StatusTextId(LyricsStatus::MissingKeys));
        return;
    }
    requestDocument_.AssignHeader(*page);
    StartLyricsFetch(IDS_STATUS_LOADING);
}

void CSVPluginWindow::OnPlaybackStarted(MediaSource source) {
    SV_ASSERT_UI_THREAD();
    const LyricsDocument* shown = shownDocument_.get();
    if (shown && source == MediaSource::Player && shown->sourceKind != MediaSource::Player) {
        // The player takes over from the video page: its own item is looked up first.
        OnMediaOpen(MediaSource::Player);
    }
    if (source == MediaSource::Player) browsePane_.PageMediaStarted();
    lyricsPane_.OnPlay(GetPositionMs());
}

void CSVPluginWindow::OnPlaybackStopped(MediaSource source) {
    SV_ASSERT_UI_THREAD();
    if (source == MediaSource::Player) browsePane_.PageMediaStopped();
    lyricsPane_.OnStop();
}

void CSVPluginWindow::OnPlaybackPaused(MediaSource source) {
    SV_ASSERT_UI_THREAD();
    if (source == MediaSource::Player) browsePane_.PageMediaPaused();
    lyricsPane_.OnPause();
}

void CSVPluginWindow::OnMediaEnded(MediaSource source) {
    SV_ASSERT_UI_THREAD();
    if (source == MediaSource::Player) browsePane_.PageMediaEnded();
    lyricsPane_.OnStop();
    StartLyricsSave(IDS_STATUS_SAVING);
}

void CSVPluginWindow::OnPositionChange() {
    SV_ASSERT_UI_THREAD();
    lyricsPane_.CurrentLineFor(GetPositionMs(), true);
}

void CSVPluginWindow::SetShowLyrics(bool on) {
    SV_ASSERT_UI_THREAD();
    lyricsPane_.SetShowLyrics(on);
}

// ---------------------------------------------------------------------------------------------
// Documents and status.

void CSVPluginWindow::StartLyricsFetch(uint16_t textId, OwnLyricsSources ownLyrics) {
    SV_ASSERT_UI_THREAD();
    SetStatus(textId);
    if (!Hwnd()) return;
    wantedFetch_ = fetcher_.StartLyricsFetch(Hwnd(), requestDocument_, CaptureQuerySettings(Settings()), languageFetch_,
                                             std::move(ownLyrics));
    // A lookup that could not start sends nothing back: the waiting text must not stay for ever.
    if (wantedFetch_ == 0) SetStatus(StatusTextId(LyricsStatus::ConnectionError));
}

void CSVPluginWindow::OnLanguagesReady() {
    if (!languageFetch_) return;
    std::unique_ptr<LanguageList> list = languageFetch_->TakeList();
    languageFetch_.reset();
    // No list (no reply in time, or not XML): only "no translation", as at start.
    if (list) languages_ = std::move(*list);
    actionBar_.RefreshItem(CMD_TRANSLATE);
}

void CSVPluginWindow::OnLyricsReady(WPARAM sequence) {
    // Only a document one of this window's lookups left is taken; anything else is not ours.
    std::unique_ptr<LyricsDocument> document = fetcher_.TakeReply(sequence);
    if (!document) return;
    // An answer for a track that is no longer current is dropped.
    if (sequence == 0 || sequence != wantedFetch_) return;
    SetDocument(std::move(document));
}

void CSVPluginWindow::SetDocument(std::unique_ptr<LyricsDocument> document) {
    SV_ASSERT_UI_THREAD();
    // The buttons follow the new document even when showing it fails part-way.
    struct RefreshButtons {
        CSVPluginAction& bar;
        ~RefreshButtons() { bar.RefreshItem(CSVPluginAction::kWholeList); }
    } refreshButtons{actionBar_};
    // The old document lives until the pane has let go of it.
    std::unique_ptr<LyricsDocument> previous = std::move(shownDocument_);
    shownDocument_ = std::move(document);
    // One paint, once the document stands at its line and its status is chosen.
    CSVPluginLyrics::PaintHold paintOnce(lyricsPane_);
    lyricsPane_.SetDocument(shownDocument_.get());
    previous.reset();
    SetManualScroll(false);
    // The line the position calls for at once: a document arriving mid-song shows no line 0 first
    // and waits for no timer to find its line.
    const LyricsDocument* shown = shownDocument_.get();
    const bool followsPosition =
        shown && (shown->status == LyricsStatus::Timed || shown->status == LyricsStatus::Retimed);
    lyricsPane_.CurrentLineFor(followsPosition ? GetPositionMs() : 0, false);
    ChooseStatusFor(shownDocument_.get());
}

void CSVPluginWindow::ChooseStatusFor(const LyricsDocument* document) {
    if (!document) {
        SetStatus(IDS_STATUS_NONE);
        return;
    }
    if (document->status == LyricsStatus::Untimed) {
        // Untimed lines: re-timing starts at once, where the track is.
        if (document->LineCount() > 0) StartResync(false);
        return;
    }
    if (document->status == LyricsStatus::Timed && document->origin == LyricsOrigin::OwnFile) {
        const std::u16string_view name = FileNameOf(document->originFile);
        SetStatus(IDS_STATUS_FROM_FILE, std::wstring(AsWide(name.data()), name.size()));
        return;
    }
    if (document->status == LyricsStatus::Timed && document->origin == LyricsOrigin::SongTags) {
        SetStatus(IDS_STATUS_FROM_TAGS);
        return;
    }
    SetStatus(StatusTextId(document->status));
}

void CSVPluginWindow::SetStatus(uint16_t textId) { SetStatus(textId, std::wstring()); }

void CSVPluginWindow::SetStatus(uint16_t textId, std::wstring argument) {
    SV_ASSERT_UI_THREAD();
    const bool linesShown = shownDocument_ && shownDocument_->status <= LyricsStatus::Timed;
    // The same status again (the loading text of each track while tracks change quickly) repaints
    // nothing.
    if (status_.statusTextId == textId && status_.statusArgument == argument && status_.statusColour == STATUS_COLOUR &&
        status_.linesShown == linesShown) {
        return;
    }
    status_.statusTextId = textId;
    status_.statusArgument = std::move(argument);
    status_.statusColour = STATUS_COLOUR;
    status_.linesShown = linesShown;
    if (lyricsPane_.Hwnd()) InvalidateRect(lyricsPane_.Hwnd(), nullptr, FALSE);
    statusLine_.StatusChanged();
}

void CSVPluginWindow::StartLyricsSave(uint16_t textId) {
    SV_ASSERT_UI_THREAD();
    std::unique_ptr<LyricsSaveJob> job = PrepareLyricsSave(shownDocument_.get(), CaptureQuerySettings(Settings()));
    if (!job) return;
    SetStatus(textId);
    sv::StartLyricsSave(std::move(job));
}

void CSVPluginWindow::StartResync(bool restart) {
    LyricsDocument* document = shownDocument_.get();
    const ResyncStartPlan plan = PlanResyncStart(document, restart);
    if (!plan.start) return;
    if (plan.rewindPlayer && player_) player_->Rewind();
    if (plan.playPlayer && player_) player_->Play();
    if (plan.seekPageToStart) browsePane_.PageSeekTo(0);
    // A player or page that answered with events may have replaced the document meanwhile.
    if (shownDocument_.get() != document) return;
    SetManualScroll(false);
    // New times of the user's own replace any nudge of the old ones.
    if (document->timingOffsetMs != 0) {
        document->timingOffsetMs = 0;
        StoreTimingOffsetLater(*document, 0, fetcher_.CacheFolder());
    }
    lyricsPane_.SetResyncing(true);
    actionBar_.RefreshItem(CMD_RESYNC);
    SetStatus(IDS_STATUS_CLICK_TO_ADVANCE);
}

void CSVPluginWindow::StopResync() {
    if (!ResyncStopNeeded(shownDocument_.get())) return;
    lyricsPane_.SetResyncing(false);
    actionBar_.RefreshItem(CMD_RESYNC);
    SetStatus(IDS_STATUS_NONE);
}

void CSVPluginWindow::NudgeTiming(int32_t change, bool reset) {
    LyricsDocument* shown = shownDocument_.get();
    if (!shown || shown->resyncing ||
        (shown->status != LyricsStatus::Timed && shown->status != LyricsStatus::Retimed)) {
        return;
    }
    const int32_t offset = reset ? 0 : ClampTimingOffset(int64_t{shown->timingOffsetMs} + change);
    lyricsPane_.SetTimingOffset(offset);
    // The pane's position read may reach the player, whose events may replace the document.
    if (shownDocument_.get() != shown) return;
    StoreTimingOffsetLater(*shown, shown->timingOffsetMs, fetcher_.CacheFolder());
    ShowNotice(reset ? IDS_TIMING_RESET : change < 0 ? IDS_TIMING_EARLIER : IDS_TIMING_LATER);
}

void CSVPluginWindow::ShowNotice(uint16_t textId) {
    if (!Hwnd()) return;
    if (!noticeShown_) {
        statusBeforeNotice_ = status_.statusTextId;
        statusArgumentBeforeNotice_ = status_.statusArgument;  // "Lyrics from %1" needs its file back
    }
    SetStatus(textId);
    noticeShown_ = true;
    SetTimer(Hwnd(), kNoticeTimerId, kNoticeMs, nullptr);
}

void CSVPluginWindow::EndNotice() {
    KillTimer(Hwnd(), kNoticeTimerId);
    if (!noticeShown_) return;
    noticeShown_ = false;
    const uint16_t text = status_.statusTextId;
    if (text == IDS_TIMING_EARLIER || text == IDS_TIMING_LATER || text == IDS_TIMING_RESET) {
        SetStatus(statusBeforeNotice_, std::move(statusArgumentBeforeNotice_));
    }
    statusArgumentBeforeNotice_.clear();
}

void CSVPluginWindow::SeekTo(uint32_t positionMs) {
    const LyricsDocument* shown = shownDocument_.get();
    if (!shown) return;
    if (shown->sourceKind == MediaSource::Player) {
        // Half a millisecond more: the position read back, truncated to whole milliseconds, is
        // still the one asked for and not the millisecond before it.
        if (player_) player_->SeekSeconds((positionMs + 0.5) / 1000.0);
    } else if (shown->sourceKind == MediaSource::VideoPage) {
        // The page's clock takes whole seconds.
        browsePane_.PageSeekTo(static_cast<int32_t>(positionMs / 1000));
    }
}

void CSVPluginWindow::SetManualScroll(bool on) {
    lyricsPane_.SetManualScroll(on);
    actionBar_.RefreshItem(CMD_SCROLL_LYRICS);
}

// ---------------------------------------------------------------------------------------------
// Save as LRC.

namespace {

class LrcSaveJob final : public PoolJob {
public:
    LrcSaveJob(std::shared_ptr<PostTarget> target, WPARAM ticket, std::u16string path, std::string text)
        : target_(std::move(target)), ticket_(ticket), path_(std::move(path)), text_(std::move(text)) {}
    void Run() override {
        HRESULT result = E_FAIL;
        CallbackBoundary("LRC save", [&] { result = WriteLrcFile(path_, text_); });
        target_->Post(WM_SV_LRC_SAVED, ticket_, static_cast<LPARAM>(result));
    }

private:
    std::shared_ptr<PostTarget> target_;
    WPARAM ticket_;
    std::u16string path_;
    std::string text_;
};

// Learns the file dialog's window, so that the plug-in can close it when it goes.
UINT_PTR CALLBACK SaveDialogHook(HWND child, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* dialog = reinterpret_cast<const OPENFILENAMEW*>(lParam);
        *reinterpret_cast<HWND*>(dialog->lCustData) = GetParent(child);
    }
    return 0;
}

}  // namespace

void CSVPluginWindow::SaveAsLrc() {
    CommandInfo info;
    info.id = CMD_SAVE_AS_LRC;
    if (!Hwnd() || !DescribeCommand(info) || info.state == CMD_STATE_DISABLED) return;
    lrcSaveText_ = ToLrcText(*shownDocument_);
    if (!lrcPathBeside_.empty()) {
        lrcSaveChosenByUser_ = false;
        QueueLrcSave(lrcPathBeside_);
        return;
    }
    // Not a local song: nowhere beside it, so the user says where.
    lrcSaveChosenByUser_ = true;
    if (std::optional<std::u16string> chosen = AskLrcSavePath()) QueueLrcSave(std::move(*chosen));
}

void CSVPluginWindow::QueueLrcSave(std::u16string path) {
    if (!lrcSaveTarget_) lrcSaveTarget_ = std::make_shared<PostTarget>(Hwnd());
    lrcSavePath_ = path;
    ++lrcSaveTicket_;
    std::unique_ptr<PoolJob> job =
        std::make_unique<LrcSaveJob>(lrcSaveTarget_, lrcSaveTicket_, std::move(path), lrcSaveText_);
    if (!SubmitToPool(job)) SetStatus(IDS_LRC_SAVE_FAILED);
}

void CSVPluginWindow::OnLrcSaved(WPARAM ticket, HRESULT result) {
    if (ticket != lrcSaveTicket_) return;  // an earlier save, or not ours
    if (SUCCEEDED(result)) {
        const std::u16string_view name = FileNameOf(lrcSavePath_);
        SetStatus(IDS_LRC_SAVED, std::wstring(AsWide(name.data()), name.size()));
        return;
    }
    ReportFailure("LRC save", result);
    if (!lrcSaveChosenByUser_) {
        // The song's folder cannot be written (a read-only share, another user's music): the user
        // picks a place instead.
        lrcSaveChosenByUser_ = true;
        if (std::optional<std::u16string> chosen = AskLrcSavePath()) {
            QueueLrcSave(std::move(*chosen));
            return;
        }
        return;  // the user cancelled: nothing to report
    }
    SetStatus(IDS_LRC_SAVE_FAILED);
}

std::optional<std::u16string> CSVPluginWindow::AskLrcSavePath() {
    wchar_t file[MAX_PATH] = {};
    const std::u16string_view suggested = lrcPathBeside_.empty() ? std::u16string_view() : FileNameOf(lrcPathBeside_);
    if (suggested.size() < MAX_PATH) std::copy(suggested.begin(), suggested.end(), file);
    // The filter's pairs are separated by '|' in the string table, by NULs for the dialog.
    wchar_t filter[kSettingTextChars] = {};
    const int length = LoadStringW(instance_, IDS_LRC_FILE_FILTER, filter, static_cast<int>(std::size(filter)) - 1);
    for (int i = 0; i < length; ++i) {
        if (filter[i] == L'|') filter[i] = L'\0';
    }
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = Hwnd();
    dialog.lpstrFilter = length > 0 ? filter : nullptr;
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"lrc";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER | OFN_ENABLEHOOK;
    dialog.lpfnHook = SaveDialogHook;
    dialog.lCustData = reinterpret_cast<LPARAM>(&saveDialog_);
    // comdlg32 is loaded for the dialog only: linked to the module, each load of the plug-in left
    // a mutex of it behind. From the system folder, never from a folder a user can write.
    struct Library {
        HMODULE module = LoadLibraryExW(L"comdlg32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        ~Library() {
            if (module) FreeLibrary(module);
        }
    } comdlg;
    using SaveFileName = BOOL(WINAPI*)(OPENFILENAMEW*);
    const auto getSaveFileName = comdlg.module ? reinterpret_cast<SaveFileName>(reinterpret_cast<void (*)()>(
                                                     GetProcAddress(comdlg.module, "GetSaveFileNameW")))
                                               : nullptr;
    if (!getSaveFileName) {
        ReportFailure("save dialog", HRESULT_FROM_WIN32(GetLastError()));
        return std::nullopt;
    }
    const BOOL chosen = getSaveFileName(&dialog);
    saveDialog_ = nullptr;
    if (!chosen || !Hwnd()) return std::nullopt;  // cancelled, or the plug-in went meanwhile
    return std::u16string(AsU16(file));
}

// ---------------------------------------------------------------------------------------------
// Pages.

std::wstring CSVPluginWindow::BuildCommunityUrl(int stringId) const {
    return sv::BuildCommunityUrl(instance_, stringId, shownDocument_.get(), CaptureQuerySettings(Settings()));
}

void CSVPluginWindow::OpenEditLyricsPage() {
    if (!shownDocument_) return;
    const std::wstring page = CommunityUrl(kEditLyricsPath);
    const std::string base = Utf8FromUtf16(std::u16string_view(AsU16(page.c_str()), page.size()));
    const std::string url = BuildServiceUrl(shownDocument_.get(), base.c_str(), CaptureQuerySettings(Settings()));
    // The percent escapes stay as they are.
    const std::u16string wide = Utf16FromUtf8(url);
    browsePane_.NavigateTo(Wide(wide));
}

uint32_t CSVPluginWindow::GetPositionMs() {
    const LyricsDocument* shown = shownDocument_.get();
    if (!shown) return 0;
    double seconds = 0.0;
    if (shown->sourceKind == MediaSource::Player) {
        if (!player_ || !player_->PositionSeconds(seconds)) return 0;
    } else if (shown->sourceKind == MediaSource::VideoPage) {
        seconds = browsePane_.PageGetCurrentTime();
    }
    return MillisecondsOf(seconds);
}

const StatusTriple* CSVPluginWindow::Status() const { return Hwnd() ? &status_ : nullptr; }

// ---------------------------------------------------------------------------------------------
// Commands and menu.

namespace {

// Commands that only open a community page, with the page's string id.
struct PageCommand {
    int command;
    int page;
    int label;
};
constexpr PageCommand kPageCommands[] = {
    {CMD_LYRICS_SEARCH, IDS_PAGE_LYRICS_SEARCH, IDS_LABEL_LYRICS_SEARCH},
    {CMD_TOP_50, IDS_PAGE_TOP_50, IDS_LABEL_TOP_50},
    {CMD_TELL_A_FRIEND, IDS_PAGE_TELL_A_FRIEND, IDS_LABEL_TELL_A_FRIEND},
    {CMD_SEND_WISH, IDS_PAGE_SEND_WISH, IDS_LABEL_SEND_WISH},
    {CMD_OPTIONS, IDS_PAGE_OPTIONS, IDS_LABEL_OPTIONS},
    {CMD_HELP, IDS_PAGE_HELP, IDS_LABEL_HELP},
    {CMD_HOME, IDS_PAGE_HOME, IDS_LABEL_HOME},
    {CMD_ABOUT, IDS_PAGE_ABOUT, IDS_LABEL_ABOUT},
    {CMD_VIDEO_THEATER, IDS_PAGE_VIDEO_THEATER, IDS_LABEL_VIDEO_THEATER},
    {CMD_MUSIC_NEAR_YOU, IDS_PAGE_MUSIC_NEAR_YOU, IDS_LABEL_MUSIC_NEAR_YOU},
    {CMD_MUSIC_MAP, IDS_PAGE_MUSIC_MAP, IDS_LABEL_MUSIC_MAP},
    {CMD_CONTACT_US, IDS_PAGE_CONTACT_US, IDS_LABEL_CONTACT_US},
};

const PageCommand* FindPageCommand(int command) {
    for (const PageCommand& entry : kPageCommands) {
        if (entry.command == command) return &entry;
    }
    return nullptr;
}

// A menu shows "&" as a mnemonic prefix; names and labels mean the character itself.
std::wstring MenuText(const wchar_t* text) {
    std::wstring out;
    for (const wchar_t* c = text; *c; ++c) {
        out += *c;
        if (*c == L'&') out += L'&';
    }
    return out;
}

}  // namespace

bool CSVPluginWindow::DescribeCommand(CommandInfo& info) {
    info.state = CMD_STATE_NORMAL;
    info.label[0] = L'\0';
    const LyricsDocument* shown = shownDocument_.get();
    int label = 0;
    switch (info.id) {
        case CMD_SIGN_IN:
            label = Settings().IsSignedIn() ? IDS_LABEL_SIGN_OUT : IDS_LABEL_SIGN_IN;
            break;
        case CMD_SCROLL_LYRICS:
            label = shown && shown->manualScroll ? IDS_LABEL_CANCEL_SCROLL : IDS_LABEL_SCROLL_LYRICS;
            if (!shown)
                info.state = CMD_STATE_DISABLED;
            else if (shown->manualScroll)
                info.state = CMD_STATE_ACTIVE;
            break;
        case CMD_EDIT_LYRICS:
            label = IDS_LABEL_EDIT_LYRICS;
            if (!shown) info.state = CMD_STATE_DISABLED;
            break;
        case CMD_RESYNC:
            label = shown && shown->resyncing ? IDS_LABEL_CANCEL_SYNC : IDS_LABEL_RESYNC;
            if (!shown || (shown->status != LyricsStatus::Retimed && shown->status != LyricsStatus::Untimed &&
                           shown->status != LyricsStatus::Timed))
                info.state = CMD_STATE_DISABLED;
            break;
        case CMD_LYRICS_EARLIER:
        case CMD_LYRICS_LATER:
        case CMD_RESET_TIMING:
            if (!shown || shown->resyncing ||
                (shown->status != LyricsStatus::Timed && shown->status != LyricsStatus::Retimed) ||
                (info.id == CMD_RESET_TIMING && shown->timingOffsetMs == 0))
                info.state = CMD_STATE_DISABLED;
            info.state |= info.extra;
            return true;  // the menu's own label, with its key
        case CMD_SAVE_AS_LRC:
            label = IDS_LABEL_SAVE_AS_LRC;
            // Only timed lines make an LRC file; re-sync still changes them.
            if (!shown || shown->resyncing || shown->LineCount() == 0 ||
                (shown->status != LyricsStatus::Timed && shown->status != LyricsStatus::Retimed))
                info.state = CMD_STATE_DISABLED;
            break;
        case CMD_TRANSLATE: {
            label = IDS_LABEL_TRANSLATE;
            // A selection outside the list is no translation.
            const std::optional<std::u16string> code = languages_.SelectedLanguageCode();
            if (!shown)
                info.state = CMD_STATE_DISABLED;
            else if (code && !code->empty())
                info.state = CMD_STATE_ACTIVE;
            break;
        }
        default:
            if (const PageCommand* page = FindPageCommand(info.id)) {
                label = page->label;
                break;
            }
            return false;  // 108 and ids outside 101-121
    }
    LoadStringW(instance_, static_cast<UINT>(label), info.label, static_cast<int>(kSettingTextChars));
    info.state |= info.extra;
    return true;
}

void CSVPluginWindow::ExecuteCommand(int commandId) {
    SV_ASSERT_UI_THREAD();
    LyricsDocument* shown = shownDocument_.get();
    switch (commandId) {
        case CMD_SIGN_IN:
            SignInOrOut();
            break;
        case CMD_SCROLL_LYRICS:
            SetManualScroll(shown && !shown->manualScroll);
            break;
        case CMD_EDIT_LYRICS:
            OpenEditLyricsPage();
            break;
        case CMD_RESYNC:
            if (shown && !shown->resyncing) {
                StartResync(true);
            } else {
                StopResync();
            }
            break;
        case CMD_LYRICS_EARLIER:
            NudgeTiming(-kTimingNudgeMs, false);
            break;
        case CMD_LYRICS_LATER:
            NudgeTiming(kTimingNudgeMs, false);
            break;
        case CMD_RESET_TIMING:
            NudgeTiming(0, true);
            break;
        case CMD_SAVE_AS_LRC:
            SaveAsLrc();
            break;
        case CMD_TRANSLATE:
            if (shown) ShowTranslateMenu();  // disabled without a document: nothing to translate
            break;
        default:
            if (const PageCommand* page = FindPageCommand(commandId)) OpenCommunityPage(page->page);
            break;
    }
}

void CSVPluginWindow::OpenCommunityPage(int stringId) {
    const std::wstring url = BuildCommunityUrl(stringId);
    if (!url.empty()) browsePane_.NavigateTo(url);
}

void CSVPluginWindow::SignInOrOut() {
    PluginSettings& settings = Settings();
    if (!settings.IsSignedIn()) {
        CSVSettings dialog;
        openDialog_ = &dialog;
        dialog.ShowSignIn(instance_, Hwnd());
        openDialog_ = nullptr;
    } else if (ShowMessage(instance_, IDS_SIGN_OUT_QUESTION, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        // Forgotten at once, stored values too: a password must not stay on disk after sign-out.
        settings.SignOut();
    }
    actionBar_.RefreshItem(CMD_SIGN_IN);
}

void CSVPluginWindow::ShowTranslateMenu() {
    const int index = actionBar_.FindItem(CMD_TRANSLATE);
    const HWND list = actionBar_.ListWindow();
    RECT item;
    if (index < 0 || !list || languages_.entries().size() < 2 ||
        SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) == LB_ERR) {
        return;
    }
    UniqueMenu menu(CreatePopupMenu());
    if (!menu) return;
    for (const LanguageEntry& entry : languages_.entries()) {
        const std::wstring name = MenuText(AsWide(entry.name.c_str()));
        const UINT flags = MF_STRING | (entry.index == languages_.selected() ? MF_CHECKED : MF_UNCHECKED);
        AppendMenuW(menu.get(), flags, static_cast<UINT_PTR>(entry.index), name.c_str());
        if (entry.index == kNoTranslationIndex) AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    }
    POINT at = {item.right, item.top + (item.bottom - item.top) / 2};
    ClientToScreen(list, &at);
    menuOpen_ = true;
    const int chosen = static_cast<int>(
        TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0, list, nullptr));
    menuOpen_ = false;
    if (!Hwnd()) return;      // the plug-in went while the menu was open
    if (chosen == 0) return;  // dismissed
    if (!ChooseLanguage(languages_, chosen, requestDocument_)) return;
    actionBar_.RefreshItem(CMD_TRANSLATE);
    StartLyricsFetch(IDS_STATUS_TRANSLATING);
}

void CSVPluginWindow::RefreshMenu(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int position = 0; position < count; ++position) {
        const UINT id = GetMenuItemID(menu, position);
        if (id == 0 || id == static_cast<UINT>(-1)) continue;  // separators and pop-ups
        CommandInfo info;
        info.id = static_cast<uint16_t>(id);
        if (!DescribeCommand(info)) continue;
        const std::wstring label = MenuText(info.label);
        // An empty label keeps the menu's own (the timing commands name their keys there).
        if (!label.empty() && !ModifyMenuW(menu, id, MF_BYCOMMAND | MF_STRING, id, label.c_str())) {
            ModifyMenuW(menu, static_cast<UINT>(position), MF_BYPOSITION | MF_STRING, id, label.c_str());
        }
        EnableMenuItem(menu, id, MF_BYCOMMAND | (info.state == CMD_STATE_DISABLED ? MF_GRAYED : MF_ENABLED));
    }
}

void CSVPluginWindow::ShowContextMenu(LPARAM screenPoint) {
    const HMENU popup = menu_ ? GetSubMenu(menu_, 0) : nullptr;
    if (!popup) return;
    POINT at = {GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    if (screenPoint == -1) {
        // From the keyboard: at the top left of the lyrics, where the user is looking.
        RECT lyrics{};
        GetWindowRect(lyricsPane_.Hwnd() ? lyricsPane_.Hwnd() : Hwnd(), &lyrics);
        at = {lyrics.left + 8, lyrics.top + 8};
    }
    // Owned by this window: WM_INITMENUPOPUP refreshes it, the choice arrives as WM_COMMAND.
    menuOpen_ = true;
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, Hwnd(), nullptr);
    menuOpen_ = false;
}

}  // namespace sv
