// Which pages may read the track, the user name and the password through window.external, and
// replace the credentials: pages of the community site (the configured host), pages on the host
// of a configured first page of the browse pane ("YouTube URL"), and the plug-in's own offline
// pages. Each pane's external object asks this of its own top-level page only (and refuses
// frames and other documents itself); the browse pane asks it before it hands the track and the
// user name to its page.
#pragma once
#include <string_view>

namespace sv {

// Where the offline pages are installed, and their names.
inline constexpr wchar_t kOfflinePagesFolder[] = L"C:\\Program Files\\Sonavire\\Offline";
inline constexpr wchar_t kOfflineBrowsePageName[] = L"OfflineSV.htm";
inline constexpr wchar_t kOfflineAdvertPageName[] = L"OfflineAD.htm";

// A page location (as a browser reports it) is trusted: "http://" or "https://" on exactly the
// trusted host ("host" or "host:port"; with no port given, the scheme's default port also
// matches), without user information; or one of the two offline pages in their installed folder,
// as a path or a "file:" address. The host may name its scheme ("https://host" admits only
// "https://" pages; "http://host" or a bare host admits both).
bool IsTrustedPageLocation(std::wstring_view location, std::wstring_view trustedHost);

// The location is trusted (IsTrustedPageLocation) for the configured community server, with its
// scheme (CommunityServer), or for the origin of the browse pane's configured first page
// (ConfiguredBrowseFirstPage).
bool IsTrustedPage(std::wstring_view location);

}  // namespace sv
