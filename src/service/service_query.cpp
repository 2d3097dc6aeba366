#include "service/service_query.h"

#include "lyrics/lyrics_document.h"
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

QueryValues ValuesOf(const LyricsDocument* document, const ServiceQuerySettings& settings) {
    QueryValues values;
    if (document) {
        values.language = document->Language();
        values.artist = document->Artist();
        values.title = document->Title();
        values.album = document->Album();
        values.videoId = document->VideoId();
        if (document->sourceKind == kSourceVideoPage) values.videoSource = kVideoSourceYouTube;
    }
    values.user = settings.userName;
    values.device = settings.deviceText;
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

std::u16string BuildCommunityQuery(const LyricsDocument* document, const ServiceQuerySettings& settings) {
    std::u16string query =
        JoinQuery<std::u16string>(ValuesOf(document, settings), [](const std::u16string& value) { return value; });
    if (query.size() > kCommunityQueryMaxLength) {
        size_t length = kCommunityQueryMaxLength;
        // A high surrogate left at the end would stand alone.
        if (query[length - 1] >= 0xD800 && query[length - 1] <= 0xDBFF) --length;
        query.resize(length);
    }
    return query;
}

bool CommunityPageTakesQuery(int stringId) { return stringId == 301 || stringId == 302 || stringId == 309; }

}  // namespace sv
