// Text helpers of the stand-in service: URL encoding as PHP decodes it, XML escaping, and the
// loose matching of artist and title names.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

using QueryPairs = std::vector<std::pair<std::string, std::string>>;

// Every byte except A-Z a-z 0-9 - _ . ~ becomes %XX (upper-case hex).
// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, uint32_t cp);

std::string PercentEncodeStrict(std::string_view bytes);
// %XX becomes the byte; a '%' not followed by two hex digits stays as it is (as PHP's urldecode).
std::string PercentDecode(std::string_view text, bool plusAsSpace);
// "a=1&b=x+y&c" -> {a,1} {b,"x y"} {c,""}, in order, duplicates kept; empty segments skipped.
QueryPairs ParseQuery(std::string_view query);
// The value PHP would see: the last one of that name.
std::string QueryValue(const QueryPairs& query, std::string_view name, bool* found = nullptr);

// Replaces invalid UTF-8 sequences by U+FFFD so that every stored text can be served as UTF-8.
std::string SanitizeUtf8(std::string_view bytes);
// Trimmed and case-folded (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic) for matching names.
std::string FoldForMatch(std::string_view utf8);
std::string Trim(std::string_view text);

// Escapes & < > " ' and drops the control characters that XML 1.0 does not allow.
std::string XmlEscape(std::string_view utf8);
void AppendXmlEscaped(std::string& out, std::string_view utf8);

}  // namespace standin
