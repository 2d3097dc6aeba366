// The status line: one strip under the lyrics that shows the main window's status text while the
// lyrics pane shows lines. Its drawing comes later; for now it keeps the current status text as
// its window text, where accessibility tools (and the demo's watcher) read it.
#pragma once
#include <windows.h>

#include <string>

#include "panes/lyrics_pane_host.h"
#include "window/window_base.h"

namespace sv {

class CSVPluginStatus : public WindowBase {
public:
    static constexpr wchar_t kClassName[] = L"SVPluginStatus";

    // host answers the status triple; it must outlive the pane. Null: no status.
    explicit CSVPluginStatus(const LyricsPaneHost* host);
    ~CSVPluginStatus() override;

    static bool RegisterPaneClass(HINSTANCE instance);
    // Status texts come from instance's string table.
    bool Create(HINSTANCE instance, HWND parent, DWORD style);

    // The status triple changed: the strip is repainted (without erasing) and its text follows.
    void StatusChanged();

private:
    const LyricsPaneHost* host_;
    HINSTANCE instance_ = nullptr;
};

}  // namespace sv
