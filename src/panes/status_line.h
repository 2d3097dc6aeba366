// The status line: one strip under the lyrics that shows the main window's status text while the
// lyrics pane shows lines (otherwise the lyrics pane shows the text itself). Black, with a thin
// coloured top edge, drawn through a kept back buffer. It also keeps the current status text as
// its window text, where accessibility tools (and the demo's watcher) read it.
#pragma once
#include <windows.h>

#include "base/win_handles.h"
#include "panes/lyrics_pane_host.h"
#include "panes/pane_look.h"
#include "settings/settings.h"
#include "window/buffered_paint.h"
#include "window/window_base.h"

namespace sv {

class CSVPluginStatus : public WindowBase {
public:
    static constexpr wchar_t kClassName[] = L"SVPluginStatus";
    static constexpr COLORREF kEdgeColour = 0x0084685D;  // red 93, green 104, blue 132

    // host answers the status triple; it must outlive the pane. Null: no status.
    explicit CSVPluginStatus(const LyricsPaneHost* host);
    ~CSVPluginStatus() override;

    static bool RegisterPaneClass(HINSTANCE instance);
    // The font at the window's DPI (not owned; outlives the pane); none: 96 dpi.
    void SetLook(const PaneLook* look) { look_ = look; }
    const PaneLook& Look() const { return look_ ? *look_ : PaneLook::Default(); }
    // Status texts come from instance's string table; rect: its place in parent (none: empty).
    bool Create(HINSTANCE instance, HWND parent, DWORD style, const RECT* rect = nullptr);

    // The status triple changed: the strip is repainted (without erasing) and its text follows.
    void StatusChanged();

protected:
    bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                              MessagePass pass) override;

private:
    void OnPaint();
    // The text to show now; empty when there is none (no host, lines not shown, text 200).
    int ShownText(wchar_t (&text)[kSettingTextChars]) const;

    const LyricsPaneHost* host_;
    const PaneLook* look_ = nullptr;
    HINSTANCE instance_ = nullptr;
    BufferedPaintUser bufferedPaint_;
};

}  // namespace sv
