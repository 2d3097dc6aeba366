// What the panes draw with at their window's DPI: the fonts and pixel sizes of the 96-dpi look,
// scaled. The main window keeps one and changes its DPI; the panes read it when they paint and
// lay out. At 96 dpi the fonts are the settings record's own, so that look stays as it is.
#pragma once
#include <windows.h>

#include "base/win_handles.h"
#include "window/dpi_scale.h"

namespace sv {

class PaneLook {
public:
    PaneLook() = default;
    PaneLook(const PaneLook&) = delete;
    PaneLook& operator=(const PaneLook&) = delete;

    // The look at 96 dpi, for panes that were given none.
    static const PaneLook& Default();

    int Dpi() const { return dpi_; }
    // Makes the fonts for another DPI; false (nothing changes) when it is the DPI already.
    bool SetDpi(int dpi);
    // A 96-dpi pixel size at this DPI.
    int Scale(int value) const { return ScaleForDpi(value, dpi_); }
    int Unscale(int value) const { return UnscaleForDpi(value, dpi_); }

    HFONT LyricsFont() const;
    HFONT LinkFont() const;  // the lyrics font, underlined
    HFONT TextFont() const;  // the action bar's and the status line's

private:
    int dpi_ = kDefaultDpi;
    UniqueFont lyrics_;  // none at 96 dpi: the settings record's
    UniqueFont link_;
    UniqueFont text_;
};

// A copy of a bitmap's (x, y, width, height) stretched to (toWidth, toHeight) with halftone
// filtering, for the panes' pictures at another DPI; null when it cannot be made.
HBITMAP StretchBitmap(HBITMAP source, int x, int y, int width, int height, int toWidth, int toHeight);

}  // namespace sv
