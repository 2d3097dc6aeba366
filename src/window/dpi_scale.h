// Pixel sizes at a DPI: every fixed size of the plug-in's windows is written for 96 dpi (100%)
// and scaled from there. Portable arithmetic, no Windows API.
#pragma once

namespace sv {

inline constexpr int kDefaultDpi = 96;
// What a DPI that cannot be (0, negative, absurdly large) is taken for.
inline constexpr int kLargestDpi = 96 * 16;

// value * dpi / 96, rounded to the nearest whole pixel, halves away from zero (as MulDiv rounds).
// A DPI outside 1..kLargestDpi counts as 96, so a size is never lost or blown up.
int ScaleForDpi(int value, int dpi);
// The other way: a size at dpi back to 96 dpi, rounded the same way.
int UnscaleForDpi(int value, int dpi);
// dpi when it is one a window can have, else 96.
int UsableDpi(int dpi);

}  // namespace sv
