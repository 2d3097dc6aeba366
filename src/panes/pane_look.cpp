#include "panes/pane_look.h"

#include "settings/settings.h"

namespace sv {
namespace {

// At namespace scope, made at load and ended at unload (it holds no fonts of its own).
const PaneLook g_defaultLook;

}  // namespace

const PaneLook& PaneLook::Default() { return g_defaultLook; }

bool PaneLook::SetDpi(int dpi) {
    dpi = UsableDpi(dpi);
    if (dpi == dpi_) return false;
    dpi_ = dpi;
    if (dpi == kDefaultDpi) {
        lyrics_.reset();
        link_.reset();
        text_.reset();
        return true;
    }
    const int lyricsHeight = Scale(kLyricsFontHeight);
    lyrics_.reset(MakePaneFont(lyricsHeight, kLyricsFontWeight, false));
    link_.reset(MakePaneFont(lyricsHeight, kLyricsFontWeight, true));
    text_.reset(MakePaneFont(Scale(kTextFontHeight), kTextFontWeight, false));
    return true;
}

HFONT PaneLook::LyricsFont() const { return lyrics_ ? lyrics_.get() : Settings().boldFont.get(); }
HFONT PaneLook::LinkFont() const { return link_ ? link_.get() : Settings().underlineFont.get(); }
HFONT PaneLook::TextFont() const { return text_ ? text_.get() : Settings().regularFont.get(); }

HBITMAP StretchBitmap(HBITMAP source, int x, int y, int width, int height, int toWidth, int toHeight) {
    if (!source || width <= 0 || height <= 0 || toWidth <= 0 || toHeight <= 0) return nullptr;
    ScopedDc screen(nullptr, DCX_CACHE);
    if (!screen.get()) return nullptr;
    UniqueBitmap result(CreateCompatibleBitmap(screen.get(), toWidth, toHeight));
    UniqueMemoryDc from(CreateCompatibleDC(screen.get()));
    UniqueMemoryDc to(CreateCompatibleDC(screen.get()));
    if (!result || !from || !to) return nullptr;
    ScopedSelect selectFrom(from.get(), source);
    ScopedSelect selectTo(to.get(), result.get());
    // Halftone averages the source pixels under each target pixel: gradients stay smooth and
    // edges soft at any ratio, where the default mode drops or doubles whole rows.
    const int oldMode = SetStretchBltMode(to.get(), HALFTONE);
    SetBrushOrgEx(to.get(), 0, 0, nullptr);
    const BOOL stretched = StretchBlt(to.get(), 0, 0, toWidth, toHeight, from.get(), x, y, width, height, SRCCOPY);
    SetStretchBltMode(to.get(), oldMode);
    return stretched ? result.release() : nullptr;
}

}  // namespace sv
