#include "web/page_trust.h"

#include <windows.h>

#include <string>

#include "service/server_hosts.h"
#include "web/web_browser.h"

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

}  // namespace

bool IsTrustedPageLocation(std::wstring_view location, std::wstring_view communityHost) {
    std::wstring_view rest = location;
    const wchar_t* defaultPort = nullptr;
    if (StripPrefix(rest, L"http://")) {
        defaultPort = L":80";
    } else if (StripPrefix(rest, L"https://")) {
        defaultPort = L":443";
    } else {
        return IsOfflinePage(location);
    }
    const size_t end = rest.find_first_of(L"/?#\\");
    const std::wstring_view authority = rest.substr(0, end);
    // "http://community.example@elsewhere/" is elsewhere; anything but a plain host is refused.
    if (authority.empty() || communityHost.empty() || authority.find(L'@') != std::wstring_view::npos) return false;
    if (EqualIgnoringCase(authority, communityHost)) return true;
    return communityHost.find(L':') == std::wstring_view::npos &&
           EqualIgnoringCase(authority, std::wstring(communityHost) + defaultPort);
}

bool LivePagesAreTrusted() {
    // A copy: asking a control for its location must not meet a list that changed meanwhile.
    const std::vector<CWebBrowser2*> browsers = LiveBrowsers();
    if (browsers.empty()) return false;
    const std::wstring host = CommunityHost();
    for (CWebBrowser2* browser : browsers) {
        if (!IsTrustedPageLocation(browser->LocationUrl(), host)) return false;
    }
    return true;
}

}  // namespace sv
