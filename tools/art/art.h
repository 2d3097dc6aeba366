// Draws the plug-in's bitmaps: the logo (resource 100) and the four button faces (resource 103).
// Pure C++ with no platform API, so the pictures come out the same on every machine that builds
// them; the committed BMP files in src/resources are this program's output.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace art {

struct Rgb {
    double r = 0, g = 0, b = 0;  // 0..255
};

// A picture in linear floating-point RGB, top row first.
class Canvas {
public:
    Canvas(int width, int height, Rgb fill = {});
    int width() const { return width_; }
    int height() const { return height_; }
    const Rgb& at(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    // Mixes colour into one pixel with the given coverage (0..1); outside pixels are ignored.
    void Blend(int x, int y, Rgb colour, double coverage);

private:
    int width_;
    int height_;
    std::vector<Rgb> pixels_;
};

inline constexpr int kLogoWidth = 118;
inline constexpr int kLogoHeight = 45;
inline constexpr int kButtonWidth = 118;
inline constexpr int kButtonHeight = 35;
inline constexpr int kButtonFaces = 4;  // normal, hover, pressed or active, disabled

Canvas DrawLogo();
Canvas DrawButtonFaces();

// A bottom-up 24-bit BMP file (BITMAPFILEHEADER, BITMAPINFOHEADER, rows padded to 4 bytes).
std::vector<uint8_t> EncodeBmp24(const Canvas& canvas);

}  // namespace art
