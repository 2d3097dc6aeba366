#include "service/service_query.h"

#include "lyrics/lyrics_document.h"
#include "resources/resource_ids.h"
#include "service/query_encoding.h"

namespace sv {
namespace {

constexpr char16_t kVideoSourceYouTube[] = u"youtube";

// The values of the nine parameters, in query order, before any escaping.
struct QueryValues {
    std::u16string language, artist, title, album, videoId, videoSource, user, device, resolution;
};

std::u16string Resolution(const ServiceQuerySettings& settings) {
    const std::string ascii = std::to_string(settings.screenWidth) + "x" + std::to_string(settings.screenHeight);
    return std::u16string(ascii.begin(), ascii.end());
}

// A media attribute may hold a NUL; the value ends there. Left in, it would end the whole URL
// where WinINet reads it as a C string, and every parameter after it would be lost.
std::u16string UpToNul(std::u16string text) {
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    return text;
}

QueryValues ValuesOf(const LyricsDocument* document, const ServiceQuerySettings& settings) {
    QueryValues values;
    if (document) {
        values.language = UpToNul(document->Language());
        values.artist = UpToNul(document->Artist());
        values.title = UpToNul(document->Title());
        values.album = UpToNul(document->Album());
        values.videoId = UpToNul(document->VideoId());
        if (document->sourceKind == MediaSource::VideoPage) values.videoSource = kVideoSourceYouTube;
    }
    values.user = UpToNul(settings.userName);
    values.device = UpToNul(settings.deviceText);
    values.resolution = Resolution(settings);
    return values;
}

template <class Text, class Encode>
Text JoinQuery(const QueryValues& values, Encode encode) {
    struct Parameter {
        const char* name;
        const std::u16string QueryValues::*value;
    };
    static const Parameter kParameters[] = {
        {"lang", &QueryValues::language}, {"artist", &QueryValues::artist},   {"title", &QueryValues::title},
        {"album", &QueryValues::album},   {"videoId", &QueryValues::videoId}, {"vidSrc", &QueryValues::videoSource},
        {"user", &QueryValues::user},     {"device", &QueryValues::device},   {"resolution", &QueryValues::resolution},
    };
    Text query;
    for (const Parameter& parameter : kParameters) {
        if (!query.empty()) query += '&';
        for (const char* c = parameter.name; *c; ++c) query += static_cast<typename Text::value_type>(*c);
        query += '=';
        query += encode(values.*parameter.value);
    }
    return query;
}

}  // namespace

std::string BuildServiceQuery(const LyricsDocument* document, const ServiceQuerySettings& settings) {
    return JoinQuery<std::string>(ValuesOf(document, settings),
                                  [](const std::u16string& value) { return EncodeQueryValue(value); });
}

std::string BuildServiceUrl(const LyricsDocument* document, const char* base, const ServiceQuerySettings& settings) {
    std::string url = base ? base : "";
    url += BuildServiceQuery(document, settings);
    return url;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte escaped as "%XX" just before end, or -1.
int EscapedByteBefore(const std::string& query, size_t end) {
    if (end < 3 || query[end - 3] != '%') return -1;
    const int high = HexValue(query[end - 2]);
    const int low = HexValue(query[end - 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Where an escaped query may be cut at or before limit: never inside an escape ("%4" would change
// the value's last byte) nor inside a character's UTF-8 (the cut value stays valid UTF-8).
size_t EscapedCutPoint(const std::string& query, size_t limit) {
    size_t end = limit;
    if (query[end - 1] == '%')
        end -= 1;
    else if (end >= 2 && query[end - 2] == '%')
        end -= 2;
    size_t continuations = 0;
    size_t lead = end;
    int byte;
    while ((byte = EscapedByteBefore(query, lead)) >= 0x80 && byte < 0xC0) {
        lead -= 3;
        ++continuations;
    }
    if (byte < 0xC0) return lead == end ? end : lead;  // stray continuation bytes go
    const size_t expected = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
    return continuations == expected ? end : lead - 3;
}

}  // namespace

std::u16string BuildCommunityQuery(const LyricsDocument* document, const ServiceQuerySettings& settings) {
    // Escaped as the service's queries are: the pages decode their values the same way, and a
    // value can neither end the query nor carry a line break into the address.
    std::string query = BuildServiceQuery(document, settings);
    if (query.size() > kCommunityQueryMaxLength) query.resize(EscapedCutPoint(query, kCommunityQueryMaxLength));
    return std::u16string(query.begin(), query.end());
}

bool CommunityPageTakesQuery(int stringId) {
    return stringId == IDS_PAGE_LYRICS_SEARCH || stringId == IDS_PAGE_TOP_50 || stringId == IDS_PAGE_MUSIC_NEAR_YOU;
}

}  // namespace sv
