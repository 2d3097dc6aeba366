#include "text.h"

#include <array>
#include <cstdint>

namespace standin {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes one code point at text[i]; advances i. Invalid input gives U+FFFD and consumes one byte.
uint32_t NextCodePoint(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    int extra = 0;
    uint32_t cp = 0, minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        if (i + k >= text.size() || (byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += extra + 1;
    return cp;
}

uint32_t FoldCodePoint(uint32_t cp) {
    if (cp >= 'A' && cp <= 'Z') return cp + 32;
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 32;
    if (cp >= 0x100 && cp <= 0x137 && cp % 2 == 0) return cp + 1;
    if (cp >= 0x139 && cp <= 0x148 && cp % 2 == 1) return cp + 1;
    if (cp >= 0x14A && cp <= 0x177 && cp % 2 == 0) return cp + 1;
    if (cp == 0x178) return 0xFF;
    if (cp >= 0x179 && cp <= 0x17E && cp % 2 == 1) return cp + 1;
    if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 32;
    if (cp >= 0x410 && cp <= 0x42F) return cp + 32;
    if (cp >= 0x400 && cp <= 0x40F) return cp + 80;
    return cp;
}

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string PercentEncodeStrict(std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string PercentDecode(std::string_view text, bool plusAsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else if (c == '+' && plusAsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

QueryPairs ParseQuery(std::string_view query) {
    QueryPairs pairs;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view segment = query.substr(start, end - start);
        if (!segment.empty()) {
            const size_t eq = segment.find('=');
            if (eq == std::string_view::npos) {
                pairs.emplace_back(PercentDecode(segment, true), std::string());
            } else {
                pairs.emplace_back(PercentDecode(segment.substr(0, eq), true),
                                   PercentDecode(segment.substr(eq + 1), true));
            }
        }
        start = end + 1;
    }
    return pairs;
}

std::string QueryValue(const QueryPairs& query, std::string_view name, bool* found) {
    const std::string* value = nullptr;
    for (const auto& [n, v] : query) {
        if (n == name) value = &v;
    }
    if (found) *found = value != nullptr;
    return value ? *value : std::string();
}

std::string SanitizeUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) AppendUtf8(out, NextCodePoint(bytes, i));
    return out;
}

std::string Trim(std::string_view text) {
    const char* space = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) return std::string();
    const size_t last = text.find_last_not_of(space);
    return std::string(text.substr(first, last - first + 1));
}

std::string FoldForMatch(std::string_view utf8) {
    const std::string trimmed = Trim(utf8);
    std::string out;
    out.reserve(trimmed.size());
    size_t i = 0;
    while (i < trimmed.size()) AppendUtf8(out, FoldCodePoint(NextCodePoint(trimmed, i)));
    return out;
}

std::string XmlEscape(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 8);
    AppendXmlEscaped(out, utf8);
    return out;
}

// Runs of ordinary characters are copied whole: replies are mostly plain text.
void AppendXmlEscaped(std::string& out, std::string_view utf8) {
    // The bytes that need more than a copy: & < > " ' and the control characters but tab and breaks.
    static const auto special = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 0x20; ++c) table[c] = c != '\t' && c != '\n' && c != '\r';
        for (unsigned char c : {'&', '<', '>', '"', '\''}) table[c] = true;
        return table;
    }();
    size_t from = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (!special[c]) continue;
        const char* replacement;
        switch (c) {
            case '&':
                replacement = "&amp;";
                break;
            case '<':
                replacement = "&lt;";
                break;
            case '>':
                replacement = "&gt;";
                break;
            case '"':
                replacement = "&quot;";
                break;
            case '\'':
                replacement = "&apos;";
                break;
            default:
                if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') continue;
                replacement = "";  // not allowed in XML 1.0: dropped
        }
        out.append(utf8.data() + from, i - from);
        out += replacement;
        from = i + 1;
    }
    out.append(utf8.data() + from, utf8.size() - from);
}

}  // namespace standin
