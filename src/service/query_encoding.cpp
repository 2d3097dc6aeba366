#include "service/query_encoding.h"

#include "base/utf.h"

#include <cwchar>

namespace sv {
namespace {
bool IsUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~';
}
bool NeedsEscape(unsigned char byte) { return !IsUnreserved(byte); }
}  // namespace

std::string EncodeQueryBytes(std::string_view utf8) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    size_t escaped = 0;
    for (char c : utf8) escaped += NeedsEscape(static_cast<unsigned char>(c)) ? 1 : 0;
    std::string out;
    out.reserve(utf8.size() + 2 * escaped);
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (NeedsEscape(byte)) {
            out += '%';
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string EncodeQueryValue(std::u16string_view text) { return EncodeQueryBytes(Utf8FromUtf16(text)); }

#ifdef _WIN32
std::string EncodeQueryValue(const wchar_t* text) {
    if (!text) return {};
    return EncodeQueryValue(AsU16View(text, std::wcslen(text)));
}
#endif

}  // namespace sv
