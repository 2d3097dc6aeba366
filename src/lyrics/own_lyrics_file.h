// The listener's own lyrics on disk and in the song's tags: read on a lookup's worker when the
// service has none, and the shown lyrics written back as an LRC file. Worker threads only: these
// touch the disk.
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

#include "lyrics/own_lyrics.h"

namespace sv {

// Largest LRC file read; anything bigger is not lyrics.
inline constexpr DWORD kMaxLrcFileBytes = 1024 * 1024;

// Fills the document from the first of the sources that holds lyrics: the LRC file, then the
// synchronised tag, then the untimed tag. Sets status, lines and origin. A source that cannot be
// read or holds no lyrics is skipped with a diagnostics line (ReportFailure). False when none had
// lyrics: the document is then untouched.
bool LoadOwnLyrics(LyricsDocument& document, const OwnLyricsSources& sources);

// An LRC file's text as UTF-8: UTF-8 with or without its byte-order mark, UTF-16 with its mark,
// otherwise the system's code page. False (and error set) when it cannot be opened or read or is
// larger than kMaxLrcFileBytes.
bool ReadLrcFile(const std::u16string& path, std::string& utf8, HRESULT& error);

// Writes the text to path, replacing a file there (through a temporary file beside it, so a failed
// write leaves the old one whole). S_OK, or the failure (access denied for a folder the user
// cannot write).
HRESULT WriteLrcFile(const std::u16string& path, std::string_view utf8);

}  // namespace sv
