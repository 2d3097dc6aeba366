#include "pane_test_support.h"

#include <algorithm>
#include <string>

namespace svtest {
namespace {

constexpr wchar_t kFrameClass[] = L"SvPaneTestFrame";

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

void RegisterFrameClass() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = Instance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kFrameClass;
    RegisterClassExW(&windowClass);
}

COLORREF FromPixel(uint32_t pixel) { return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF); }

}  // namespace

std::unique_ptr<sv::LyricsDocument> MakeDocument(sv::LyricsStatus status, const std::vector<double>& times) {
    auto document = std::make_unique<sv::LyricsDocument>();
    document->status = status;
    document->sourceKind = sv::MediaSource::Player;
    for (size_t i = 0; i < times.size(); ++i) {
        const std::string text = "Line " + std::to_string(i);
        document->AddLine(std::u16string(text.begin(), text.end()), u"");
        document->LineAt(static_cast<int>(i))->time = times[i];
    }
    return document;
}

std::unique_ptr<sv::LyricsDocument> MakeTextDocument(sv::LyricsStatus status,
                                                     const std::vector<std::u16string>& texts) {
    auto document = std::make_unique<sv::LyricsDocument>();
    document->status = status;
    document->sourceKind = sv::MediaSource::Player;
    for (const auto& text : texts) document->AddLine(text, u"");
    return document;
}

PaneFixture::PaneFixture(int width, int height, TestHost* host) {
    RegisterFrameClass();
    RECT frameRect = {0, 0, width + 40, height + 40};
    frame_ = CreateWindowExW(0, kFrameClass, L"pane test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                             frameRect.right, frameRect.bottom, nullptr, nullptr, Instance(), nullptr);
    pane_ = std::make_unique<sv::CSVPluginLyrics>(host);
    pane_->Create(Instance(), frame_, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL);
    pane_->SetManualScroll(false);  // hides the bar, as the main window does at once
    MoveWindow(pane_->Hwnd(), 0, 0, width, height, TRUE);
    UpdateWindow(frame_);
    PumpUntil([] { return false; }, 0);
}

PaneFixture::~PaneFixture() {
    pane_.reset();
    if (frame_) DestroyWindow(frame_);
}

void PaneFixture::Resize(int width, int height) {
    MoveWindow(frame_, 0, 0, width + 40, height + 40, TRUE);
    MoveWindow(pane_->Hwnd(), 0, 0, width, height, TRUE);
}

Capture::Capture(HWND hwnd) {
    RECT client = {};
    GetClientRect(hwnd, &client);
    width_ = client.right;
    height_ = client.bottom;
    if (width_ <= 0 || height_ <= 0) return;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = -height_;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC windowDc = GetDC(hwnd);
    HBITMAP section = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(windowDc);
    HGDIOBJ old = SelectObject(memory, section);
    BitBlt(memory, 0, 0, width_, height_, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    pixels_.assign(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + width_ * height_);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(section);
    ReleaseDC(hwnd, windowDc);
}

COLORREF Capture::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
    return FromPixel(pixels_[static_cast<size_t>(y) * width_ + x]);
}

COLORREF Capture::DominantColour(const RECT& area) const {
    std::map<COLORREF, int> counts;
    for (int y = std::max(0, static_cast<int>(area.top)); y < std::min(height_, static_cast<int>(area.bottom)); ++y)
        for (int x = std::max(0, static_cast<int>(area.left)); x < std::min(width_, static_cast<int>(area.right));
             ++x) {
            const COLORREF colour = At(x, y);
            if (colour != RGB(0, 0, 0)) ++counts[colour];
        }
    COLORREF best = RGB(0, 0, 0);
    int bestCount = 0;
    for (const auto& [colour, count] : counts)
        if (count > bestCount) {
            best = colour;
            bestCount = count;
        }
    return best;
}

int Capture::Count(const RECT& area, COLORREF wanted) const {
    int count = 0;
    for (int y = std::max(0, static_cast<int>(area.top)); y < std::min(height_, static_cast<int>(area.bottom)); ++y)
        for (int x = std::max(0, static_cast<int>(area.left)); x < std::min(width_, static_cast<int>(area.right)); ++x)
            if (At(x, y) == wanted) ++count;
    return count;
}

int Capture::NonBlack(const RECT& area) const {
    const int all = (std::min(height_, static_cast<int>(area.bottom)) - std::max(0, static_cast<int>(area.top))) *
                    (std::min(width_, static_cast<int>(area.right)) - std::max(0, static_cast<int>(area.left)));
    return std::max(0, all) - Count(area, RGB(0, 0, 0));
}

RECT Capture::InkBounds(const RECT& area) const {
    RECT bounds = {width_, height_, -1, -1};
    for (int y = std::max(0, static_cast<int>(area.top)); y < std::min(height_, static_cast<int>(area.bottom)); ++y)
        for (int x = std::max(0, static_cast<int>(area.left)); x < std::min(width_, static_cast<int>(area.right)); ++x)
            if (At(x, y) != RGB(0, 0, 0)) {
                bounds.left = std::min(bounds.left, static_cast<LONG>(x));
                bounds.top = std::min(bounds.top, static_cast<LONG>(y));
                bounds.right = std::max(bounds.right, static_cast<LONG>(x + 1));
                bounds.bottom = std::max(bounds.bottom, static_cast<LONG>(y + 1));
            }
    if (bounds.right < 0) SetRectEmpty(&bounds);
    return bounds;
}

Capture PaintAndCapture(HWND hwnd) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    return Capture(hwnd);
}

bool WaitForTimer(HWND hwnd, UINT_PTR id, DWORD timeoutMs) {
    return PumpUntilDispatched(
        [&](const MSG& message) { return message.message == WM_TIMER && message.hwnd == hwnd && message.wParam == id; },
        [] { return false; }, timeoutMs);
}

MessageCounter::MessageCounter(HWND hwnd) : hwnd_(hwnd) {
    SetWindowSubclass(hwnd_, &MessageCounter::Procedure, 0, reinterpret_cast<DWORD_PTR>(this));
}

MessageCounter::~MessageCounter() {
    if (IsWindow(hwnd_)) RemoveWindowSubclass(hwnd_, &MessageCounter::Procedure, 0);
}

int MessageCounter::Count(UINT message) const {
    const auto found = counts_.find(message);
    return found == counts_.end() ? 0 : found->second;
}

LRESULT CALLBACK MessageCounter::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR data) {
    auto* counter = reinterpret_cast<MessageCounter*>(data);
    ++counter->counts_[message];
    if (counter->onMessage) counter->onMessage(message, wParam, lParam);
    if (message == WM_TIMER && wParam == sv::CSVPluginLyrics::kLineTimerId) ++counter->timers_;
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace svtest
