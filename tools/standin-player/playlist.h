// The stand-in player's tracks and the playlist file it reads: UTF-8 text, one track a line,
// TAB-separated: artist, title, album, media type, length in seconds ("215", "3:35" or "1.5"),
// source URL (the item's file, such as "C:\Music\a.mp3"; none when left out).
// Trailing fields may be left out (album "", media type "audio", length 60 s); blank lines and
// lines starting with "#" are skipped.
#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sv::standin {

struct Track {
    // Attribute name ("Artist", "Title", "Album", "MediaType") to value; a name that is not here
    // is a missing attribute.
    std::map<std::wstring, std::wstring> attributes;
    double lengthSeconds = 60.0;
    // What get_sourceURL answers: the item's file (a path such as "C:\\Music\\a.mp3") or address;
    // empty as for an item the player has no source for.
    std::wstring sourceUrl;

    static Track Audio(const std::wstring& artist, const std::wstring& title, const std::wstring& album,
                       double lengthSeconds);
    std::wstring Attribute(const std::wstring& name) const;  // empty when missing
    // "Artist - Title", for records and the player's window.
    std::wstring Describe() const;
};

// Parses playlist text; on a malformed line returns nothing and names the line in error.
std::optional<std::vector<Track>> ParsePlaylist(const std::string& utf8Text, std::string& error);
std::optional<std::vector<Track>> LoadPlaylistFile(const std::wstring& path, std::string& error);
// "215", "3:35", "1:02:03" or "1.5" in seconds; nothing when not a non-negative length.
std::optional<double> ParseLength(const std::string& text);

}  // namespace sv::standin
