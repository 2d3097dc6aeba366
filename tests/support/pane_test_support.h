// Helpers for driving a real lyrics pane: a host whose position the test sets, a top-level window
// to hold the pane, pixel capture of the painted client area, and message pumping with deadlines.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "lyrics/lyrics_document.h"
#include "panes/lyrics_pane.h"
#include "panes/lyrics_pane_host.h"
#include "win_test_support.h"

namespace svtest {

class TestHost : public sv::LyricsPaneHost {
public:
    uint32_t GetPositionMs() override { return positionSource ? positionSource() : position; }
    const sv::StatusTriple* Status() const override { return hasStatus ? &status : nullptr; }
    void OpenEditLyricsPage() override { ++editorOpened; }
    void SeekTo(uint32_t positionMs) override { seeks.push_back(positionMs); }

    uint32_t position = 0;
    std::function<uint32_t()> positionSource;  // when set, answers instead of position
    sv::StatusTriple status;
    bool hasStatus = true;
    int editorOpened = 0;
    std::vector<uint32_t> seeks;
};

// A document with the given line times and texts "Line 0", "Line 1", ...
std::unique_ptr<sv::LyricsDocument> MakeDocument(sv::LyricsStatus status, const std::vector<double>& times);
// A document with the given texts, all at time 0.
std::unique_ptr<sv::LyricsDocument> MakeTextDocument(sv::LyricsStatus status, const std::vector<std::u16string>& texts);

// A visible top-level window that holds one pane created as the main window creates it.
class PaneFixture {
public:
    PaneFixture(int width, int height, TestHost* host);
    ~PaneFixture();
    sv::CSVPluginLyrics& pane() { return *pane_; }
    HWND hwnd() const { return pane_->Hwnd(); }
    void Resize(int width, int height);

private:
    HWND frame_ = nullptr;
    std::unique_ptr<sv::CSVPluginLyrics> pane_;
};

// The pane's client area as painted, read back from the screen.
class Capture {
public:
    explicit Capture(HWND hwnd);
    int width() const { return width_; }
    int height() const { return height_; }
    COLORREF At(int x, int y) const;
    // The most frequent colour other than black in the band [top, bottom) (antialiased edges
    // spread over many colours, the inside of the strokes is the text colour); black when empty.
    COLORREF DominantColour(int top, int bottom) const { return DominantColour(RECT{0, top, width_, bottom}); }
    COLORREF DominantColour(const RECT& area) const;
    // Pixels of the given colour in the area.
    int Count(const RECT& area, COLORREF colour) const;
    int NonBlack(const RECT& area) const;
    // Smallest rectangle holding every non-black pixel of the area (empty when none).
    RECT InkBounds(const RECT& area) const;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
};

// Repaints the pane at once and captures it.
Capture PaintAndCapture(HWND hwnd);

// Pumps until the pane has handled one WM_TIMER of the given id (dispatched here); false on timeout.
bool WaitForTimer(HWND hwnd, UINT_PTR id, DWORD timeoutMs);

// Counts the messages that reach a window (a subclass on top of its procedure); timers() counts the
// lyrics pane's line timer only. onMessage, when set, sees each message before the window does.
class MessageCounter {
public:
    std::function<void(UINT message, WPARAM wParam, LPARAM lParam)> onMessage;

    explicit MessageCounter(HWND hwnd);
    ~MessageCounter();
    int paints() const { return Count(WM_PAINT); }
    int timers() const { return timers_; }
    int Count(UINT message) const;
    void Reset() {
        counts_.clear();
        timers_ = 0;
    }

private:
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR data);
    HWND hwnd_;
    std::map<UINT, int> counts_;
    int timers_ = 0;
};

inline constexpr COLORREF Grey(int level) { return RGB(level, level, level); }

}  // namespace svtest
