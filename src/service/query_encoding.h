// Escaping of values placed in a URL the plug-in builds (service queries, the sign-in check, the
// community pages' queries).
//
// Every byte of the value's UTF-8 outside the unreserved set (A-Z a-z 0-9 - . _ ~) is written as
// "%XX" with upper-case hex digits. Nothing that reaches the request line can then end the value,
// the query or the line itself: a CR or LF in a media tag goes out as "%0D%0A", not raw onto the
// socket where it would start a header of its own.
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
