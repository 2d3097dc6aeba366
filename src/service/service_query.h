// The query that describes a song to the lyrics service and the community pages: every value as
// UTF-8, fully percent-escaped (query_encoding.h). Needs no Windows API.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace sv {

class LyricsDocument;

// The settings a query carries, copied from the module's record on the user-interface thread so
// that a worker building a query never reads the record while the user signs in or out.
struct ServiceQuerySettings {
    std::u16string userName;  // empty when nobody is signed in
    std::u16string deviceText;
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
};

// "lang=..&artist=..&title=..&album=..&videoId=..&vidSrc=..&user=..&device=..&resolution=WxH":
// all nine parameters, always, in this order, each value UTF-8 and escaped with EncodeQueryValue.
// A value ends at its first NUL.
// Without a document the six document values are empty. vidSrc is "youtube" for a document from
// the video page, else empty.
std::string BuildServiceQuery(const LyricsDocument* document, const ServiceQuerySettings& settings);

// base (which ends in "?") followed by the query above; a null base counts as empty.
std::string BuildServiceUrl(const LyricsDocument* document, const char* base, const ServiceQuerySettings& settings);

// The same nine parameters, escaped the same way, as the wide text of a page address, for the
// community pages that take a query. Cut to kCommunityQueryMaxLength characters, never inside an
// escape or a character's UTF-8.
inline constexpr size_t kCommunityQueryMaxLength = 1024;
std::u16string BuildCommunityQuery(const LyricsDocument* document, const ServiceQuerySettings& settings);

// Whether a community page takes the query: the lyrics search (301), the top 50 (302) and the
// community map (309).
bool CommunityPageTakesQuery(int stringId);

}  // namespace sv
