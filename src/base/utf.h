// UTF-16 <-> UTF-8 for portable code. Texts inside Sonavire are UTF-16; char16_t is 16 bits on
// both Windows and Linux, so lengths and surrogates are the same everywhere.
#pragma once
#include <string>
#include <string_view>

namespace sv {

// Unpaired surrogates become U+FFFD, as WideCharToMultiByte does.
std::string Utf8FromUtf16(std::u16string_view text);
// Invalid sequences become U+FFFD, as MultiByteToWideChar does.
std::u16string Utf16FromUtf8(std::string_view text);

#ifdef _WIN32
// wchar_t and char16_t are both UTF-16 units on Windows.
inline const wchar_t* AsWide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline const char16_t* AsU16(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }
inline std::u16string_view AsU16View(const wchar_t* s, size_t n) { return {AsU16(s), n}; }
#endif

}  // namespace sv
