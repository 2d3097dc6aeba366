// Lyrics the listener already has: an LRC file beside the song and the lyrics the song carries in
// its tags, read into documents that show as the service's do. No Windows API here; the file
// itself is read and written by own_lyrics_file.h.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "lyrics/lyrics_document.h"

namespace sv {

// What a lookup may fall back on when the service has no lyrics or cannot be reached. Taken on the
// user-interface thread when the lookup starts; the worker reads the file.
struct OwnLyricsSources {
    std::u16string lrcPath;           // "<name>.lrc" beside a local song; empty when the song is not local
    std::u16string taggedLyrics;      // "WM/Lyrics": untimed text
    std::u16string taggedSyncLyrics;  // "WM/Lyrics_Synchronised" as the player gives it (LRC text)
};

// "<name>.lrc" beside the song at a media source URL: a drive path ("C:\Music\a.mp3") or a
// "file:///C:/..." URL (with %XX escapes). None for anything else (streams, shares, no name).
std::optional<std::u16string> LrcPathBeside(std::u16string_view sourceUrl);

// The file name of a path, after its last '\' or '/'.
std::u16string_view FileNameOf(std::u16string_view path);

// Replaces the document's lines with what an LRC text holds: timed lines give status Timed, plain
// lines status Untimed (re-sync can stamp them). False, with the document untouched and why set,
// when the text holds no lyrics.
bool LoadLrcText(LyricsDocument& document, std::string_view utf8, std::string& why);

// The shown lyrics as an LRC file (UTF-8, CRLF): artist and title tags, then one stamped line each.
std::string ToLrcText(const LyricsDocument& document);

}  // namespace sv
