// Escaping of values placed in a lyrics-service query.
//
// Bytes of 0x80 and above (UTF-8 of non-ASCII letters) and the characters that would change the
// meaning of the URL or of the value once the server decodes it are written as "%xx" with lower-case
// hex digits: "&" (would start the next parameter), "#" (would end the URL), "%" and "+" (a server
// decodes them). Everything else passes unchanged, so "Rock & Roll" goes out as "Rock %26 Roll".
#pragma once
#include <string>
#include <string_view>

namespace sv {

// The escaping itself, over UTF-8 bytes.
std::string EncodeQueryBytes(std::string_view utf8);

// A UTF-16 value: converted to UTF-8 (unpaired surrogates become U+FFFD), then escaped.
std::string EncodeQueryValue(std::u16string_view text);

#ifdef _WIN32
// The wide-text entry point; a null text is the empty text.
std::string EncodeQueryValue(const wchar_t* text);
#endif

}  // namespace sv
