#include "web/page_trust.h"

#include <windows.h>

#include <string>

#include "service/server_hosts.h"

namespace sv {
namespace {

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool StripPrefix(std::wstring_view& text, std::wstring_view prefix) {
    if (text.size() < prefix.size() || !EqualIgnoringCase(text.substr(0, prefix.size()), prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    c = AsciiLower(c);
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    return -1;
}

// "file:///C:/Program%20Files/..." as the path "C:\Program Files\..."; empty when malformed or
// when an escape names anything but a printable ASCII character.
std::wstring FilePathOfUrl(std::wstring_view url) {
    if (!StripPrefix(url, L"file:")) return std::wstring(url);
    while (!url.empty() && url.front() == L'/') url.remove_prefix(1);
    std::wstring path;
    for (size_t i = 0; i < url.size(); ++i) {
        wchar_t c = url[i];
        if (c == L'%') {
            const int high = i + 2 < url.size() ? HexValue(url[i + 1]) : -1;
            const int low = high >= 0 ? HexValue(url[i + 2]) : -1;
            if (low < 0 || high * 16 + low < 0x20 || high * 16 + low > 0x7E) return {};
            c = static_cast<wchar_t>(high * 16 + low);
            i += 2;
        }
        path += c == L'/' ? L'\\' : c;
    }
    return path;
}

bool IsOfflinePage(std::wstring_view location) {
    const std::wstring path = FilePathOfUrl(location);
    const std::wstring folder = std::wstring(kOfflinePagesFolder) + L"\\";
    return EqualIgnoringCase(path, folder + kOfflineBrowsePageName) ||
           EqualIgnoringCase(path, folder + kOfflineAdvertPageName);
}

// The "scheme://host[:port]" part of an address; empty when it has no "http://" or "https://".
std::wstring_view OriginOf(std::wstring_view url) {
    std::wstring_view rest = url;
    if (!StripPrefix(rest, L"http://") && !StripPrefix(rest, L"https://")) return {};
    const size_t end = rest.find_first_of(L"/?#\\");
    return url.substr(0, url.size() - rest.size() + (end == std::wstring_view::npos ? rest.size() : end));
}

}  // namespace

bool IsTrustedPageLocation(std::wstring_view location, std::wstring_view trustedHost) {
    // A host configured with "https://" trusts nothing that travelled in the clear.
    bool httpAllowed = true;
    if (StripPrefix(trustedHost, L"https://")) {
        httpAllowed = false;
    } else {
        StripPrefix(trustedHost, L"http://");
    }
    std::wstring_view rest = location;
    const wchar_t* defaultPort = nullptr;
    if (StripPrefix(rest, L"http://")) {
        if (!httpAllowed) return false;
        defaultPort = L":80";
    } else if (StripPrefix(rest, L"https://")) {
        defaultPort = L":443";
    } else {
        return IsOfflinePage(location);
    }
    const size_t end = rest.find_first_of(L"/?#\\");
    const std::wstring_view authority = rest.substr(0, end);
    // "http://community.example@elsewhere/" is elsewhere; anything but a plain host is refused.
    if (authority.empty() || trustedHost.empty() || authority.find(L'@') != std::wstring_view::npos) return false;
    if (EqualIgnoringCase(authority, trustedHost)) return true;
    return trustedHost.find(L':') == std::wstring_view::npos &&
           EqualIgnoringCase(authority, std::wstring(trustedHost) + defaultPort);
}

bool IsTrustedPage(std::wstring_view location) {
    // With its scheme: a community site configured as "https://" admits only pages that came so.
    if (IsTrustedPageLocation(location, CommunityServer().Origin())) return true;
    // A first page configured elsewhere (a video site) is trusted on its own host.
    const std::wstring firstPage = ConfiguredBrowseFirstPage();
    const std::wstring_view origin = OriginOf(firstPage);
    return !origin.empty() && IsTrustedPageLocation(location, origin);
}

}  // namespace sv
