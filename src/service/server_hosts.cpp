#include "service/server_hosts.h"

#include "base/utf.h"
#include "settings/settings.h"

namespace sv {
namespace {

constexpr std::wstring_view kHttpScheme = L"http://";

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsHostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_';
}

bool IsAsciiDigits(std::wstring_view text) {
    if (text.empty() || text.size() > 5) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
    return true;
}

std::wstring ConfiguredHost(const wchar_t* valueName, const wchar_t* fallback) {
    if (auto stored = ReadPluginText(valueName)) {
        std::wstring host = NormaliseHostSetting(*stored);
        if (!host.empty()) return host;
    }
    return fallback;
}

std::wstring StoredPageOr(const wchar_t* valueName, std::wstring_view defaultPath) {
    std::wstring stored = ReadPluginText(valueName).value_or(std::wstring());
    return stored.empty() ? CommunityUrl(defaultPath) : stored;
}

}  // namespace

const wchar_t* DefaultLyricsHost() { return L"" SV_DEFAULT_LYRICS_HOST; }
const wchar_t* DefaultCommunityHost() { return L"" SV_DEFAULT_COMMUNITY_HOST; }

std::wstring NormaliseHostSetting(std::wstring_view value) {
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    if (StartsWithIgnoringCase(value, kHttpScheme)) value.remove_prefix(kHttpScheme.size());
    if (!value.empty() && value.back() == L'/') value.remove_suffix(1);

    std::wstring_view name = value;
    if (const size_t colon = value.find(L':'); colon != std::wstring_view::npos) {
        if (!IsAsciiDigits(value.substr(colon + 1))) return {};
        name = value.substr(0, colon);
    }
    if (name.empty()) return {};
    for (wchar_t c : name)
        if (!IsHostCharacter(c)) return {};
    return std::wstring(value);
}

std::wstring LyricsHost() { return ConfiguredHost(kLyricsHostValue, DefaultLyricsHost()); }
std::wstring CommunityHost() { return ConfiguredHost(kCommunityHostValue, DefaultCommunityHost()); }

std::string LyricsServiceUrl(const char* pathAndQuery) {
    const std::wstring host = LyricsHost();
    std::string url = "http://";
    url += Utf8FromUtf16(AsU16View(host.data(), host.size()));  // ASCII by NormaliseHostSetting
    if (pathAndQuery) url += pathAndQuery;
    return url;
}

std::wstring CommunityUrl(std::wstring_view path) {
    std::wstring url(kHttpScheme);
    url += CommunityHost();
    url += path;
    return url;
}

std::wstring ResolveCommunityUrl(std::wstring_view tableUrl) {
    const std::wstring_view defaultHost = DefaultCommunityHost();
    if (!StartsWithIgnoringCase(tableUrl, kHttpScheme)) return std::wstring(tableUrl);
    std::wstring_view rest = tableUrl.substr(kHttpScheme.size());
    if (!StartsWithIgnoringCase(rest, defaultHost)) return std::wstring(tableUrl);
    rest.remove_prefix(defaultHost.size());
    // Only the whole host: "community.sonavire.example.org" is someone else's.
    if (!rest.empty() && rest.front() != L'/' && rest.front() != L'?' && rest.front() != L'#')
        return std::wstring(tableUrl);
    std::wstring url(kHttpScheme);
    url += CommunityHost();
    url += rest;
    return url;
}

std::wstring BrowsePaneFirstPageUrl() { return StoredPageOr(kYouTubeUrlValue, L"/wiki/wmp/"); }
std::wstring AdvertPaneFirstPageUrl() { return StoredPageOr(kAdvertUrlValue, L"/wiki/wmp/lyricsAd.php"); }

}  // namespace sv
