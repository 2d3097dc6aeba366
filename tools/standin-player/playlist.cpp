#include "playlist.h"

#include <windows.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "call_log.h"
#include "base/utf.h"
#include "base/win_handles.h"

namespace sv::standin {
namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string text = Utf16FromUtf8(utf8);
    return std::wstring(text.begin(), text.end());
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

std::optional<double> ParseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    for (char c : text) {
        if (!(c >= '0' && c <= '9') && c != '.') return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

Track Track::Audio(const std::wstring& artist, const std::wstring& title, const std::wstring& album,
                   double lengthSeconds) {
    Track track;
    track.attributes[L"Artist"] = artist;
    track.attributes[L"Title"] = title;
    track.attributes[L"Album"] = album;
    track.attributes[L"MediaType"] = L"audio";
    track.lengthSeconds = lengthSeconds;
    return track;
}

std::wstring Track::Attribute(const std::wstring& name) const {
    const auto found = attributes.find(name);
    return found == attributes.end() ? std::wstring() : found->second;
}

std::wstring Track::Describe() const { return Attribute(L"Artist") + L" - " + Attribute(L"Title"); }

std::optional<double> ParseLength(const std::string& text) {
    double total = 0.0;
    size_t start = 0;
    int parts = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        const std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        const std::optional<double> value = ParseNumber(part);
        if (!value) return std::nullopt;
        total = total * 60.0 + *value;
        if (++parts > 3) return std::nullopt;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return total;
}

std::optional<std::vector<Track>> ParsePlaylist(const std::string& utf8Text, std::string& error) {
    std::vector<Track> tracks;
    size_t start = 0;
    int lineNumber = 0;
    // A byte-order mark from an editor is not part of the first artist.
    if (utf8Text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start <= utf8Text.size()) {
        size_t end = utf8Text.find('\n', start);
        if (end == std::string::npos) end = utf8Text.size();
        std::string line = utf8Text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;

        const std::vector<std::string> fields = SplitTabs(line);
        if (fields.size() > 6) {
            error = Printf("line %d: more than 6 TAB-separated fields", lineNumber);
            return std::nullopt;
        }
        Track track = Track::Audio(Wide(fields[0]), fields.size() > 1 ? Wide(fields[1]) : std::wstring(),
                                   fields.size() > 2 ? Wide(fields[2]) : std::wstring(), 60.0);
        if (fields.size() > 3 && !fields[3].empty()) track.attributes[L"MediaType"] = Wide(fields[3]);
        if (fields.size() > 4) {
            const std::optional<double> length = ParseLength(fields[4]);
            if (!length || *length <= 0.0) {
                error =
                    Printf("line %d: length \"%s\" is not a positive number of seconds", lineNumber, fields[4].c_str());
                return std::nullopt;
            }
            track.lengthSeconds = *length;
        }
        if (fields.size() > 5) track.sourceUrl = Wide(fields[5]);
        tracks.push_back(std::move(track));
    }
    return tracks;
}

std::optional<std::vector<Track>> LoadPlaylistFile(const std::wstring& path, std::string& error) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = Printf("cannot open the playlist (error %lu)", GetLastError());
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    return ParsePlaylist(text, error);
}

}  // namespace sv::standin
