#include "lyrics/lyrics_text.h"

#include <cmath>
#include <limits>

namespace sv {
namespace {

bool IsAsciiSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

}  // namespace

double DecodeTiming(std::u16string_view timing) noexcept {
    const size_t n = timing.size();
    if (n <= 1) return 0;
    const char16_t key = timing[0];
    if (key < u'1' || key > u'9') return 0;
    const size_t k = static_cast<size_t>(key - u'0');
    if (n < 2 * k + 1) return 0;

    // The number reads as the last k characters backwards, then the characters between the key
    // and the filler in order. Indexed in place rather than copied: the text may be any length.
    const size_t numberLength = n - k - 1;
    auto at = [&](size_t i) -> char16_t { return i < k ? timing[n - 1 - i] : timing[1 + (i - k)]; };

    // Leading white space and one sign, then digits up to the first other character; saturates
    // at the 32-bit range like the C library's integer parsers.
    size_t i = 0;
    while (i < numberLength && IsAsciiSpace(at(i))) ++i;
    bool negative = false;
    if (i < numberLength && (at(i) == u'+' || at(i) == u'-')) {
        negative = at(i) == u'-';
        ++i;
    }
    const int64_t limit =
        negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min()) : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (; i < numberLength && at(i) >= u'0' && at(i) <= u'9'; ++i) {
        magnitude = magnitude * 10 + (at(i) - u'0');
        if (magnitude > limit) magnitude = limit;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    // C++ integer division truncates toward zero.
    return static_cast<double>(value / static_cast<int64_t>(k));
}

bool IsRightToLeft(std::u16string_view text) noexcept {
    for (char16_t c : text) {
        if ((c >= 0x0590 && c <= 0x05FF) || (c >= 0x0600 && c <= 0x07BF) || (c >= 0xFB1D && c <= 0xFB4F) ||
            (c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF))
            return true;
    }
    return false;
}

std::u16string EscapeCacheKey(std::u16string_view key) {
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string out;
    out.reserve(key.size());
    for (const char16_t c : key) {
        switch (c) {
            case u'"':
            case u'*':
            case u'/':
            case u':':
            case u'<':
            case u'>':
            case u'?':
            case u'\\':
            case u'|':
            case u'[':
            case u']':
            case u'%':
                break;
            default:
                if (c >= 0x20) {
                    out += c;
                    continue;
                }
        }
        out += u'%';
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    return out;
}

std::optional<std::u16string> ComposeCachePath(std::u16string_view folder, std::u16string_view artist,
                                               std::u16string_view title, std::u16string_view videoId,
                                               std::u16string_view language) {
    // Without a folder the name would be relative to the current drive's root.
    if (folder.empty() || folder.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    std::u16string path;
    path.reserve(folder.size() + artist.size() + title.size() + videoId.size() + language.size() + 14);
    path.append(folder);
    path += u'\\';
    for (std::u16string_view key : {artist, title, videoId, language}) {
        if (key.find(u'\0') != std::u16string_view::npos) return std::nullopt;
        path += u'[';
        path += EscapeCacheKey(key);
        path += u']';
    }
    path += u".xml";
    if (path.size() >= kCachePathCapacity) return std::nullopt;
    return path;
}

bool DeclaresDocumentType(std::u16string_view xml) noexcept {
    auto startsWith = [&](size_t at, std::u16string_view prefix) { return xml.substr(at, prefix.size()) == prefix; };
    size_t i = 0;
    if (i < xml.size() && xml[i] == u'\uFEFF') ++i;
    for (;;) {
        while (i < xml.size() && (xml[i] == u' ' || xml[i] == u'\t' || xml[i] == u'\r' || xml[i] == u'\n')) ++i;
        size_t end;
        if (startsWith(i, u"<?")) {
            end = xml.find(u"?>", i + 2);
            if (end == std::u16string_view::npos) return false;
            i = end + 2;
        } else if (startsWith(i, u"<!--")) {
            end = xml.find(u"-->", i + 4);
            if (end == std::u16string_view::npos) return false;
            i = end + 3;
        } else {
            break;
        }
    }
    // Any spelling: a parser that accepted a lower-case one must not get the chance.
    static constexpr char16_t kDoctype[] = u"<!DOCTYPE";
    for (size_t k = 0; k + 1 < sizeof(kDoctype) / sizeof(kDoctype[0]); ++k) {
        if (i + k >= xml.size()) return false;
        char16_t c = xml[i + k];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != kDoctype[k]) return false;
    }
    return true;
}

namespace {

// printf's "%02d": at least two characters, zero-padded; a minus sign counts as one of them.
void AppendTwoDigits(std::u16string& out, int64_t value) {
    // Magnitude as unsigned so that the most negative value needs no special case.
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char16_t digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0) digits[count++] = u'-';
    if (count < 2) digits[count++] = u'0';
    while (count > 0) out += digits[--count];
}

}  // namespace

void AppendTimedEntry(std::u16string& out, double timeMs, std::u16string_view text) {
    double seconds = timeMs / 1000.0;
    // Times come from 32-bit sources; anything else is clamped so that the integer conversions
    // below stay defined.
    constexpr double kLargest = 9.0e15;
    if (std::isnan(seconds)) seconds = 0;
    if (seconds > kLargest) seconds = kLargest;
    if (seconds < -kLargest) seconds = -kLargest;
    const int64_t wholeSeconds = static_cast<int64_t>(seconds);
    const int64_t minutes = wholeSeconds / 60;
    const int64_t secondsOfMinute = wholeSeconds % 60;
    const int64_t hundredths = static_cast<int64_t>((seconds - static_cast<double>(wholeSeconds)) * 100.0);

    out += u'[';
    AppendTwoDigits(out, minutes);
    out += u':';
    AppendTwoDigits(out, secondsOfMinute);
    out += u'.';
    AppendTwoDigits(out, hundredths);
    out += u"] ";
    const size_t nul = text.find(u'\0');
    out.append(nul == std::u16string_view::npos ? text : text.substr(0, nul));
}

int32_t ClampTimingOffset(int64_t offsetMs) noexcept {
    if (offsetMs > kLongestTimingOffsetMs) return kLongestTimingOffsetMs;
    if (offsetMs < -kLongestTimingOffsetMs) return -kLongestTimingOffsetMs;
    return static_cast<int32_t>(offsetMs);
}

std::optional<std::u16string> TimingOffsetPathFor(std::u16string_view cachePath) {
    constexpr std::u16string_view kCacheEnding = u".xml";
    constexpr std::u16string_view kOffsetEnding = u".offset";
    if (cachePath.size() < kCacheEnding.size() ||
        cachePath.substr(cachePath.size() - kCacheEnding.size()) != kCacheEnding)
        return std::nullopt;
    std::u16string path(cachePath.substr(0, cachePath.size() - kCacheEnding.size()));
    path.append(kOffsetEnding);
    if (path.size() + 1 > kCachePathCapacity) return std::nullopt;
    return path;
}

int32_t ParseTimingOffset(std::string_view text) noexcept {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 7) return 0;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    if (value > kLongestTimingOffsetMs) return 0;
    return static_cast<int32_t>(negative ? -value : value);
}

}  // namespace sv
