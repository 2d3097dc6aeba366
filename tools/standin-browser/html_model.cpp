#include "html_model.h"

#include <cwctype>
#include <map>
#include <optional>

namespace sv::standin {
namespace {

wchar_t Lower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring LowerCase(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = Lower(c);
    return out;
}

// Position of needle (lower case) in text from `from`, ignoring case; npos when absent.
size_t FindIgnoringCase(std::wstring_view text, std::wstring_view needle, size_t from) {
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && Lower(text[i + k]) == needle[k]) ++k;
        if (k == needle.size()) return i;
    }
    return std::wstring_view::npos;
}

bool IsNameCharacter(wchar_t c) { return std::iswalnum(c) || c == L'-' || c == L'_' || c == L':'; }
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f'; }

bool IsBlockTag(const std::wstring& tag) {
    static const wchar_t* const kBlocks[] = {L"p",  L"div", L"h1", L"h2", L"h3",    L"h4",   L"br",      L"tr",
                                             L"li", L"ul",  L"ol", L"hr", L"table", L"form", L"textarea"};
    for (const wchar_t* block : kBlocks)
        if (tag == block) return true;
    return false;
}

bool IsVoidTag(const std::wstring& tag) {
    static const wchar_t* const kVoid[] = {L"input", L"br", L"img", L"meta", L"hr", L"link"};
    for (const wchar_t* name : kVoid)
        if (tag == name) return true;
    return false;
}

struct Tag {
    std::wstring name;  // lower case
    bool closing = false;
    std::map<std::wstring, std::wstring> attributes;  // names in lower case, values decoded
};

// Reads the tag starting at html[at] == '<'; returns the position after its '>'.
size_t ReadTag(std::wstring_view html, size_t at, Tag& tag) {
    size_t i = at + 1;
    if (i < html.size() && html[i] == L'/') {
        tag.closing = true;
        ++i;
    }
    const size_t nameStart = i;
    while (i < html.size() && IsNameCharacter(html[i])) ++i;
    tag.name = LowerCase(html.substr(nameStart, i - nameStart));
    while (i < html.size() && html[i] != L'>') {
        if (IsBlank(html[i]) || html[i] == L'/') {
            ++i;
            continue;
        }
        const size_t attributeStart = i;
        while (i < html.size() && !IsBlank(html[i]) && html[i] != L'=' && html[i] != L'>') ++i;
        const std::wstring name = LowerCase(html.substr(attributeStart, i - attributeStart));
        std::wstring value;
        if (i < html.size() && html[i] == L'=') {
            ++i;
            if (i < html.size() && (html[i] == L'"' || html[i] == L'\'')) {
                const wchar_t quote = html[i++];
                const size_t end = html.find(quote, i);
                value = DecodeEntities(html.substr(i, end == std::wstring_view::npos ? html.size() - i : end - i));
                i = end == std::wstring_view::npos ? html.size() : end + 1;
            } else {
                const size_t valueStart = i;
                while (i < html.size() && !IsBlank(html[i]) && html[i] != L'>') ++i;
                value = DecodeEntities(html.substr(valueStart, i - valueStart));
            }
        }
        if (!name.empty()) tag.attributes[name] = value;
    }
    return i < html.size() ? i + 1 : html.size();
}

// The text between here and the closing tag `</name`, and the position after that tag.
std::wstring_view ContentUntilClosing(std::wstring_view html, size_t& at, const wchar_t* closing) {
    const size_t end = FindIgnoringCase(html, closing, at);
    const std::wstring_view content = html.substr(at, end == std::wstring_view::npos ? html.size() - at : end - at);
    if (end == std::wstring_view::npos) {
        at = html.size();
    } else {
        const size_t close = html.find(L'>', end);
        at = close == std::wstring_view::npos ? html.size() : close + 1;
    }
    return content;
}

std::wstring CollapseBlanks(std::wstring_view text) {
    std::wstring out;
    bool blank = false;
    for (wchar_t c : text) {
        if (IsBlank(c)) {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += L' ';
        blank = false;
        out += c;
    }
    return out;
}

}  // namespace

std::wstring DecodeEntities(std::wstring_view text) {
    static const struct {
        const wchar_t* name;
        wchar_t character;
    } kNamed[] = {{L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}, {L"nbsp", L' '}};
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t end = text[i] == L'&' ? text.find(L';', i) : std::wstring_view::npos;
        if (end == std::wstring_view::npos || end - i > 10) {
            out += text[i];
            continue;
        }
        const std::wstring_view entity = text.substr(i + 1, end - i - 1);
        bool decoded = false;
        if (entity.size() > 1 && entity[0] == L'#') {
            const bool hex = entity[1] == L'x' || entity[1] == L'X';
            unsigned long code = 0;
            bool digits = entity.size() > (hex ? 2u : 1u);
            for (size_t k = hex ? 2 : 1; k < entity.size() && digits; ++k) {
                const wchar_t c = Lower(entity[k]);
                const int digit = c >= L'0' && c <= L'9'          ? c - L'0'
                                  : hex && c >= L'a' && c <= L'f' ? c - L'a' + 10
                                                                  : -1;
                digits = digit >= 0 && code < 0x110000;
                code = code * (hex ? 16 : 10) + static_cast<unsigned long>(digit < 0 ? 0 : digit);
            }
            if (digits && code > 0 && code < 0x110000) {
                if (code >= 0x10000) {
                    code -= 0x10000;
                    out += static_cast<wchar_t>(0xD800 + (code >> 10));
                    out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
                } else {
                    out += static_cast<wchar_t>(code);
                }
                decoded = true;
            }
        } else {
            for (const auto& named : kNamed) {
                if (entity == named.name) {
                    out += named.character;
                    decoded = true;
                    break;
                }
            }
        }
        if (decoded) {
            i = end;
        } else {
            out += text[i];
        }
    }
    return out;
}

HtmlPage ParseHtml(std::wstring_view html) {
    HtmlPage page;
    struct Capture {
        std::wstring id, tag;
        int depth = 1;
    };
    std::optional<Capture> capture;
    const auto emit = [&](const std::wstring& text) {
        if (capture) {
            page.elements[capture->id].text += text;
        } else if (!page.pieces.empty() && page.pieces.back().elementId.empty()) {
            page.pieces.back().text += text;
        } else {
            page.pieces.push_back({text, L""});
        }
    };

    size_t i = 0;
    while (i < html.size()) {
        if (html[i] != L'<') {
            const size_t next = html.find(L'<', i);
            const size_t end = next == std::wstring_view::npos ? html.size() : next;
            emit(DecodeEntities(html.substr(i, end - i)));
            i = end;
            continue;
        }
        if (html.compare(i, 4, L"<!--") == 0) {
            const size_t end = html.find(L"-->", i + 4);
            i = end == std::wstring_view::npos ? html.size() : end + 3;
            continue;
        }
        if (i + 1 < html.size() && (html[i + 1] == L'!' || html[i + 1] == L'?')) {
            const size_t end = html.find(L'>', i);
            i = end == std::wstring_view::npos ? html.size() : end + 1;
            continue;
        }
        Tag tag;
        const size_t after = ReadTag(html, i, tag);
        if (tag.name.empty()) {
            emit(L"<");
            ++i;
            continue;
        }
        i = after;
        if (!tag.closing && tag.name == L"script") {
            page.scripts.emplace_back(ContentUntilClosing(html, i, L"</script"));
            continue;
        }
        if (!tag.closing && tag.name == L"iframe") {
            // What stands between the tags is for browsers without frames.
            if (!tag.attributes[L"src"].empty()) page.frames.push_back(tag.attributes[L"src"]);
            ContentUntilClosing(html, i, L"</iframe");
            continue;
        }
        if (!tag.closing && tag.name == L"style") {
            ContentUntilClosing(html, i, L"</style");
            continue;
        }
        if (!tag.closing && tag.name == L"title") {
            page.title = CollapseBlanks(DecodeEntities(ContentUntilClosing(html, i, L"</title")));
            continue;
        }
        if (capture && tag.name == capture->tag) {
            capture->depth += tag.closing ? -1 : 1;
            if (capture->depth == 0) {
                capture.reset();
                if (IsBlockTag(tag.name)) emit(L"\n");
                continue;
            }
        }
        if (IsBlockTag(tag.name)) emit(capture ? L" " : L"\n");
        if (tag.name == L"td" || tag.name == L"th" || tag.name == L"option") emit(L" ");
        if (tag.name == L"button") emit(tag.closing ? L"]" : L" [");
        const auto id = tag.attributes.find(L"id");
        if (tag.closing || capture || id == tag.attributes.end() || id->second.empty()) continue;
        HtmlElement& element = page.elements[id->second];
        element.tag = tag.name;
        element.text.clear();
        element.value = tag.attributes.count(L"value") ? tag.attributes[L"value"] : L"";
        if (IsVoidTag(tag.name)) continue;
        page.pieces.push_back({L"", id->second});
        capture = Capture{id->second, tag.name};
    }
    return page;
}

std::wstring HtmlPage::VisibleText() const {
    std::wstring joined;
    for (const Piece& piece : pieces) {
        if (piece.elementId.empty()) {
            joined += piece.text;
        } else if (const auto found = elements.find(piece.elementId); found != elements.end()) {
            joined += found->second.text;
        }
    }
    std::wstring out;
    size_t start = 0;
    while (start <= joined.size()) {
        const size_t end = std::min(joined.find(L'\n', start), joined.size());
        const std::wstring line = CollapseBlanks(std::wstring_view(joined).substr(start, end - start));
        if (!line.empty()) {
            if (!out.empty()) out += L'\n';
            out += line;
        }
        start = end + 1;
    }
    return out;
}

}  // namespace sv::standin
