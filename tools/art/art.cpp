#include "art.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace art {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Point {
    double x, y;
};

double Clamp01(double v) { return std::min(1.0, std::max(0.0, v)); }

Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// Coverage of a pixel whose centre lies at signed distance d (pixels) from a shape's edge.
double CoverageFromDistance(double d) { return Clamp01(0.5 - d); }

double DistanceToSegment(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double lengthSquared = dx * dx + dy * dy;
    double t = lengthSquared > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared : 0;
    t = Clamp01(t);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

// Glyph outlines are strokes along lines and circular arcs, in a y-up frame whose origin is the
// glyph's left end of the baseline; angles in degrees, counter-clockwise from +x.
struct Stroke {
    enum Kind { kLine, kArc, kDot } kind;
    Point a{}, b{};           // line ends
    Point centre{};           // arc and dot
    double radius = 0;        // arc radius or dot radius
    double fromDegrees = 0;   // arc start
    double sweepDegrees = 0;  // arc length, counter-clockwise

    static Stroke Line(Point a, Point b) {
        Stroke s{kLine};
        s.a = a;
        s.b = b;
        return s;
    }
    static Stroke Arc(Point c, double r, double from, double sweep) {
        Stroke s{kArc};
        s.centre = c;
        s.radius = r;
        s.fromDegrees = from;
        s.sweepDegrees = sweep;
        return s;
    }
    static Stroke Dot(Point c, double r) {
        Stroke s{kDot};
        s.centre = c;
        s.radius = r;
        return s;
    }

    // Distance from p to the stroke's centre line (for dots: signed distance to the disc edge,
    // less the half width, so that every kind is thickened the same way).
    double Distance(Point p, double halfWidth) const {
        switch (kind) {
            case kLine:
                return DistanceToSegment(p, a, b);
            case kDot:
                return std::hypot(p.x - centre.x, p.y - centre.y) - radius + halfWidth;
            case kArc: {
                const double angle = std::atan2(p.y - centre.y, p.x - centre.x) * 180.0 / kPi;
                double along = std::fmod(angle - fromDegrees, 360.0);
                if (along < 0) along += 360.0;
                if (along <= sweepDegrees) return std::fabs(std::hypot(p.x - centre.x, p.y - centre.y) - radius);
                const double toRadians = kPi / 180.0;
                const Point start{centre.x + radius * std::cos(fromDegrees * toRadians),
                                  centre.y + radius * std::sin(fromDegrees * toRadians)};
                const double end = (fromDegrees + sweepDegrees) * toRadians;
                const Point finish{centre.x + radius * std::cos(end), centre.y + radius * std::sin(end)};
                return std::min(std::hypot(p.x - start.x, p.y - start.y), std::hypot(p.x - finish.x, p.y - finish.y));
            }
        }
        return 1e9;
    }
};

struct Glyph {
    double advance;
    std::vector<Stroke> strokes;
};

// A geometric lowercase face (and its capital S) for the word mark. x-height 11, stroke 2.2:
// stroke centre lines sit half a stroke inside the letter's box.
constexpr double kStroke = 2.2;
constexpr double kHalf = kStroke / 2;
constexpr double kXHeight = 11.0;

Glyph GlyphFor(char c) {
    const double top = kXHeight - kHalf;
    const double round = (kXHeight - kStroke) / 2;  // radius of o, e and the a bowl
    switch (c) {
        case 'S':
            return {9.4, {Stroke::Arc({5.0, 10.8}, 3.1, 25, 245), Stroke::Arc({5.0, 4.4}, 3.3, -155, 245)}};
        case 'o':
            return {11.0, {Stroke::Arc({5.5, 5.5}, round, 0, 360)}};
        case 'e':
            return {11.0, {Stroke::Arc({5.5, 5.5}, round, 0, 318), Stroke::Line({kHalf, 5.5}, {5.5 + round, 5.5})}};
        case 'a':
            return {10.6, {Stroke::Arc({5.2, 5.5}, round - 0.2, 0, 360), Stroke::Line({9.5, top}, {9.5, kHalf})}};
        case 'n':
            return {10.0,
                    {Stroke::Line({kHalf, top}, {kHalf, kHalf}), Stroke::Arc({5.0, 6.2}, 3.9, 0, 180),
                     Stroke::Line({8.9, 6.2}, {8.9, kHalf})}};
        case 'v':
            return {10.4,
                    {Stroke::Line({kHalf, top}, {5.2, kHalf + 0.2}), Stroke::Line({5.2, kHalf + 0.2}, {9.3, top})}};
        case 'i':
            return {2.2, {Stroke::Line({kHalf, top}, {kHalf, kHalf}), Stroke::Dot({kHalf, 14.0}, 1.5)}};
        case 'r':
            return {7.2, {Stroke::Line({kHalf, top}, {kHalf, kHalf}), Stroke::Arc({5.0, 6.0}, 3.9, 55, 125)}};
        default:
            return {6.0, {}};
    }
}

// Paints the strokes of a word in one pass, so that overlapping strokes are not blended twice.
void DrawWord(Canvas& canvas, const std::string& word, double left, double baseline, double letterSpacing,
              const std::function<Rgb(double x, double y)>& colourAt) {
    struct Placed {
        Stroke stroke;
        double originX;
    };
    std::vector<Placed> placed;
    double x = left;
    for (char c : word) {
        const Glyph glyph = GlyphFor(c);
        for (const Stroke& s : glyph.strokes) placed.push_back({s, x});
        x += glyph.advance + letterSpacing;
    }
    for (int py = 0; py < canvas.height(); ++py) {
        for (int px = 0; px < canvas.width(); ++px) {
            double nearest = 1e9;
            for (const Placed& p : placed) {
                const Point local{px + 0.5 - p.originX, baseline - (py + 0.5)};
                nearest = std::min(nearest, p.stroke.Distance(local, kHalf) - kHalf);
            }
            const double coverage = CoverageFromDistance(nearest);
            if (coverage > 0) canvas.Blend(px, py, colourAt(px + 0.5, py + 0.5), coverage);
        }
    }
}

double WordWidth(const std::string& word, double letterSpacing) {
    double width = 0;
    for (char c : word) width += GlyphFor(c).advance + letterSpacing;
    return width - letterSpacing;
}

// Signed distance to a rounded rectangle given by its edges (pixel-edge coordinates).
double RoundedRectDistance(Point p, double left, double top, double right, double bottom, double radius) {
    const double cx = (left + right) / 2, cy = (top + bottom) / 2;
    const double qx = std::fabs(p.x - cx) - ((right - left) / 2 - radius);
    const double qy = std::fabs(p.y - cy) - ((bottom - top) / 2 - radius);
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

// The logo's background, one colour per row: near black at the top and bottom edges with a soft
// slate glow between. Its first column is also stretched as the band at the foot of the action
// list, which sits right above the logo, so both of its ends stay close to the list's black.
Rgb LogoBackground(double y) {
    const Rgb glow{46, 53, 78};
    const double t = (y - 27.0) / 11.0;
    return Mix({0, 0, 0}, glow, std::exp(-t * t));
}

const Rgb kAmber{254, 220, 0};  // the status-text colour
const Rgb kOrange{244, 150, 24};
const Rgb kWhite{255, 255, 255};

struct FaceStyle {
    Rgb fillTop, fillBottom;
    Rgb borderTop, borderBottom;
    double gloss;           // white over the upper half
    double innerShadow;     // dark line under the top edge (pressed)
    double amberUnderglow;  // amber rising from the bottom edge (active)
};

void DrawFace(Canvas& canvas, int originX, const FaceStyle& style) {
    const double left = originX + 1.0, right = originX + kButtonWidth - 1.0, top = 1.0, bottom = kButtonHeight - 1.0;
    const double radius = 7.0;
    for (int py = 0; py < kButtonHeight; ++py) {
        for (int px = originX; px < originX + kButtonWidth; ++px) {
            const Point p{px + 0.5, py + 0.5};
            const double d = RoundedRectDistance(p, left, top, right, bottom, radius);
            const double inside = CoverageFromDistance(d);
            if (inside <= 0) continue;
            const double t = Clamp01((p.y - top) / (bottom - top));
            Rgb colour = Mix(style.fillTop, style.fillBottom, t);
            const double glossFade = std::max(0.0, 1.0 - 2.0 * t);
            colour = Mix(colour, kWhite, style.gloss * glossFade * glossFade);
            colour = Mix(colour, kAmber, style.amberUnderglow * t * t * t * t);
            if (style.innerShadow > 0 && p.y < top + 4)
                colour = Mix(colour, {0, 0, 0}, style.innerShadow * (1 - (p.y - top) / 4));
            canvas.Blend(px, py, colour, inside);
            // One-pixel border just inside the outline.
            const double ring = CoverageFromDistance(std::fabs(d + 0.5) - 0.5);
            if (ring > 0) canvas.Blend(px, py, Mix(style.borderTop, style.borderBottom, t), ring);
        }
    }
}

}  // namespace

Canvas::Canvas(int width, int height, Rgb fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

void Canvas::Blend(int x, int y, Rgb colour, double coverage) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    Rgb& p = pixels_[static_cast<size_t>(y) * width_ + x];
    p = Mix(p, colour, Clamp01(coverage));
}

Canvas DrawLogo() {
    Canvas logo(kLogoWidth, kLogoHeight);
    for (int y = 0; y < kLogoHeight; ++y)
        for (int x = 0; x < kLogoWidth; ++x) logo.Blend(x, y, LogoBackground(y + 0.5), 1.0);

    // The mark: an amber tile with four level bars, like a player's spectrum display.
    const double tileLeft = 5, tileTop = 11, tileRight = 27, tileBottom = 33;
    for (int py = 0; py < kLogoHeight; ++py) {
        for (int px = 1; px < 32; ++px) {
            const Point p{px + 0.5, py + 0.5};
            const double coverage =
                CoverageFromDistance(RoundedRectDistance(p, tileLeft, tileTop, tileRight, tileBottom, 5.0));
            if (coverage <= 0) continue;
            const double t = Clamp01((p.y - tileTop) / (tileBottom - tileTop));
            logo.Blend(px, py, Mix(Mix(kAmber, kWhite, 0.25 * (1 - t) * (1 - t)), kOrange, t), coverage);
        }
    }
    const Rgb barColour{28, 32, 48};
    const double barBottom = 28.5, barHalfWidth = 1.45;
    const double barX[] = {10.0, 14.0, 18.0, 22.0};
    const double barHeight[] = {6.0, 12.5, 8.5, 10.5};
    for (int py = 0; py < kLogoHeight; ++py) {
        for (int px = 1; px < 32; ++px) {
            const Point p{px + 0.5, py + 0.5};
            double nearest = 1e9;
            for (int i = 0; i < 4; ++i)
                nearest =
                    std::min(nearest, DistanceToSegment(p, {barX[i], barBottom}, {barX[i], barBottom - barHeight[i]}) -
                                          barHalfWidth);
            const double coverage = CoverageFromDistance(nearest);
            if (coverage > 0) logo.Blend(px, py, barColour, coverage);
        }
    }

    // The word mark, white with a faint cool shade toward the baseline.
    const std::string word = "Sonavire";
    const double spacing = 1.3, baseline = 29.0;
    const double textLeft = 32.0;
    const double textWidth = WordWidth(word, spacing);
    DrawWord(logo, word, textLeft, baseline, spacing, [&](double, double y) {
        return Mix(kWhite, {196, 206, 232}, Clamp01((y - 15.0) / 14.0));
    });

    // A playback line under the word with its playhead: played part amber, the rest dim.
    const double lineY = 34.5, lineLeft = textLeft, lineRight = textLeft + textWidth;
    const double playhead = lineLeft + 0.62 * (lineRight - lineLeft);
    for (int py = 30; py < 40; ++py) {
        for (int px = 28; px < kLogoWidth; ++px) {
            const Point p{px + 0.5, py + 0.5};
            const double line = CoverageFromDistance(DistanceToSegment(p, {lineLeft, lineY}, {lineRight, lineY}) - 0.6);
            if (line > 0) {
                const double fade = Clamp01(std::min(p.x - lineLeft, lineRight - p.x) / 8.0);
                logo.Blend(px, py, p.x < playhead ? kAmber : Rgb{110, 120, 150}, line * (0.35 + 0.65 * fade));
            }
            const double head = CoverageFromDistance(std::hypot(p.x - playhead, p.y - lineY) - 2.1);
            if (head > 0) logo.Blend(px, py, Mix(kAmber, kWhite, 0.35), head);
        }
    }
    return logo;
}

Canvas DrawButtonFaces() {
    Canvas strip(kButtonWidth * kButtonFaces, kButtonHeight);  // black: the action list's background
    const FaceStyle normal{{92, 104, 136}, {50, 58, 80}, {136, 148, 182}, {30, 35, 50}, 0.16, 0, 0};
    const FaceStyle hover{{114, 128, 166}, {62, 72, 100}, kAmber, kOrange, 0.22, 0, 0};
    const FaceStyle pressed{{26, 30, 46}, {60, 68, 96}, kAmber, kOrange, 0, 0.45, 0.16};
    const FaceStyle disabled{{58, 60, 66}, {42, 44, 50}, {76, 78, 86}, {34, 35, 40}, 0.03, 0, 0};
    const FaceStyle faces[kButtonFaces] = {normal, hover, pressed, disabled};
    for (int i = 0; i < kButtonFaces; ++i) DrawFace(strip, i * kButtonWidth, faces[i]);
    return strip;
}

std::vector<uint8_t> EncodeBmp24(const Canvas& canvas) {
    const uint32_t rowBytes = (static_cast<uint32_t>(canvas.width()) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(canvas.height());
    const uint32_t headerBytes = 14 + 40;
    std::vector<uint8_t> out;
    out.reserve(headerBytes + imageBytes);
    auto put16 = [&](uint32_t v) {
        out.push_back(v & 0xFF);
        out.push_back((v >> 8) & 0xFF);
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    // BITMAPFILEHEADER
    out.push_back('B');
    out.push_back('M');
    put32(headerBytes + imageBytes);
    put32(0);
    put32(headerBytes);
    // BITMAPINFOHEADER: positive height, bottom-up rows, uncompressed, 72 dpi.
    put32(40);
    put32(static_cast<uint32_t>(canvas.width()));
    put32(static_cast<uint32_t>(canvas.height()));
    put16(1);
    put16(24);
    put32(0);
    put32(imageBytes);
    put32(2835);
    put32(2835);
    put32(0);
    put32(0);
    auto channel = [](double v) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v)))); };
    for (int y = canvas.height() - 1; y >= 0; --y) {
        uint32_t written = 0;
        for (int x = 0; x < canvas.width(); ++x) {
            const Rgb& p = canvas.at(x, y);
            out.push_back(channel(p.b));
            out.push_back(channel(p.g));
            out.push_back(channel(p.r));
            written += 3;
        }
        for (; written < rowBytes; ++written) out.push_back(0);
    }
    return out;
}

}  // namespace art
