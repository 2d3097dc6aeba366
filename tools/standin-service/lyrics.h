// Songs as the stand-in service keeps them, the LRC files its library is made of, the timed text
// that uploads carry, and the encoding of line times in replies.
#pragma once
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct Line {
    bool timed = false;
    long long timeMs = 0;
    std::string text;  // UTF-8
};

struct Song {
    std::string artist, title, album;
    std::string language;      // empty for the original, else the code of this translation
    std::string languageName;  // display name of that language
    std::vector<Line> lines;
};

struct LrcParse {
    bool ok = false;
    std::string error;
    Song song;
    std::vector<std::string> skipped;  // "line N: why", for the lines the reading left out
};

// LRC as people write it (src/lyrics/lrc_reader.h: stamps in and out of range, [offset:], word
// stamps); the tags [ti:] [ar:] [al:] and, for a translation, [la:code] and [ln:display name]
// name the song. Timed lines are sorted by time; when a file has no timed line at all, its
// non-blank plain lines are the untimed lyrics. Artist and title are required.
LrcParse ParseLrc(std::string_view text);
std::string FormatLrc(const Song& song);
std::string FormatLrcLine(const Line& line);  // "[mm:ss.xx]text" or the text, with a line break

// Upload body: "[mm:ss.hh] text" entries back to back, no separator; minutes may have any number
// of digits. Trailing NULs and line breaks between entries are tolerated.
std::vector<Line> ParseTimedText(std::string_view body);

// A "timing" attribute value: the key digit k, then the digits of N = time * k from the (k+1)-th
// on, k filler characters, then the first k digits of N reversed. N is zero-padded to k digits.
std::string EncodeTiming(long long timeMs, int key, std::string_view filler);
std::string EncodeTiming(long long timeMs, std::mt19937& random);
// The same, appended to out without building texts on the way (a reply has one per line).
void AppendTiming(std::string& out, long long timeMs, int key, std::string_view filler);
void AppendTiming(std::string& out, long long timeMs, std::mt19937& random);

}  // namespace standin
