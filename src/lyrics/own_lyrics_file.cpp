#include "lyrics/own_lyrics_file.h"

#include "base/hresult.h"
#include "base/utf.h"
#include "base/win_handles.h"

namespace sv {

namespace {

HRESULT LastError() {
    const DWORD code = GetLastError();
    return code ? HRESULT_FROM_WIN32(code) : E_FAIL;
}

bool IsUtf8(std::string_view bytes) {
    if (bytes.empty()) return true;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                               0) > 0;
}

std::string Utf8FromCodePage(std::string_view bytes) {
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return std::string();
    std::u16string wide(static_cast<size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                        reinterpret_cast<wchar_t*>(wide.data()), length);
    return Utf8FromUtf16(wide);
}

void Skip(const char* source, const std::string& why, HRESULT hr) {
    const std::string where = std::string("own lyrics: ") + source + " skipped, " + why;
    ReportFailure(where.c_str(), hr);
}

bool TryText(LyricsDocument& document, const std::string& utf8, const char* source, LyricsOrigin origin) {
    std::string why;
    if (!LoadLrcText(document, utf8, why)) {
        Skip(source, why, E_FAIL);
        return false;
    }
    document.origin = origin;
    return true;
}

}  // namespace

bool ReadLrcFile(const std::u16string& path, std::string& utf8, HRESULT& error) {
    UniqueFileHandle file(CreateFileW(AsWide(path.c_str()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = LastError();
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        error = LastError();
        return false;
    }
    if (size.QuadPart > kMaxLrcFileBytes) {
        error = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        return false;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        error = LastError();
        return false;
    }
    bytes.resize(read);
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string wide((bytes.size() - 2) / 2, u'\0');
        for (size_t i = 0; i < wide.size(); ++i) {
            wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                            static_cast<unsigned char>(bytes[3 + 2 * i]) << 8);
        }
        utf8 = Utf8FromUtf16(wide);
    } else if (IsUtf8(bytes)) {
        utf8 = std::move(bytes);
    } else {
        utf8 = Utf8FromCodePage(bytes);
    }
    error = S_OK;
    return true;
}

bool LoadOwnLyrics(LyricsDocument& document, const OwnLyricsSources& sources) {
    if (!sources.lrcPath.empty()) {
        std::string utf8;
        HRESULT error = S_OK;
        if (ReadLrcFile(sources.lrcPath, utf8, error)) {
            if (TryText(document, utf8, "file", LyricsOrigin::OwnFile)) {
                document.originFile = sources.lrcPath;
                return true;
            }
        } else if (error != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) &&
                   error != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
            // No file beside the song is the usual case, not a failure.
            Skip("file", "cannot be read", error);
        }
    }
    if (!sources.taggedSyncLyrics.empty() &&
        TryText(document, Utf8FromUtf16(sources.taggedSyncLyrics), "synchronised tag", LyricsOrigin::SongTags)) {
        return true;
    }
    if (!sources.taggedLyrics.empty()) {
        // Untimed text: every non-blank line is a line of lyrics, stamps or not.
        return TryText(document, Utf8FromUtf16(sources.taggedLyrics), "lyrics tag", LyricsOrigin::SongTags);
    }
    return false;
}

HRESULT WriteLrcFile(const std::u16string& path, std::string_view utf8) {
    if (utf8.size() > kMaxLrcFileBytes) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    const std::u16string temporary = path + u".sonavire-tmp";
    {
        UniqueFileHandle file(CreateFileW(AsWide(temporary.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return LastError();
        DWORD written = 0;
        const bool ok = WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) &&
                        written == utf8.size();
        if (!ok) {
            const HRESULT hr = LastError();
            file.reset();
            DeleteFileW(AsWide(temporary.c_str()));
            return hr;
        }
    }
    if (!MoveFileExW(AsWide(temporary.c_str()), AsWide(path.c_str()), MOVEFILE_REPLACE_EXISTING)) {
        const HRESULT hr = LastError();
        DeleteFileW(AsWide(temporary.c_str()));
        return hr;
    }
    return S_OK;
}

}  // namespace sv
