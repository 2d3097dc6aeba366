// Reading LRC files as people write them, with no Windows API: the lyrics server imports them, and
// the plug-in can read a user's own files the same way. Texts are UTF-8.
//
// Rules:
// - "[mm:ss]", "[mm:ss.f...]" or "[mm:ss:ff]" at the start of a line stamps it; several stamps
//   may precede one text. Minutes and seconds are read as the time they name, in range or not:
//   "[00:61.00]" is 61 s, "[75:00.00]" is 75 min.
// - "[offset:+/-ms]" moves every stamp of the file: a positive offset makes the lyrics come
//   earlier (the time minus the offset). A result below 0 is 0.
// - Word stamps "<mm:ss.xx>" inside a line (the enhanced form) are removed from its text.
// - "[name:value]" lines are tags, "#" lines comments. When a file has timed lines, a non-blank
//   line with neither a stamp nor a tag is skipped; a line whose stamp cannot be read always is.
//   Each skipped line is reported with its number and why.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sv {

struct LrcTimedLine {
    long long timeMs = 0;
    std::string text;
};

struct LrcSkippedLine {
    int number = 0;  // from 1
    std::string why;
};

struct LrcReading {
    std::vector<std::pair<std::string, std::string>> tags;  // name lower-cased, value trimmed; no offset
    long long offsetMs = 0;
    std::vector<LrcTimedLine> timed;  // in time order (stable), offset applied
    std::vector<std::string> plain;   // non-blank lines without a stamp, when nothing is timed
    std::vector<LrcSkippedLine> skipped;
    std::string Tag(std::string_view name) const;  // the last value of that tag; "" when absent
};

LrcReading ReadLrc(std::string_view utf8);

// Reads a stamp "mm:ss[.f...]]" starting at text[i], just after its '['; on success i is past
// the ']'. Fails without moving i when the text there is no stamp.
bool ReadLrcStamp(std::string_view text, size_t& i, long long& timeMs);

// The text without its word stamps "<mm:ss.xx>", and trimmed.
std::string WithoutWordStamps(std::string_view text);

// "[mm:ss.xx]", or "[mm:ss.xxx]" when the time is not whole hundredths; minutes may exceed 99.
std::string FormatLrcStamp(long long timeMs);

}  // namespace sv
