#include "lyrics/lrc_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace sv {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// Up to maxDigits digits at text[k]; the number of digits read.
size_t ReadNumber(std::string_view text, size_t& k, size_t maxDigits, long long& value) {
    size_t digits = 0;
    value = 0;
    while (k < text.size() && IsDigit(text[k]) && digits < maxDigits) {
        value = value * 10 + (text[k] - '0');
        ++k;
        ++digits;
    }
    return digits;
}

// The word stamp "<mm:ss.xx>" at text[i] (at its '<'); its length, or 0.
size_t WordStampLength(std::string_view text, size_t i) {
    if (i >= text.size() || text[i] != '<') return 0;
    std::string bracketed(text.substr(i + 1, 32));
    const size_t close = bracketed.find('>');
    if (close == std::string::npos) return 0;
    bracketed[close] = ']';
    size_t k = 0;
    long long ignored = 0;
    return ReadLrcStamp(bracketed, k, ignored) && k == close + 1 ? close + 2 : 0;
}

bool ReadOffset(const std::string& value, long long& offsetMs) {
    if (value.empty() || value.size() > 12) return false;
    char* end = nullptr;
    const long long parsed = strtoll(value.c_str(), &end, 10);
    if (*end != '\0' || !(IsDigit(value[0]) || value[0] == '+' || value[0] == '-')) return false;
    offsetMs = parsed;
    return true;
}

std::string Excerpt(std::string_view line) {
    std::string text = Trim(line);
    if (text.size() > 40) text = text.substr(0, 37) + "...";
    return "\"" + text + "\"";
}

}  // namespace

bool ReadLrcStamp(std::string_view text, size_t& i, long long& timeMs) {
    size_t k = i;
    long long minutes = 0, seconds = 0;
    if (ReadNumber(text, k, 9, minutes) == 0 || k >= text.size() || text[k] != ':') return false;
    ++k;
    if (ReadNumber(text, k, 2, seconds) == 0 || k >= text.size()) return false;
    long long fractionMs = 0;
    if (text[k] == '.' || text[k] == ':') {
        ++k;
        long long scale = 100;
        size_t digits = 0;
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

std::string WithoutWordStamps(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (const size_t length = WordStampLength(text, i)) {
            i += length;
            continue;
        }
        out += text[i++];
    }
    return Trim(out);
}

std::string FormatLrcStamp(long long ms) {
    char stamp[48];
    ms = std::max(0LL, ms);
    if (ms % 10 == 0) {
        snprintf(stamp, sizeof stamp, "[%02lld:%02lld.%02lld]", ms / 60000, ms / 1000 % 60, ms % 1000 / 10);
    } else {
        snprintf(stamp, sizeof stamp, "[%02lld:%02lld.%03lld]", ms / 60000, ms / 1000 % 60, ms % 1000);
    }
    return stamp;
}

std::string LrcReading::Tag(std::string_view name) const {
    std::string value;
    for (const auto& [n, v] : tags) {
        if (n == name) value = v;
    }
    return value;
}

LrcReading ReadLrc(std::string_view text) {
    LrcReading reading;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::pair<int, std::string>> untimed;  // number and text of lines without a stamp
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (!line.empty() && line[0] == '#') continue;

        size_t i = 0;
        std::vector<long long> stamps;
        long long timeMs = 0;
        for (size_t k = 1; i < line.size() && line[i] == '[' && ReadLrcStamp(line, k, timeMs); k = i + 1) {
            stamps.push_back(timeMs);
            i = k;
        }
        if (!stamps.empty()) {
            const std::string words = WithoutWordStamps(line.substr(i));
            for (long long t : stamps) reading.timed.push_back(LrcTimedLine{t, words});
            continue;
        }
        const std::string trimmed = Trim(line);
        if (trimmed.size() >= 2 && trimmed[0] == '[' && IsDigit(trimmed[1])) {
            reading.skipped.push_back({number, "a time stamp it cannot read: " + Excerpt(line)});
            continue;
        }
        const size_t colon = trimmed.find(':');
        if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']' && colon != std::string::npos) {
            std::string name = trimmed.substr(1, colon - 1);
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
            std::string value = Trim(std::string_view(trimmed).substr(colon + 1, trimmed.size() - colon - 2));
            if (name == "offset") {
                if (!ReadOffset(value, reading.offsetMs)) {
                    reading.skipped.push_back(
                        {number, "an offset that is no number of milliseconds: " + Excerpt(line)});
                }
            } else {
                reading.tags.emplace_back(std::move(name), std::move(value));
            }
            continue;
        }
        if (!trimmed.empty()) untimed.emplace_back(number, WithoutWordStamps(trimmed));
    }
    if (reading.timed.empty()) {
        for (auto& [n, words] : untimed) reading.plain.push_back(std::move(words));
        return reading;
    }
    for (const auto& [n, words] : untimed)
        reading.skipped.push_back({n, "no time stamp in a timed file: " + Excerpt(words)});
    std::sort(reading.skipped.begin(), reading.skipped.end(),
              [](const LrcSkippedLine& a, const LrcSkippedLine& b) { return a.number < b.number; });
    for (LrcTimedLine& line : reading.timed) line.timeMs = std::max(0LL, line.timeMs - reading.offsetMs);
    std::stable_sort(reading.timed.begin(), reading.timed.end(),
                     [](const LrcTimedLine& a, const LrcTimedLine& b) { return a.timeMs < b.timeMs; });
    return reading;
}

}  // namespace sv
