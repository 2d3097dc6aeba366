#include "lyrics/own_lyrics.h"

#include "base/utf.h"
#include "lyrics/lrc_reader.h"

namespace sv {

namespace {

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool IsDrivePath(std::u16string_view path) {
    return path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z')) &&
           path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

// A "file:" URL's path with its escapes undone (UTF-8 bytes), slashes turned round.
std::optional<std::u16string> PathOfFileUrl(std::u16string_view url) {
    constexpr std::u16string_view kScheme = u"file:///";
    if (url.size() < kScheme.size()) return std::nullopt;
    for (size_t i = 0; i < kScheme.size(); ++i) {
        char16_t c = url[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != kScheme[i]) return std::nullopt;
    }
    std::string bytes;
    for (size_t i = kScheme.size(); i < url.size(); ++i) {
        const char16_t c = url[i];
        if (c == u'%' && i + 2 < url.size() && HexValue(url[i + 1]) >= 0 && HexValue(url[i + 2]) >= 0) {
            const int value = HexValue(url[i + 1]) * 16 + HexValue(url[i + 2]);
            if (value == 0) return std::nullopt;  // a NUL would end the path early
            bytes.push_back(static_cast<char>(value));
            i += 2;
        } else {
            bytes += Utf8FromUtf16(std::u16string_view(&url[i], 1));
        }
    }
    std::u16string path = Utf16FromUtf8(bytes);
    for (char16_t& c : path) {
        if (c == u'/') c = u'\\';
    }
    return path;
}

}  // namespace

std::u16string_view FileNameOf(std::u16string_view path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

std::optional<std::u16string> LrcPathBeside(std::u16string_view sourceUrl) {
    std::u16string path;
    if (IsDrivePath(sourceUrl)) {
        path.assign(sourceUrl);
    } else if (std::optional<std::u16string> fromUrl = PathOfFileUrl(sourceUrl)) {
        path = std::move(*fromUrl);
    } else {
        return std::nullopt;
    }
    if (!IsDrivePath(path) || path.find(u'\0') != std::u16string::npos) return std::nullopt;
    const std::u16string_view name = FileNameOf(path);
    if (name.empty()) return std::nullopt;
    const size_t dot = name.find_last_of(u'.');
    // A name that is only an extension (".mp3") keeps it: "<name>" is then the whole name.
    const size_t stem = dot == std::u16string_view::npos || dot == 0 ? name.size() : dot;
    path.resize(path.size() - name.size() + stem);
    path += u".lrc";
    return path;
}

bool LoadLrcText(LyricsDocument& document, std::string_view utf8, std::string& why) {
    const LrcReading reading = ReadLrc(utf8);
    if (reading.timed.empty() && reading.plain.empty()) {
        why = reading.skipped.empty() ? "no lyrics in it"
                                      : "no readable line; line " + std::to_string(reading.skipped.front().number) +
                                            ": " + reading.skipped.front().why;
        return false;
    }
    document.ClearLines();
    if (!reading.timed.empty()) {
        for (const LrcTimedLine& line : reading.timed) {
            document.AddTimedLine(Utf16FromUtf8(line.text), static_cast<double>(line.timeMs));
        }
        document.status = LyricsStatus::Timed;
    } else {
        for (const std::string& line : reading.plain) document.AddTimedLine(Utf16FromUtf8(line), 0);
        document.status = LyricsStatus::Untimed;
    }
    return true;
}

std::string ToLrcText(const LyricsDocument& document) {
    std::string text;
    if (!document.Artist().empty()) text += "[ar:" + Utf8FromUtf16(document.Artist()) + "]\r\n";
    if (!document.Title().empty()) text += "[ti:" + Utf8FromUtf16(document.Title()) + "]\r\n";
    for (int i = 0; i < document.LineCount(); ++i) {
        const LyricLine* line = document.LineAt(i);
        // A line's text ends at its first NUL, as on the wire; a line break would start a new line.
        std::u16string_view words(line->text);
        words = words.substr(0, words.find(u'\0'));
        std::string utf8 = Utf8FromUtf16(words);
        for (char& c : utf8) {
            if (c == '\r' || c == '\n') c = ' ';
        }
        text += FormatLrcStamp(static_cast<long long>(line->time));
        text += utf8;
        text += "\r\n";
    }
    return text;
}

}  // namespace sv
