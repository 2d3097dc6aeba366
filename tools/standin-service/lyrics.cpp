#include "lyrics.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "lyrics/lrc_reader.h"
#include "text.h"

namespace standin {

LrcParse ParseLrc(std::string_view text) {
    LrcParse result;
    const sv::LrcReading reading = sv::ReadLrc(SanitizeUtf8(text));
    for (const sv::LrcSkippedLine& skipped : reading.skipped) {
        result.skipped.push_back("line " + std::to_string(skipped.number) + ": " + skipped.why);
    }
    result.song.title = reading.Tag("ti");
    result.song.artist = reading.Tag("ar");
    result.song.album = reading.Tag("al");
    result.song.language = reading.Tag("la");
    result.song.languageName = reading.Tag("ln");
    if (result.song.artist.empty() || result.song.title.empty()) {
        result.error = "the LRC text needs an [ar:] and a [ti:] tag";
        return result;
    }
    if (result.song.language.size() > 7) {
        result.error = "a language code has at most 7 characters";
        return result;
    }
    if (!result.song.language.empty() && result.song.languageName.empty()) {
        result.song.languageName = result.song.language;
    }
    for (const sv::LrcTimedLine& line : reading.timed) result.song.lines.push_back(Line{true, line.timeMs, line.text});
    for (const std::string& line : reading.plain) result.song.lines.push_back(Line{false, 0, line});
    result.ok = true;
    return result;
}

std::string FormatLrc(const Song& song) {
    std::string out = "[ar:" + song.artist + "]\n[ti:" + song.title + "]\n";
    if (!song.album.empty()) out += "[al:" + song.album + "]\n";
    if (!song.language.empty()) out += "[la:" + song.language + "]\n[ln:" + song.languageName + "]\n";
    for (const Line& line : song.lines) out += FormatLrcLine(line);
    return out;
}

std::string FormatLrcLine(const Line& line) {
    std::string out;
    if (line.timed) out += sv::FormatLrcStamp(line.timeMs);
    return out + line.text + "\n";
}

std::vector<Line> ParseTimedText(std::string_view body) {
    while (!body.empty() && body.back() == '\0') body.remove_suffix(1);
    std::vector<Line> lines;
    size_t textStart = std::string_view::npos;
    long long pendingTime = 0;
    const auto finish = [&](size_t textEnd) {
        if (textStart == std::string_view::npos) return;
        std::string_view words = body.substr(textStart, textEnd - textStart);
        if (!words.empty() && words.front() == ' ') words.remove_prefix(1);
        while (!words.empty() && (words.back() == '\r' || words.back() == '\n')) words.remove_suffix(1);
        lines.push_back(Line{true, pendingTime, SanitizeUtf8(words)});
    };
    size_t i = 0;
    while (i < body.size()) {
        if (body[i] == '[') {
            size_t k = i + 1;
            long long timeMs = 0;
            if (sv::ReadLrcStamp(body, k, timeMs)) {
                finish(i);
                pendingTime = timeMs;
                textStart = k;
                i = k;
                continue;
            }
        }
        ++i;
    }
    finish(body.size());
    return lines;
}

std::string EncodeTiming(long long timeMs, int key, std::string_view filler) {
    std::string out;
    AppendTiming(out, timeMs, key, filler);
    return out;
}

std::string EncodeTiming(long long timeMs, std::mt19937& random) {
    std::string out;
    AppendTiming(out, timeMs, random);
    return out;
}

void AppendTiming(std::string& out, long long timeMs, int key, std::string_view filler) {
    // The digits of N, zero-padded to at least key of them.
    char digits[32];
    const auto [end, failed] = std::to_chars(digits, digits + sizeof digits, std::max(0LL, timeMs) * key);
    size_t size = failed == std::errc() ? static_cast<size_t>(end - digits) : 0;
    if (size < static_cast<size_t>(key)) {
        const size_t pad = static_cast<size_t>(key) - size;
        std::memmove(digits + pad, digits, size);
        std::memset(digits, '0', pad);
        size += pad;
    }
    const size_t headSize = std::min(static_cast<size_t>(key), size);
    out += static_cast<char>('0' + key);
    out.append(digits + headSize, size - headSize);
    out.append(filler.substr(0, key));
    for (size_t i = headSize; i > 0; --i) out += digits[i - 1];
}

void AppendTiming(std::string& out, long long timeMs, std::mt19937& random) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr uint32_t kLetters = sizeof alphabet - 1;
    // One draw gives the key and the first filler letters (the filler only has to look random).
    uint32_t bits = random();
    const int key = 1 + static_cast<int>(bits % 9);
    bits /= 9;
    uint32_t left = 0xFFFFFFFFu / 9;
    char filler[9];
    for (int i = 0; i < key; ++i) {
        if (left < kLetters) {
            bits = random();
            left = 0xFFFFFFFFu;
        }
        filler[i] = alphabet[bits % kLetters];
        bits /= kLetters;
        left /= kLetters;
    }
    AppendTiming(out, timeMs, key, std::string_view(filler, static_cast<size_t>(key)));
}

}  // namespace standin
