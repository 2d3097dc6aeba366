#include "panes/lyrics_pane.h"

#include <windowsx.h>

#include <cwchar>

#include "base/utf.h"
#include "base/win_handles.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"

namespace sv {
namespace {

// The view of status 206: two lines, the second with the link in the middle.
constexpr wchar_t kNotFoundFirstLine[] = L"Lyrics for this song could not be found.";
constexpr wchar_t kNotFoundSecondLine[] = L"Please click on Edit Lyrics to add them now.";
constexpr wchar_t kNotFoundBeforeLink[] = L"Please click on ";
constexpr wchar_t kNotFoundLink[] = L"Edit Lyrics";
constexpr wchar_t kNotFoundAfterLink[] = L" to add them now.";

// Lyrics are text, not menu labels: an "&" must show as itself.
constexpr UINT kLineFormat = DT_SINGLELINE | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX;
constexpr UINT kRunFormat = DT_SINGLELINE | DT_NOCLIP | DT_NOPREFIX;

COLORREF Grey(int level) { return RGB(level, level, level); }

int TextHeight(HDC dc, const wchar_t* text, int length, UINT format) {
    RECT measure = {0, 0, 0, 0};
    return DrawTextW(dc, text, length, &measure, format | DT_CALCRECT);
}

int TextWidth(HDC dc, const wchar_t* text) {
    RECT measure = {0, 0, 0, 0};
    DrawTextW(dc, text, -1, &measure, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
    return measure.right - measure.left;
}

}  // namespace

CSVPluginLyrics::CSVPluginLyrics(LyricsPaneHost* host) : host_(host), follower_([this] { return PositionNow(); }) {}

CSVPluginLyrics::~CSVPluginLyrics() {
    // The window first: its last messages still reach this object's handlers.
    Destroy();
}

bool CSVPluginLyrics::RegisterPaneClass(HINSTANCE instance) {
    return RegisterWindowClass(instance, PaneClassInfo(kClassName));
}

bool CSVPluginLyrics::Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect) {
    if (Hwnd() || !RegisterPaneClass(instance)) return false;
    instance_ = instance;
    announced_.clear();
    return WindowBase::Create(instance, kClassName, parent, nullptr, style, 0, rect) != nullptr;
}

uint32_t CSVPluginLyrics::PositionNow() const { return host_ ? host_->GetPositionMs() : 0; }

bool CSVPluginLyrics::InManualScroll() const {
    const LyricsDocument* document = follower_.document();
    return document && document->manualScroll;
}

void CSVPluginLyrics::Carry(const PaneActions& actions) {
    // Anything else the rules decide shows at once, not as a frame of an older scroll.
    if (animating_ && !actions.animateScroll) {
        StopScrollAnimation();
        if (!actions.repaint) RepaintNow();
    }
    if (actions.stopLineTimer) StopLineTimer();
    if (actions.animateScroll) AnimateScroll();
    if (actions.armLineTimer) ArmLineTimer(actions.lineTimerMs);
    if (actions.repaint) RepaintNow();
    if (paintHolds_ == 0) AnnounceBrightLine();
}

void CSVPluginLyrics::StopLineTimer() {
    if (Hwnd()) KillTimer(Hwnd(), kLineTimerId);
    lineTimer_ = 0;
}

void CSVPluginLyrics::ArmLineTimer(uint32_t periodMs) {
    // Without a window SetTimer would make a thread timer nobody handles.
    if (!Hwnd()) return;
    lineTimer_ = SetTimer(Hwnd(), kLineTimerId, periodMs, nullptr);
}

void CSVPluginLyrics::RepaintNow() {
    if (paintHolds_ > 0) {
        paintOwed_ = true;
        return;
    }
    if (Hwnd()) RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void CSVPluginLyrics::ReleasePaintHold() {
    if (--paintHolds_ > 0) return;
    if (paintOwed_) {
        paintOwed_ = false;
        RepaintNow();
    }
    AnnounceBrightLine();
}

void CSVPluginLyrics::AnimateScroll() {
    // The text moves up one line, the old current line still bright, in frames of a window timer:
    // painted all in one message, the move held the player's thread for one paint per pixel.
    if (!Hwnd()) return;
    animating_ = true;
    animationOffset_ = 0;
    if (!SetTimer(Hwnd(), kScrollTimerId, kScrollFrameMs, nullptr)) StopScrollAnimation();
}

void CSVPluginLyrics::NextScrollFrame() {
    const int step = lineHeight_ > 0 ? (lineHeight_ + kScrollFrames - 1) / kScrollFrames : 0;
    if (!animating_ || step == 0 || animationOffset_ + step >= lineHeight_) {
        // The last frame is the new current line in place.
        StopScrollAnimation();
        RepaintNow();
        return;
    }
    animationOffset_ += step;
    RepaintNow();
}

void CSVPluginLyrics::StopScrollAnimation() {
    if (Hwnd()) KillTimer(Hwnd(), kScrollTimerId);
    animating_ = false;
    animationOffset_ = 0;
}

void CSVPluginLyrics::ApplyScrollBar(const ScrollBarSetting& setting) {
    if (!Hwnd()) return;
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_RANGE | SIF_POS;
    info.nMin = 0;
    info.nMax = setting.maximum;
    info.nPos = setting.position;
    SetScrollInfo(Hwnd(), SB_VERT, &info, FALSE);
    ShowScrollBar(Hwnd(), SB_VERT, setting.visible ? TRUE : FALSE);
}

void CSVPluginLyrics::SetDocument(LyricsDocument* document) { Carry(follower_.SetDocument(document)); }

void CSVPluginLyrics::SetManualScroll(bool on) {
    const ManualScrollChange change = follower_.SetManualScroll(on);
    ApplyScrollBar(change.scrollBar);
    Carry(change.actions);
}

void CSVPluginLyrics::SetShowLyrics(bool on) {
    if (showLyrics_ == on) return;
    showLyrics_ = on;
    RepaintNow();
    if (paintHolds_ == 0) AnnounceBrightLine();
}

void CSVPluginLyrics::SetResyncing(bool on) { Carry(follower_.SetResyncing(on)); }

void CSVPluginLyrics::SetTimingOffset(int32_t offsetMs) { Carry(follower_.SetTimingOffset(offsetMs)); }

void CSVPluginLyrics::OnPlay(uint32_t positionMs) { Carry(follower_.OnPlay(positionMs)); }

void CSVPluginLyrics::OnPause() { Carry(follower_.OnPause()); }

void CSVPluginLyrics::OnStop() { Carry(follower_.OnStop()); }

void CSVPluginLyrics::CurrentLineFor(uint32_t positionMs, bool repaint) {
    Carry(follower_.CurrentLineFor(positionMs, repaint));
}

bool CSVPluginLyrics::ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                           MessagePass pass) {
    if (pass != MessagePass::Ordinary) return false;
    switch (message) {
        case WM_PAINT:
            OnPaint();
            result = 0;
            return true;
        case WM_ERASEBKGND:
            // Every paint covers the whole client area from the back buffer.
            result = 1;
            return true;
        case WM_SETCURSOR:
            if (!OnSetCursor(LOWORD(lParam))) return false;
            result = TRUE;
            return true;
        case WM_TIMER:
            if (wParam == kScrollTimerId) {
                NextScrollFrame();
                result = 0;
                return true;
            }
            if (wParam != kLineTimerId) return false;
            // Window timers repeat: the rules stop it here and re-arm it only while a line is due.
            Carry(follower_.OnLineTimer());
            result = 0;
            return true;
        case WM_VSCROLL:
            if (lParam != 0) return false;  // a scroll-bar control's message, not the pane's own bar
            OnVerticalScroll(LOWORD(wParam));
            result = 1;
            return true;
        case WM_LBUTTONDOWN:
            // The keyboard follows the click (the menu key and Shift+F10 then open the plug-in's menu).
            SetFocus(hwnd);
            [[fallthrough]];
        // With CS_DBLCLKS the second of two quick clicks arrives as a double click; during re-sync
        // it is a stamp like any other.
        case WM_LBUTTONDBLCLK:
            OnPrimaryButton(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            result = 0;
            return true;
        case WM_KEYDOWN:
            if (!OnKey(wParam)) return false;
            result = 0;
            return true;
        case WM_GETTEXT:
            result = AnswerText(wParam, lParam);
            return true;
        case WM_GETTEXTLENGTH:
            result = AnswerText(0, 0);
            return true;
        case WM_DESTROY:
            StopLineTimer();
            StopScrollAnimation();
            return false;
        default:
            return false;
    }
}

bool CSVPluginLyrics::OnSetCursor(UINT hitTest) {
    if (hitTest != HTCLIENT) return false;  // the scroll bar and borders keep their own cursors
    POINT point = {};
    GetCursorPos(&point);
    ScreenToClient(Hwnd(), &point);
    const bool overLink = !IsRectEmpty(&linkRect_) && PtInRect(&linkRect_, point);
    SetCursor(LoadCursorW(nullptr, overLink ? IDC_HAND : IDC_ARROW));
    return true;
}

void CSVPluginLyrics::OnPrimaryButton(POINT point) {
    if (!IsRectEmpty(&linkRect_) && PtInRect(&linkRect_, point)) {
        if (host_) host_->OpenEditLyricsPage();
        return;
    }
    const LyricsDocument* document = follower_.document();
    if (document && document->resyncing) {
        Carry(follower_.StampNextLine(PositionNow()));
        return;
    }
    // Outside re-sync a click on a timed line plays from it, lit at once, without waiting for the
    // player to report the new position.
    const int line = LineAtY(point.y);
    const std::optional<uint32_t> position = line >= 0 ? follower_.JumpTo(line) : std::nullopt;
    if (!position) return;
    if (host_) host_->SeekTo(*position);
    if (follower_.document() != document) return;  // the seek's events replaced the document
    Carry(follower_.CurrentLineFor(*position, true));
}

int CSVPluginLyrics::LineAtY(int y) const {
    const LyricsDocument* document = follower_.document();
    if (!document || lineHeight_ <= 0 || !showLyrics_) return -1;
    // The rows as DrawLines lays them out: line 0 below one blank row, otherwise the line before
    // the first in the top row; each row one line high plus the gap between rows.
    const int first = InManualScroll() ? GetScrollPos(Hwnd(), SB_VERT) : follower_.currentLine();
    const int top = first <= 0 ? lineHeight_ : 0;
    if (y < top) return -1;
    const int index = (first <= 0 ? 0 : first - 1) + (y - top) / (lineHeight_ + RowGap());
    return index < document->LineCount() ? index : -1;
}

bool CSVPluginLyrics::OnKey(WPARAM key) {
    int command = 0;
    switch (key) {
        case VK_OEM_MINUS:
        case VK_SUBTRACT:
            command = CMD_LYRICS_EARLIER;
            break;
        case VK_OEM_PLUS:
        case VK_ADD:
            command = CMD_LYRICS_LATER;
            break;
        case '0':
        case VK_NUMPAD0:
            command = CMD_RESET_TIMING;
            break;
        default:
            return false;
    }
    // The main window runs its commands; the menu names these keys.
    SendMessageW(GetParent(Hwnd()), WM_COMMAND, MAKEWPARAM(command, 1), reinterpret_cast<LPARAM>(Hwnd()));
    return true;
}

void CSVPluginLyrics::OnVerticalScroll(int code) {
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(Hwnd(), SB_VERT, &info)) return;
    const int old = info.nPos;
    int position = old;
    switch (code) {
        case SB_LINEUP:
            position = old - 1;
            break;
        case SB_LINEDOWN:
            position = old + 1;
            break;
        case SB_PAGEUP:
            position = old - 5;
            break;
        case SB_PAGEDOWN:
            position = old + 5;
            break;
        case SB_THUMBTRACK:
            position = info.nTrackPos;
            break;
        case SB_TOP:
            position = info.nMin;
            break;
        case SB_BOTTOM:
            position = info.nMax;
            break;
        default:
            break;  // SB_THUMBPOSITION, SB_ENDSCROLL: unchanged
    }
    SetScrollPos(Hwnd(), SB_VERT, position, TRUE);
    if (GetScrollPos(Hwnd(), SB_VERT) != old) RepaintNow();
}

void CSVPluginLyrics::OnPaint() {
    PaintScope paint(Hwnd());
    RECT client = {};
    GetClientRect(Hwnd(), &client);
    const SIZE size = {client.right - client.left, client.bottom - client.top};
    if (size.cx <= 0 || size.cy <= 0) return;

    BufferedPaint buffer(paint.dc(), client);
    const HDC memory = buffer.dc();
    if (!memory) return;
    {
        ScopedSelect selectFont(memory, Look().LyricsFont());
        SetBkMode(memory, TRANSPARENT);
        lineHeight_ = TextHeight(memory, L" ", 1, DT_SINGLELINE);

        FillRect(memory, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        SetRectEmpty(&linkRect_);

        const LyricsDocument* document = follower_.document();
        if (document && showLyrics_ && document->status < LyricsStatus::NotFound) {
            const int first = InManualScroll() ? GetScrollPos(Hwnd(), SB_VERT) : follower_.currentLine();
            DrawLines(memory, client, first);
        } else {
            DrawStatusView(memory, client);
        }
    }
}

void CSVPluginLyrics::DrawLines(HDC dc, const RECT& client, int first) {
    const LyricsDocument* document = follower_.document();
    RECT rect = client;
    if (animating_) {
        rect.top -= animationOffset_;
        --first;
    }
    if (first < 0) first = 0;
    const bool allBright = InManualScroll();
    int grey = kFirstGreyLevel;
    UINT format = kLineFormat;

    // Line 0 never sits in the top row: the row above it stays blank.
    if (first == 0) rect.top += DrawTextW(dc, L" ", 1, &rect, format);

    for (int index = first > 0 ? first - 1 : first;; ++index) {
        const LyricLine* line = document->LineAt(index);
        if (!line || line->text.empty() || rect.top >= rect.bottom - lineHeight_) break;
        COLORREF colour;
        if (index == first - 1) {
            colour = Grey(grey);
        } else if (index == first) {
            colour = kCurrentLineColour;
        } else {
            colour = Grey(grey);
            if (grey > kDarkestGreyLevel) grey -= kGreyStep;
        }
        if (allBright) colour = kCurrentLineColour;
        format = line->rightToLeft ? (format | DT_RTLREADING) : (format & ~static_cast<UINT>(DT_RTLREADING));
        SetTextColor(dc, colour);
        const int height = DrawTextW(dc, reinterpret_cast<const wchar_t*>(line->text.data()),
                                     static_cast<int>(line->text.size()), &rect, format);
        rect.top += height + RowGap();
    }
}

void CSVPluginLyrics::DrawStatusView(HDC dc, const RECT& client) {
    const StatusTriple* status = host_ ? host_->Status() : nullptr;
    if (!status || status->linesShown || status->statusTextId == IDS_STATUS_NONE) return;
    if (status->statusTextId == IDS_STATUS_NOT_FOUND) {
        DrawNotFoundView(dc, client);
        return;
    }
    wchar_t text[kSettingTextChars] = {};
    const int length = LoadStringW(instance_, status->statusTextId, text, static_cast<int>(kSettingTextChars));
    if (length <= 0) return;
    RECT rect = client;
    SetTextColor(dc, status->statusColour);
    DrawTextW(dc, text, length, &rect, DT_SINGLELINE | DT_CENTER | DT_VCENTER | DT_NOPREFIX);
}

void CSVPluginLyrics::DrawNotFoundView(HDC dc, const RECT& client) {
    const StatusTriple* status = host_->Status();
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;

    SetTextColor(dc, status->statusColour);
    const int gap = Look().Scale(kNotFoundGap);
    RECT upper = {client.left, client.top, client.right, height / 2 - gap};
    DrawTextW(dc, kNotFoundFirstLine, -1, &upper, DT_SINGLELINE | DT_CENTER | DT_BOTTOM | DT_NOPREFIX);

    int x = (width - TextWidth(dc, kNotFoundSecondLine)) / 2;
    const int y = height / 2 + gap;

    auto drawRun = [&](const wchar_t* text, HFONT font, COLORREF colour) {
        ScopedSelect selectFont(dc, font);
        const int runWidth = TextWidth(dc, text);
        RECT rect = {x, y, x + runWidth, y + lineHeight_};
        SetTextColor(dc, colour);
        DrawTextW(dc, text, -1, &rect, kRunFormat);
        x += runWidth;
        return rect;
    };
    const PaneLook& look = Look();
    drawRun(kNotFoundBeforeLink, look.LyricsFont(), STATUS_COLOUR);
    linkRect_ = drawRun(kNotFoundLink, look.LinkFont(), kLinkColour);
    drawRun(kNotFoundAfterLink, look.LyricsFont(), STATUS_COLOUR);
}

void CSVPluginLyrics::AnnounceBrightLine() {
    if (!Hwnd()) return;
    const LyricsDocument* document = follower_.document();
    std::u16string bright;
    if (document && showLyrics_ && document->status < LyricsStatus::NotFound && !InManualScroll()) {
        if (const LyricLine* line = document->LineAt(follower_.currentLine())) bright = line->text;
    }
    if (bright == announced_) return;
    announced_ = std::move(bright);
    // The text is answered to WM_GETTEXT, not set: setting it would also redraw nothing and, on
    // some systems, announce the change twice.
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, Hwnd(), OBJID_WINDOW, CHILDID_SELF);
}

LRESULT CSVPluginLyrics::AnswerText(WPARAM capacity, LPARAM buffer) const {
    const size_t length = std::char_traits<char16_t>::length(announced_.c_str());
    if (!buffer) return static_cast<LRESULT>(length);
    if (capacity == 0) return 0;
    const size_t copied = length < capacity - 1 ? length : capacity - 1;
    wchar_t* out = reinterpret_cast<wchar_t*>(buffer);
    announced_.copy(reinterpret_cast<char16_t*>(out), copied);
    out[copied] = L'\0';
    return static_cast<LRESULT>(copied);
}

}  // namespace sv
