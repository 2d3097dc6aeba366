#include "lyrics/lyrics_document.h"

#include "resources/resource_ids.h"

namespace sv {

uint16_t StatusTextId(LyricsStatus status) {
    switch (status) {
        case LyricsStatus::MissingKeys:
            return IDS_STATUS_MISSING_ARTIST_OR_TITLE;
        case LyricsStatus::NotFound:
            return IDS_STATUS_NOT_FOUND;
        case LyricsStatus::Final:
            return IDS_STATUS_TIMING_FINAL;
        case LyricsStatus::ConnectionError:
            return IDS_CONNECTION_ERROR;
        case LyricsStatus::LoginFailed:
            return IDS_NO_CONNECTION_LOGIN_FAILURE;
        case LyricsStatus::ServerUnreachable:
            return IDS_NO_CONNECTION_CANNOT_CONNECT;
        case LyricsStatus::RequestFailed:
            return IDS_NO_CONNECTION_OTHER;
        case LyricsStatus::None:
        case LyricsStatus::Timed:
        case LyricsStatus::Untimed:
        case LyricsStatus::Retimed:
            break;
    }
    return IDS_STATUS_NONE;
}

LyricsDocument::LyricsDocument(const LyricsDocument& other)
    : sourceKind(other.sourceKind),
      status(other.status),
      title(other.title),
      artist(other.artist),
      album(other.album),
      language(other.language),
      videoId(other.videoId),
      version(other.version),
      songLock(other.songLock),
      lastUpdate(other.lastUpdate) {}

void LyricsDocument::AssignHeader(const LyricsDocument& other) {
    if (&other == this) return;
    // Copies first, so that running out of memory leaves this document as it was.
    std::u16string newTitle(other.title), newArtist(other.artist), newAlbum(other.album), newLanguage(other.language),
        newVideoId(other.videoId), newVersion(other.version), newSongLock(other.songLock),
        newLastUpdate(other.lastUpdate);
    title.swap(newTitle);
    artist.swap(newArtist);
    album.swap(newAlbum);
    language.swap(newLanguage);
    videoId.swap(newVideoId);
    version.swap(newVersion);
    songLock.swap(newSongLock);
    lastUpdate.swap(newLastUpdate);
    sourceKind = other.sourceKind;
    status = other.status;
}

void LyricsDocument::Reset() {
    for (std::u16string* text : {&title, &artist, &album, &language, &videoId, &version, &songLock, &lastUpdate})
        text->clear();
    sourceKind = MediaSource::None;
    status = LyricsStatus::None;
}

void LyricsDocument::ClearLines() {
    resyncing = false;
    manualScroll = false;
    lines.clear();
}

const LyricLine* LyricsDocument::LineAt(int index) const {
    if (index < 0 || index >= LineCount()) return nullptr;
    return &lines[static_cast<size_t>(index)];
}

LyricLine* LyricsDocument::LineAt(int index) {
    if (index < 0 || index >= LineCount()) return nullptr;
    return &lines[static_cast<size_t>(index)];
}

bool LyricsDocument::HasLines() const {
    return status == LyricsStatus::Timed || status == LyricsStatus::Untimed || status == LyricsStatus::Retimed;
}

void LyricsDocument::AddLine(std::u16string_view text, std::u16string_view timing) {
    LyricLine line;
    line.time = DecodeTiming(timing);
    line.text.assign(text);
    line.rightToLeft = IsRightToLeft(text);
    lines.push_back(std::move(line));
}

void LyricsDocument::AddTimedLine(std::u16string_view text, double timeMs) {
    LyricLine line;
    line.time = timeMs;
    line.text.assign(text);
    line.rightToLeft = IsRightToLeft(text);
    lines.push_back(std::move(line));
}

std::optional<std::u16string> LyricsDocument::CachePathIn(std::u16string_view folder) const {
    return ComposeCachePath(folder, artist, title, videoId, language);
}

bool LyricsDocument::PassesResyncTest() const {
    if (status != LyricsStatus::Retimed) return false;
    // Nothing to upload without lines.
    if (lines.empty()) return false;
    double previous = -1000.0;
    double twoBack = -2000.0;
    for (const LyricLine& line : lines) {
        const double t = line.time;
        if (t < previous || t - twoBack < 1000.0) return false;
        twoBack = previous;
        previous = t;
    }
    return true;
}

std::optional<std::u16string> LyricsDocument::ToTimedText() const {
    if (lines.empty()) return std::nullopt;
    size_t capacity = 1;
    for (const LyricLine& line : lines) capacity += line.text.size() + 16;
    std::u16string text;
    text.reserve(capacity);
    for (const LyricLine& line : lines) AppendTimedEntry(text, line.time, line.text);
    return text;
}

}  // namespace sv
