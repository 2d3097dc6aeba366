// Where the lyrics service and the community site are. Every URL the plug-in builds for either
// server goes through here.
//
// The servers are compiled in (SONAVIRE_LYRICS_HOST, SONAVIRE_COMMUNITY_HOST); the REG_SZ values
// "Lyrics Host" and "Community Host" under the plug-in's machine-wide key replace them when
// present and well-formed: "host", "host:port", "http://host[:port]" or "https://host[:port]".
// With "https://" every request to that server goes over TLS, with WinINet's certificate checks.
// The values are read on every call, so a changed value takes effect with the next URL built.
// Only administrators can write the key: none of these decide anything a standard user can change.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace sv {

inline constexpr wchar_t kLyricsHostValue[] = L"Lyrics Host";
inline constexpr wchar_t kCommunityHostValue[] = L"Community Host";

// A server as configured: its scheme and its authority.
struct ServerAddress {
    bool secure = false;  // "https://"
    std::wstring host;    // "host" or "host:port", never empty
    // "http://host" or "https://host".
    std::wstring Origin() const;
};

const wchar_t* DefaultLyricsHost();
const wchar_t* DefaultCommunityHost();

// A host value: surrounding blanks, a leading "http://" or "https://" (any case) and one trailing
// "/" are dropped; what remains must be a host name or address with an optional port. Nothing
// when it is not.
std::optional<ServerAddress> ParseHostSetting(std::wstring_view value);
// The authority of a host value alone ("host" or "host:port"), empty when it is malformed.
std::wstring NormaliseHostSetting(std::wstring_view value);

// The configured server: the registry value, else the compiled-in default (plain HTTP).
ServerAddress LyricsServer();
ServerAddress CommunityServer();
// Their authorities ("host" or "host:port").
std::wstring LyricsHost();
std::wstring CommunityHost();

// The lyrics service's origin + pathAndQuery, e.g. "/sonavire/services/getSupportedLanguages.php".
std::string LyricsServiceUrl(const char* pathAndQuery);
// The community site's origin + path, e.g. "/wiki/wmp/".
std::wstring CommunityUrl(std::wstring_view path);
// A page address from the string table holds the compiled-in community host after "http://";
// this puts the configured origin in its place. Addresses on any other host are returned unchanged.
std::wstring ResolveCommunityUrl(std::wstring_view tableUrl);

// A page address a pane may be sent to first: an absolute "http://" or "https://" address with a
// well-formed host and nothing in it that could change its meaning on the way (no user
// information, blanks, backslashes or control characters). A UNC path, a "file:" or "javascript:"
// address and anything else is refused.
bool IsAcceptableFirstPage(std::wstring_view url);

// First pages of the browse and advert panes: "YouTube URL" and "Advert URL" when stored, not
// empty and acceptable, else the community pages "/wiki/wmp/" and "/wiki/wmp/lyricsAd.php". A
// stored value that is refused is reported to the diagnostics hook.
std::wstring BrowsePaneFirstPageUrl();
std::wstring AdvertPaneFirstPageUrl();
// The stored "YouTube URL" when it is an acceptable first page, else empty; reports nothing (the
// page trust asks on every call of a page).
std::wstring ConfiguredBrowseFirstPage();

}  // namespace sv
