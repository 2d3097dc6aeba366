#include "lyrics.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "text.h"

namespace standin {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads "mm:ss", "mm:ss.f..." or "mm:ss:ff" starting at text[i] (just after '['), up to and
// including the closing ']'. Returns false without consuming when it is not a time stamp.
bool ReadStamp(std::string_view text, size_t& i, long long& timeMs) {
    size_t k = i;
    long long minutes = 0, seconds = 0;
    size_t digits = 0;
    while (k < text.size() && IsDigit(text[k]) && digits < 9) { minutes = minutes * 10 + (text[k] - '0'); ++k; ++digits; }
    if (digits == 0 || k >= text.size() || text[k] != ':') return false;
    ++k;
    digits = 0;
    while (k < text.size() && IsDigit(text[k]) && digits < 2) { seconds = seconds * 10 + (text[k] - '0'); ++k; ++digits; }
    if (digits == 0 || seconds >= 60 || k >= text.size()) return false;
    long long fractionMs = 0;
    if (text[k] == '.' || text[k] == ':') {
        ++k;
        long long scale = 100;
        digits = 0;
        while (k < text.size() && IsDigit(text[k])) {
            if (digits < 3) fractionMs += (text[k] - '0') * scale;
            scale /= 10;
            ++k;
            ++digits;
        }
        if (digits == 0) return false;
    }
    if (k >= text.size() || text[k] != ']') return false;
    timeMs = (minutes * 60 + seconds) * 1000 + fractionMs;
    i = k + 1;
    return true;
}

std::string StripLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    return std::string(line);
}

}  // namespace

LrcParse ParseLrc(std::string_view text) {
    LrcParse result;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const std::string clean = SanitizeUtf8(text);
    std::vector<Line> timed, plain;
    size_t start = 0;
    while (start < clean.size()) {
        size_t end = clean.find('\n', start);
        if (end == std::string::npos) end = clean.size();
        const std::string line = StripLineEnd(std::string_view(clean).substr(start, end - start));
        start = end + 1;

        if (!line.empty() && line[0] == '#') continue;  // a comment
        size_t i = 0;
        std::vector<long long> stamps;
        long long timeMs = 0;
        while (i < line.size() && line[i] == '[' ) {
            size_t k = i + 1;
            if (ReadStamp(line, k, timeMs)) {
                stamps.push_back(timeMs);
                i = k;
                continue;
            }
            break;
        }
        if (!stamps.empty()) {
            const std::string words = Trim(std::string_view(line).substr(i));
            for (long long t : stamps) timed.push_back(Line{true, t, words});
            continue;
        }
        const std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']' &&
            trimmed.find(':') != std::string::npos) {
            const size_t colon = trimmed.find(':');
            std::string tag = trimmed.substr(1, colon - 1);
            std::transform(tag.begin(), tag.end(), tag.begin(), [](unsigned char c) { return std::tolower(c); });
            const std::string value = Trim(std::string_view(trimmed).substr(colon + 1, trimmed.size() - colon - 2));
            if (tag == "ti") result.song.title = value;
            else if (tag == "ar") result.song.artist = value;
            else if (tag == "al") result.song.album = value;
            else if (tag == "la") result.song.language = value;
            else if (tag == "ln") result.song.languageName = value;
            continue;  // other tags ([by:], [length:], ...) carry nothing the service uses
        }
        if (!trimmed.empty()) plain.push_back(Line{false, 0, trimmed});
    }
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
    if (!timed.empty()) {
        std::stable_sort(timed.begin(), timed.end(),
                         [](const Line& a, const Line& b) { return a.timeMs < b.timeMs; });
        result.song.lines = std::move(timed);
    } else {
        result.song.lines = std::move(plain);
    }
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
    if (line.timed) {
        char stamp[48];
        const long long ms = line.timeMs;
        if (ms % 10 == 0) {
            snprintf(stamp, sizeof stamp, "[%02lld:%02lld.%02lld]", ms / 60000, ms / 1000 % 60, ms % 1000 / 10);
        } else {
            snprintf(stamp, sizeof stamp, "[%02lld:%02lld.%03lld]", ms / 60000, ms / 1000 % 60, ms % 1000);
        }
        out += stamp;
    }
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
            if (ReadStamp(body, k, timeMs)) {
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
    std::string n = std::to_string(std::max(0LL, timeMs) * key);
    if (n.size() < static_cast<size_t>(key)) n.insert(0, key - n.size(), '0');
    std::string head = n.substr(0, key);
    std::reverse(head.begin(), head.end());
    return std::to_string(key) + n.substr(key) + std::string(filler.substr(0, key)) + head;
}

std::string EncodeTiming(long long timeMs, std::mt19937& random) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const int key = std::uniform_int_distribution<int>(1, 9)(random);
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 2);
    std::string filler;
    for (int i = 0; i < key; ++i) filler += alphabet[pick(random)];
    return EncodeTiming(timeMs, key, filler);
}

}  // namespace standin
