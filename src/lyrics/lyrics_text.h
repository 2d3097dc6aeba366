// Text rules of the lyrics model that need no Windows API: the "timing" attribute code, the
// right-to-left test, cache file names and the entries of the timed text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sv {

// Decodes a "timing" attribute into milliseconds. The first character is a key digit k (1 to 9);
// the last k characters are the leading digits of time * k in reverse order, the k before them are
// filler, and the ones between the key and the filler are the remaining digits. An absent attribute
// is passed as the empty text. Anything that does not carry a whole code (length 1 or less, a key
// that is not 1 to 9, fewer than 2k + 1 characters) decodes as 0, the untimed value.
double DecodeTiming(std::u16string_view timing) noexcept;

// True when a UTF-16 unit of the text lies in a Hebrew, Arabic, Syriac, Thaana or presentation-form
// block; such lines are drawn with right-to-left reading order.
bool IsRightToLeft(std::u16string_view text) noexcept;

// One key as it appears in a cache file name: each character a Windows file name cannot hold
// (" * / : < > ? \ | and the control characters), each bracket (the separators) and the escape
// character '%' itself become "%XX" (two upper-case hex digits); everything else stays. Distinct
// keys give distinct results, so bracketed keys never run into one another.
std::u16string EscapeCacheKey(std::u16string_view key);

// Size of the buffer that holds a cache path, terminator included.
constexpr size_t kCachePathCapacity = 520;

// folder\[artist][title][videoId][language].xml with every key escaped (EscapeCacheKey), so that
// distinct keys never share a file. No path at all when the folder is empty (no cache), when it
// would not fit kCachePathCapacity, or when a key holds a NUL: the service reads a key only up to
// its NUL, so such a key is not the song its name would say.
std::optional<std::u16string> ComposeCachePath(std::u16string_view folder, std::u16string_view artist,
                                               std::u16string_view title, std::u16string_view videoId,
                                               std::u16string_view language);

// The furthest a user's timing offset moves lyrics, either way.
constexpr int32_t kLongestTimingOffsetMs = 600000;
// One press of "Lyrics earlier" or "Lyrics later".
constexpr int32_t kTimingNudgeMs = 500;
int32_t ClampTimingOffset(int64_t offsetMs) noexcept;
// The timing offset's file beside a cache file: the cache path with ".xml" replaced by ".offset";
// none for a path that does not end in ".xml" or whose offset path would not fit kCachePathCapacity.
std::optional<std::u16string> TimingOffsetPathFor(std::u16string_view cachePath);
// The offset file holds the milliseconds as decimal text. Anything else (a file the user broke,
// a number out of range) reads as no offset.
int32_t ParseTimingOffset(std::string_view text) noexcept;

// True when the XML text declares a document type: a "<!DOCTYPE" in its prolog, after an optional
// byte-order mark, white space, processing instructions and comments. Replies are untrusted, and a
// document type definition is how entity expansion and external entities get in, so such a reply
// is refused before any parser sees it.
bool DeclaresDocumentType(std::u16string_view xml) noexcept;

// Appends one timed-text entry "[mm:ss.hh] text": minutes are not limited to two digits and the
// hundredths are truncated from the double value. The text ends at its first NUL, as a C string.
void AppendTimedEntry(std::u16string& out, double timeMs, std::u16string_view text);

}  // namespace sv
