// What the lyrics pane needs from the plug-in object and the main window, and the status triple
// that the main window keeps for the pane and the status line.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "resources/resource_ids.h"

namespace sv {

// Every status text is drawn in this colour (red 254, green 220, blue 0).
constexpr COLORREF STATUS_COLOUR = 0x0000DCFE;

struct StatusTriple {
    uint16_t statusTextId = IDS_STATUS_NONE;  // the text that shows nothing
    COLORREF statusColour = STATUS_COLOUR;
    bool linesShown = false;      // the shown document's lines are on screen: the text goes to the status line
    std::wstring statusArgument;  // replaces "%1" in the text (a file name); usually empty
};

class LyricsPaneHost {
public:
    // Playback position of the shown document's source in milliseconds (GetPositionMs).
    virtual uint32_t GetPositionMs() = 0;
    // The main window's status triple; null while the main window is not there yet.
    virtual const StatusTriple* Status() const = 0;
    // Command 107: opens the community site's lyrics editor for the shown document.
    virtual void OpenEditLyricsPage() = 0;
    // Moves playback of the shown document's source to the position (a click on a timed line).
    virtual void SeekTo(uint32_t positionMs) = 0;

protected:
    ~LyricsPaneHost() = default;
};

}  // namespace sv
