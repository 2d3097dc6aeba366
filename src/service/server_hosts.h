// Where the lyrics service and the community site are. Every URL the plug-in builds for either
// server goes through here.
//
// The hosts are compiled in (SONAVIRE_LYRICS_HOST, SONAVIRE_COMMUNITY_HOST); the REG_SZ values
// "Lyrics Host" and "Community Host" under the plug-in's key ("host" or "host:port") replace them
// when present and well-formed. The values are read on every call, so a changed value takes effect
// with the next URL built, without a restart and without a cache to refresh.
#pragma once
#include <string>
#include <string_view>

namespace sv {

inline constexpr wchar_t kLyricsHostValue[] = L"Lyrics Host";
inline constexpr wchar_t kCommunityHostValue[] = L"Community Host";

const wchar_t* DefaultLyricsHost();
const wchar_t* DefaultCommunityHost();

// The configured host ("host" or "host:port"): the registry value, else the compiled-in default.
std::wstring LyricsHost();
std::wstring CommunityHost();

// A registry value as a host: surrounding blanks, a leading "http://" and trailing "/" are
// dropped; what remains must be a host name or address with an optional port, else it is empty
// (and the compiled-in default is used).
std::wstring NormaliseHostSetting(std::wstring_view value);

// "http://" + lyrics host + pathAndQuery, e.g. "/sonavire/services/getSupportedLanguages.php".
std::string LyricsServiceUrl(const char* pathAndQuery);
// "http://" + community host + path, e.g. "/wiki/wmp/".
std::wstring CommunityUrl(std::wstring_view path);
// A page address from the string table holds the compiled-in community host; this puts the
// configured one in its place. Addresses on any other host are returned unchanged.
std::wstring ResolveCommunityUrl(std::wstring_view tableUrl);

// First pages of the browse and advert panes: "YouTube URL" and "Advert URL" when stored and not
// empty, else the community pages "/wiki/wmp/" and "/wiki/wmp/lyricsAd.php".
std::wstring BrowsePaneFirstPageUrl();
std::wstring AdvertPaneFirstPageUrl();

}  // namespace sv
