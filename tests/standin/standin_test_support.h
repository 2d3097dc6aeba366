// Helpers shared by the stand-in's tests.
#pragma once
#include <algorithm>
#include <optional>
#include <string>

namespace svtest {

// The plug-in's reading of a "timing" attribute, written from its description: k is the first
// character; R is the rest reversed; B is the first k characters of R followed by the part of R
// from 2k on, reversed back; the time is B / k. Nothing when the value cannot be decoded.
inline std::optional<long long> DecodeTiming(const std::string& s) {
    if (s.size() <= 1) return 0;
    if (s[0] < '1' || s[0] > '9') return std::nullopt;
    const size_t k = static_cast<size_t>(s[0] - '0');
    if (s.size() < 2 * k + 1) return std::nullopt;
    std::string r(s.rbegin(), s.rend() - 1);
    std::string tail = r.substr(2 * k);
    std::reverse(tail.begin(), tail.end());
    const std::string b = r.substr(0, k) + tail;
    if (b.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stoll(b) / static_cast<long long>(k);
}

// The nine-parameter query of the plug-in for a song, values already escaped.
inline std::string NineParameterQuery(const std::string& artist, const std::string& title, const std::string& lang = "",
                                      const std::string& album = "") {
    return "lang=" + lang + "&artist=" + artist + "&title=" + title + "&album=" + album +
           "&videoId=&vidSrc=&user=&device=1000&resolution=1280x1024";
}

}  // namespace svtest
