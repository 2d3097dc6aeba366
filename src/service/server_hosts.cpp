#include "service/server_hosts.h"

#include "base/hresult.h"
#include "base/utf.h"
#include "settings/settings.h"

namespace sv {
namespace {

constexpr std::wstring_view kHttpScheme = L"http://";
constexpr std::wstring_view kHttpsScheme = L"https://";

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }
bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool IsHostCharacter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' || c == L'-' ||
           c == L'_';
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

// "host" or "host:port" with a port of digits.
bool IsAuthority(std::wstring_view value) {
    std::wstring_view name = value;
    if (const size_t colon = value.find(L':'); colon != std::wstring_view::npos) {
        if (!IsAsciiDigits(value.substr(colon + 1))) return false;
        name = value.substr(0, colon);
    }
    if (name.empty()) return false;
    for (wchar_t c : name)
        if (!IsHostCharacter(c)) return false;
    return true;
}

// Drops a leading "http://" or "https://"; tells which, if any.
std::optional<bool> StripScheme(std::wstring_view& value) {
    if (StartsWithIgnoringCase(value, kHttpsScheme)) {
        value.remove_prefix(kHttpsScheme.size());
        return true;
    }
    if (StartsWithIgnoringCase(value, kHttpScheme)) {
        value.remove_prefix(kHttpScheme.size());
        return false;
    }
    return std::nullopt;
}

ServerAddress ConfiguredServer(const wchar_t* valueName, const wchar_t* fallback) {
    if (auto stored = ReadPluginText(valueName)) {
        if (auto server = ParseHostSetting(*stored)) return *server;
    }
    return ServerAddress{false, fallback};
}

std::wstring StoredPageOr(const wchar_t* valueName, std::wstring_view defaultPath) {
    std::wstring stored = ReadPluginText(valueName).value_or(std::wstring());
    if (!stored.empty() && IsAcceptableFirstPage(stored)) return stored;
    if (!stored.empty()) {
        // The built-in page shows instead; the value's name says which setting was refused.
        std::string where = "first page from ";
        for (const wchar_t* c = valueName; *c; ++c) where += static_cast<char>(*c);  // ASCII names
        ReportFailure(where.c_str(), E_INVALIDARG);
    }
    return CommunityUrl(defaultPath);
}

}  // namespace

std::wstring ServerAddress::Origin() const {
    std::wstring origin(secure ? kHttpsScheme : kHttpScheme);
    origin += host;
    return origin;
}

const wchar_t* DefaultLyricsHost() { return L"" SV_DEFAULT_LYRICS_HOST; }
const wchar_t* DefaultCommunityHost() { return L"" SV_DEFAULT_COMMUNITY_HOST; }

std::optional<ServerAddress> ParseHostSetting(std::wstring_view value) {
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
    const bool secure = StripScheme(value).value_or(false);
    if (!value.empty() && value.back() == L'/') value.remove_suffix(1);
    if (!IsAuthority(value)) return std::nullopt;
    return ServerAddress{secure, std::wstring(value)};
}

std::wstring NormaliseHostSetting(std::wstring_view value) {
    auto server = ParseHostSetting(value);
    return server ? server->host : std::wstring();
}

ServerAddress LyricsServer() { return ConfiguredServer(kLyricsHostValue, DefaultLyricsHost()); }
ServerAddress CommunityServer() { return ConfiguredServer(kCommunityHostValue, DefaultCommunityHost()); }
std::wstring LyricsHost() { return LyricsServer().host; }
std::wstring CommunityHost() { return CommunityServer().host; }

std::string LyricsServiceUrl(const char* pathAndQuery) {
    const std::wstring origin = LyricsServer().Origin();
    std::string url = Utf8FromUtf16(AsU16View(origin.data(), origin.size()));  // ASCII by ParseHostSetting
    if (pathAndQuery) url += pathAndQuery;
    return url;
}

std::wstring CommunityUrl(std::wstring_view path) {
    std::wstring url = CommunityServer().Origin();
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
    std::wstring url = CommunityServer().Origin();
    url += rest;
    return url;
}

bool IsAcceptableFirstPage(std::wstring_view url) {
    if (!StripScheme(url)) return false;
    for (wchar_t c : url)
        if (c <= L' ' || c == 0x7F || c == L'\\') return false;
    const std::wstring_view authority = url.substr(0, url.find_first_of(L"/?#"));
    return IsAuthority(authority);
}

std::wstring ConfiguredBrowseFirstPage() {
    std::wstring stored = ReadPluginText(kYouTubeUrlValue).value_or(std::wstring());
    return IsAcceptableFirstPage(stored) ? stored : std::wstring();
}

std::wstring BrowsePaneFirstPageUrl() { return StoredPageOr(kYouTubeUrlValue, L"/wiki/wmp/"); }
std::wstring AdvertPaneFirstPageUrl() { return StoredPageOr(kAdvertUrlValue, L"/wiki/wmp/lyricsAd.php"); }

}  // namespace sv
