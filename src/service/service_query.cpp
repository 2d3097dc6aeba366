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
        if (document->sourceKind == kSourceVideoPage) values.videoSource = kVideoSourceYouTube;
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
        {"lang", &QueryValues::language},   {"artist", &QueryValues::artist},     {"title", &QueryValues::title},
        {"album", &QueryValues::album},     {"videoId", &QueryValues::videoId},   {"vidSrc", &QueryValues::videoSource},
        {"user", &QueryValues::user},       {"device", &QueryValues::device},     {"resolution", &QueryValues::resolution},
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

// The community pages take their values as text, but the characters that would end a value or
// the URL, or that the site decodes, are escaped as in the service's queries: "Rock & Roll" would
// otherwise search for "Rock ".
std::u16string EscapeCommunityValue(const std::u16string& value) {
    static constexpr char16_t kHexDigits[] = u"0123456789abcdef";
    std::u16string out;
    out.reserve(value.size());
    for (char16_t c : value) {
        if (c == u'&' || c == u'#' || c == u'%' || c == u'+') {
            out += u'%';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::u16string BuildCommunityQuery(const LyricsDocument* document, const ServiceQuerySettings& settings) {
    std::u16string query = JoinQuery<std::u16string>(ValuesOf(document, settings), EscapeCommunityValue);
    if (query.size() > kCommunityQueryMaxLength) {
        size_t length = kCommunityQueryMaxLength;
        // A high surrogate left at the end would stand alone.
        if (query[length - 1] >= 0xD800 && query[length - 1] <= 0xDBFF) --length;
        query.resize(length);
    }
    return query;
}

bool CommunityPageTakesQuery(int stringId) {
    return stringId == IDS_PAGE_LYRICS_SEARCH || stringId == IDS_PAGE_TOP_50 || stringId == IDS_PAGE_MUSIC_NEAR_YOU;
}

}  // namespace sv
