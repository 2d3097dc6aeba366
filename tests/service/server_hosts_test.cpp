// Host settings against the real registry; the end-to-end case reaches the stand-in service
// through the configured host.
#include "service/server_hosts.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/utf.h"
#include "settings/settings.h"
#include "plugin_key_scope.h"
#include "service/http_retriever.h"
#include "service/lyrics_requests.h"

using svtest::PluginKeyScope;

namespace {
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
std::string Narrow(const std::wstring& ascii) { return std::string(ascii.begin(), ascii.end()); }
}  // namespace

TEST(ServerHosts, HostSettingsKeepTheirScheme) {
    auto secure = sv::ParseHostSetting(L" HTTPS://Lyrics.Example.org:8443/ ");
    ASSERT_TRUE(secure.has_value());
    EXPECT_TRUE(secure->secure);
    EXPECT_EQ(secure->Origin(), L"https://Lyrics.Example.org:8443");
    EXPECT_EQ(sv::ParseHostSetting(L"lyrics.example.org")->Origin(), L"http://lyrics.example.org");
    for (const wchar_t* bad : {L"https://", L"ftp://host", L"https://user@host", L"https://host/x", L"file://host"})
        EXPECT_FALSE(sv::ParseHostSetting(bad).has_value()) << Narrow(bad);
}

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
    for (const std::wstring& other :
         {std::wstring(L"http://" + defaultHost + L".org/wiki/"), std::wstring(L"http://elsewhere.example/wiki/"),
          std::wstring(L"about:blank"), std::wstring(L"C:\\Program Files\\Sonavire\\Offline\\OfflineSV.htm")})
        EXPECT_EQ(sv::ResolveCommunityUrl(other), other);

    // A changed value takes effect with the next URL.
    key.SetText(sv::kLyricsHostValue, L"lyrics.local");
    EXPECT_EQ(sv::LyricsServiceUrl("/a"), "http://lyrics.local/a");
}

TEST(ServerHosts, FirstPagesMustBeWebAddresses) {
    PluginKeyScope key;
    key.SetText(sv::kCommunityHostValue, L"https://wiki.local");
    EXPECT_EQ(sv::BrowsePaneFirstPageUrl(), L"https://wiki.local/wiki/wmp/");
    key.SetText(sv::kYouTubeUrlValue, L"HTTPS://videos.example:8443/theatre.htm?x=1#top");
    EXPECT_EQ(sv::BrowsePaneFirstPageUrl(), L"HTTPS://videos.example:8443/theatre.htm?x=1#top");
    // Anything that is not an http or https address on a plain host gets the built-in page.
    for (const wchar_t* refused :
         {L"\\\\server\\share\\page.htm", L"file:///C:/Users/Public/page.htm", L"javascript:alert(1)",
          L"http://user:pw@videos.example/", L"http://videos.example\\@evil/", L"http://videos.example/a b",
          L"http://videos.example/\r\nX: y", L"C:\\page.htm", L"http:///path", L"about:blank"}) {
        key.SetText(sv::kYouTubeUrlValue, refused);
        key.SetText(sv::kAdvertUrlValue, refused);
        EXPECT_EQ(sv::BrowsePaneFirstPageUrl(), L"https://wiki.local/wiki/wmp/") << Narrow(refused);
        EXPECT_EQ(sv::AdvertPaneFirstPageUrl(), L"https://wiki.local/wiki/wmp/lyricsAd.php") << Narrow(refused);
    }
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

namespace {

// The front's throw-away certificate, trusted as a root of this prefix's machine store while the
// scope lives: nothing outside the test ever trusts it.
class TrustedTestRoot {
public:
    explicit TrustedTestRoot(const std::string& derFile) {
        HANDLE file = CreateFileA(derFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        BYTE der[8192];
        DWORD size = 0;
        ReadFile(file, der, sizeof(der), &size, nullptr);
        CloseHandle(file);
        store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
        if (!store_ || !CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der, size,
                                                         CERT_STORE_ADD_REPLACE_EXISTING, &added_))
            return;
        // Written through now, so that a chain engine opening the store later finds it.
        CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    ~TrustedTestRoot() {
        if (added_) CertDeleteCertificateFromStore(added_);  // frees the context too
        if (store_) {
            CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
            CertCloseStore(store_, 0);
        }
    }
    TrustedTestRoot(const TrustedTestRoot&) = delete;
    TrustedTestRoot& operator=(const TrustedTestRoot&) = delete;
    bool trusted() const { return added_ != nullptr; }

private:
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT added_ = nullptr;
};

std::string UnixPathAsWindows(const char* path) {
    std::string windows = std::string("Z:") + path;
    for (char& c : windows)
        if (c == '/') c = '\\';
    return windows;
}

}  // namespace

// No answer through a front whose certificate does not check out. Run in a process of its own
// (below): the system's chain engine keeps the trusted roots it first read for the process's life.
TEST(ServerHosts, DISABLED_NoAnswerFromAnUntrustedFront) {
    const char* front = std::getenv("SONAVIRE_TLS_FRONT");
    ASSERT_NE(front, nullptr);
    PluginKeyScope key;
    key.SetText(sv::kLyricsHostValue, L"https://" + Wide(front));
    const std::string url = sv::LyricsServiceUrl("/sonavire/services/getSupportedLanguages.php");
    sv::HttpRetriever retriever;
    sv::HttpRequest request;
    request.url = url.c_str();
    EXPECT_EQ(retriever.Run(request), nullptr);
    // Refused by the certificate check (a failed request), not for want of a listener (504).
    EXPECT_EQ(request.errorCode, sv::NetworkError::RequestFailed);
}

TEST(ServerHosts, AnHttpsServiceIsReachedOverTlsWithItsCertificateChecked) {
    const char* front = std::getenv("SONAVIRE_TLS_FRONT");
    const char* certificate = std::getenv("SONAVIRE_TLS_CERT");
    ASSERT_TRUE(front && certificate) << "runs behind scripts/with-tls-front.sh";
    {
        // Before the certificate is trusted anywhere, in a fresh process.
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command =
            std::wstring(L"\"") + self +
            L"\" --gtest_also_run_disabled_tests --gtest_filter=ServerHosts.DISABLED_NoAnswerFromAnUntrustedFront";
        STARTUPINFOW startup{sizeof(startup)};
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(
            CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        DWORD code = 1;
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        EXPECT_EQ(code, 0u) << "a front with an untrusted certificate answered";
    }
    PluginKeyScope key;
    key.SetText(sv::kLyricsHostValue, L"https://" + Wide(front));
    const std::string url = sv::LyricsServiceUrl("/sonavire/services/getSupportedLanguages.php");
    EXPECT_EQ(url.rfind("https://localhost:", 0), 0u) << url;

    TrustedTestRoot root(UnixPathAsWindows(certificate));
    ASSERT_TRUE(root.trusted());
    const auto languages = sv::RetrieveWithTimeout(url.c_str());
    ASSERT_TRUE(languages.has_value());
    EXPECT_NE(languages->find("code="), std::string::npos) << *languages;

    // The lyrics themselves, with a cache folder of this run alone so they must come over TLS.
    sv::LyricsDocument song;
    song.SetArtist(u"Blue Harbour");
    song.SetTitle(u"Night Train");
    sv::ServiceQuerySettings settings;
    settings.deviceText = u"1000";
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("sonavire-tls-" + std::to_string(GetCurrentProcessId()));
    const std::wstring folderText = folder.wstring();
    sv::FetchLyrics(song, settings, std::u16string(sv::AsU16(folderText.c_str()), folderText.size()));
    EXPECT_EQ(song.status, sv::LyricsStatus::Timed);
    EXPECT_GT(song.LineCount(), 40);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    // The certificate names "localhost" only: the same front by address is refused.
    std::string byAddress = url;
    byAddress.replace(byAddress.find("localhost"), 9, "127.0.0.1");
    sv::HttpRetriever retriever;
    sv::HttpRequest request;
    request.url = byAddress.c_str();
    EXPECT_EQ(retriever.Run(request), nullptr);
    EXPECT_EQ(request.errorCode, sv::NetworkError::RequestFailed)
        << "the certificate's name, not the connection, refuses it";
}
