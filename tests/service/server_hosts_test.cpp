// Host settings against the real registry; the end-to-end case reaches the stand-in service
// through the configured host.
#include "service/server_hosts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/utf.h"
#include "settings/settings.h"
#include "plugin_key_scope.h"
#include "service/http_retriever.h"

using svtest::PluginKeyScope;

namespace {
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }
}  // namespace

TEST(ServerHosts, HostSettingsAreNormalisedOrRejected) {
    using sv::NormaliseHostSetting;
    EXPECT_EQ(NormaliseHostSetting(L"lyrics.example.org"), L"lyrics.example.org");
    EXPECT_EQ(NormaliseHostSetting(L"127.0.0.1:8080"), L"127.0.0.1:8080");
    EXPECT_EQ(NormaliseHostSetting(L"  my-host_1:80 "), L"my-host_1:80");
    EXPECT_EQ(NormaliseHostSetting(L"HTTP://Lyrics.Example.org:81/"), L"Lyrics.Example.org:81");
    for (const wchar_t* bad : {L"", L"   ", L"http://", L"host/path", L"host:", L"host:80a", L"host:123456",
                               L"user@host", L"a b", L"host?x", L"host#x", L":80", L"h\u00f6st"})
        EXPECT_EQ(NormaliseHostSetting(bad), L"") << Narrow(bad);
}

TEST(ServerHosts, CompiledInDefaultsWithoutOverrides) {
    PluginKeyScope key;
    const std::string lyricsHost = Narrow(sv::DefaultLyricsHost());
    EXPECT_EQ(lyricsHost, "lyrics.sonavire.example");
    EXPECT_EQ(std::wstring(sv::DefaultCommunityHost()), L"community.sonavire.example");
    EXPECT_EQ(sv::LyricsServiceUrl("/sonavire/services/getSupportedLanguages.php"),
              "http://" + lyricsHost + "/sonavire/services/getSupportedLanguages.php");
    EXPECT_EQ(sv::CommunityUrl(L"/wiki/wmp/"), std::wstring(L"http://") + sv::DefaultCommunityHost() + L"/wiki/wmp/");
    // Empty and malformed values count as missing.
    key.SetText(sv::kLyricsHostValue, L"");
    key.SetText(sv::kCommunityHostValue, L"not a host/");
    EXPECT_EQ(sv::LyricsHost(), sv::DefaultLyricsHost());
    EXPECT_EQ(sv::CommunityHost(), sv::DefaultCommunityHost());
    // Without the key at all.
    svtest::DeletePluginKey();
    EXPECT_EQ(sv::LyricsHost(), sv::DefaultLyricsHost());
}

TEST(ServerHosts, RegistryValuesMoveEveryUrl) {
    PluginKeyScope key;
    key.SetText(sv::kLyricsHostValue, L"127.0.0.1:8080");
    key.SetText(sv::kCommunityHostValue, L"wiki.local:81");
    EXPECT_EQ(sv::LyricsServiceUrl("/sonavire/services/getLyricXML_2?lang=fr"),
              "http://127.0.0.1:8080/sonavire/services/getLyricXML_2?lang=fr");
    EXPECT_EQ(sv::CommunityUrl(L"/wiki/wmp/lyricsAd.php"), L"http://wiki.local:81/wiki/wmp/lyricsAd.php");

    // Page addresses from the string table carry the compiled-in host.
    const std::wstring defaultHost = sv::DefaultCommunityHost();
    EXPECT_EQ(sv::ResolveCommunityUrl(L"http://" + defaultHost + L"/wiki/top50.php?"),
              L"http://wiki.local:81/wiki/top50.php?");
    EXPECT_EQ(sv::ResolveCommunityUrl(L"HTTP://" + defaultHost + L"/wiki/"), L"http://wiki.local:81/wiki/");
    EXPECT_EQ(sv::ResolveCommunityUrl(L"http://" + defaultHost), L"http://wiki.local:81");
    // Other hosts, and hosts that merely start with the default name, are someone else's.
    for (const std::wstring& other : {std::wstring(L"http://" + defaultHost + L".org/wiki/"),
                                      std::wstring(L"http://elsewhere.example/wiki/"), std::wstring(L"about:blank"),
                                      std::wstring(L"C:\\Program Files\\Sonavire\\Offline\\OfflineSV.htm")})
        EXPECT_EQ(sv::ResolveCommunityUrl(other), other);

    // A changed value takes effect with the next URL.
    key.SetText(sv::kLyricsHostValue, L"lyrics.local");
    EXPECT_EQ(sv::LyricsServiceUrl("/a"), "http://lyrics.local/a");
}

TEST(ServerHosts, FirstPagesOfThePanes) {
    PluginKeyScope key;
    key.SetText(sv::kCommunityHostValue, L"wiki.local");
    EXPECT_EQ(sv::BrowsePaneFirstPageUrl(), L"http://wiki.local/wiki/wmp/");
    EXPECT_EQ(sv::AdvertPaneFirstPageUrl(), L"http://wiki.local/wiki/wmp/lyricsAd.php");
    // An empty value counts as missing.
    key.SetText(sv::kYouTubeUrlValue, L"");
    key.SetText(sv::kAdvertUrlValue, L"");
    EXPECT_EQ(sv::BrowsePaneFirstPageUrl(), L"http://wiki.local/wiki/wmp/");
    EXPECT_EQ(sv::AdvertPaneFirstPageUrl(), L"http://wiki.local/wiki/wmp/lyricsAd.php");
    key.SetText(sv::kYouTubeUrlValue, L"http://videos.example/theatre.htm");
    key.SetText(sv::kAdvertUrlValue, L"http://ads.example/");
    EXPECT_EQ(sv::BrowsePaneFirstPageUrl(), L"http://videos.example/theatre.htm");
    EXPECT_EQ(sv::AdvertPaneFirstPageUrl(), L"http://ads.example/");
}

TEST(ServerHosts, TheConfiguredLyricsHostIsTheOneAsked) {
    const char* standin = std::getenv("SONAVIRE_STANDIN");
    ASSERT_NE(standin, nullptr) << "runs with the stand-in service";
    PluginKeyScope key;
    key.SetText(sv::kLyricsHostValue, Wide(standin));
    const std::string url = sv::LyricsServiceUrl("/sonavire/services/getSupportedLanguages.php");
    EXPECT_EQ(url, std::string("http://") + standin + "/sonavire/services/getSupportedLanguages.php");
    const auto reply = sv::RetrieveWithTimeout(url.c_str());
    ASSERT_TRUE(reply.has_value());
    EXPECT_NE(reply->find("code="), std::string::npos) << *reply;
}
