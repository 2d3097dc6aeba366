// Which pages may read and replace the stored credentials through window.external: pages of the
// community site (the configured host) and the plug-in's own offline pages. Every pane hands its
// pages the same external object, which cannot tell which page is calling, so the credentials are
// answered only while every page shown in a pane is one of these; a pane that follows a link, an
// advertisement or a redirect elsewhere withholds them from all.
#pragma once
#include <string_view>

namespace sv {

// Where the offline pages are installed, and their names.
inline constexpr wchar_t kOfflinePagesFolder[] = L"C:\\Program Files\\Sonavire\\Offline";
inline constexpr wchar_t kOfflineBrowsePageName[] = L"OfflineSV.htm";
inline constexpr wchar_t kOfflineAdvertPageName[] = L"OfflineAD.htm";

// A page location (as a browser reports it) is trusted: "http://" or "https://" on exactly the
// community host ("host" or "host:port"; with no port given, the scheme's default port also
// matches), without user information; or one of the two offline pages in their installed folder,
// as a path or a "file:" address.
bool IsTrustedPageLocation(std::wstring_view location, std::wstring_view communityHost);

// Every browser the module hosts now shows a trusted page, and there is at least one. Reads the
// configured community host (CommunityHost) and each browser's live location.
bool LivePagesAreTrusted();

}  // namespace sv
