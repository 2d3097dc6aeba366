// The language list: the service's reply (the stand-in's, and replies it would never give from a
// loopback server), the stored choice in the real registry, and the choice's effect on fetches.
#include "service/languages.h"

#include <gtest/gtest.h>

#include "loopback_server.h"
#include "requests_fixture.h"

using namespace sv;
using namespace svtest;

namespace {

constexpr char kLanguagesPath[] = "/sonavire/services/getSupportedLanguages.php";
constexpr char kFetchPath[] = "/sonavire/services/getLyricXML_2";

std::string HostPortOf(const LoopbackServer& server) { return server.BaseUrl().substr(7); }

class Languages : public RequestsTest {
protected:
    // The names and codes of the list, in order.
    static std::vector<std::pair<std::string, std::string>> Entries(const LanguageList& list) {
        std::vector<std::pair<std::string, std::string>> entries;
        for (const LanguageEntry& entry : list.entries()) entries.emplace_back(Utf8(entry.name), Utf8(entry.code));
        return entries;
    }
    using Entry = std::pair<std::string, std::string>;
};

}  // namespace

TEST_F(Languages, ServiceListGivesIndexesAfterNoTranslation) {
    LanguageList list;
    EXPECT_EQ(FetchLanguages(list), S_OK);
    EXPECT_EQ(Entries(list), (std::vector<Entry>{{"no translation", ""}, {"Deutsch", "de"}, {"Fran\u00e7ais", "fr"}}));
    for (size_t i = 0; i < list.entries().size(); ++i) EXPECT_EQ(list.entries()[i].index, static_cast<int>(i) + 1);
    EXPECT_EQ(list.selected(), 1) << "nothing stored";
    const auto record = client_.Requests(kLanguagesPath);
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0].rawTarget, kLanguagesPath) << "no query";
}

TEST_F(Languages, StoredChoiceIsAppliedAndSentWithEveryFetch) {
    key_.SetText(kTranslationValue, L"fr");
    LanguageList list;
    ASSERT_EQ(FetchLanguages(list), S_OK);
    EXPECT_EQ(list.selected(), 3);
    EXPECT_EQ(list.SelectedLanguageCode(), u"fr");

    LyricsDocument request = Request("Blue Harbour", "Night Train");
    request.SetLanguage(list.SelectedLanguageCode().value_or(u""));
    auto translated = Fetch(request);
    ASSERT_TRUE(translated);
    EXPECT_EQ(translated->Language(), u"fr");
    ASSERT_GT(translated->LineCount(), 1);
    EXPECT_EQ(Utf8(translated->LineAt(1)->text), "Le quai bourdonne sous les lampes de la gare");
    auto again = Fetch(request);  // from the cache, after the version check
    ASSERT_TRUE(again);
    for (const auto& sent : client_.Requests()) {
        if (sent.path != kLanguagesPath) {
            EXPECT_EQ(sent.Query("lang"), "fr") << sent.path;
        }
    }
    EXPECT_EQ(client_.Requests(kFetchPath).size(), 1u);
}

TEST_F(Languages, StoredCodeIsComparedExactly) {
    key_.SetText(kTranslationValue, L"FR");
    LanguageList list;
    ASSERT_EQ(FetchLanguages(list), S_OK);
    EXPECT_EQ(list.selected(), 1);
    EXPECT_EQ(list.SelectedLanguageCode(), u"");
}

TEST_F(Languages, ChoosingALanguageStoresItAndChangesTheRequest) {
    LanguageList list;
    ASSERT_EQ(FetchLanguages(list), S_OK);
    LyricsDocument request = Request("Blue Harbour", "Night Train");

    auto code = ChooseLanguage(list, 2, request);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, u"de");
    EXPECT_EQ(request.Language(), u"de");
    EXPECT_EQ(list.selected(), 2);
    ASSERT_TRUE(key_.GetUser(kTranslationValue));
    EXPECT_EQ(key_.GetUser(kTranslationValue)->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ReadStoredTranslation(), L"de");

    // "no translation": an empty value is stored and the refetch sends lang= empty.
    code = ChooseLanguage(list, 1, request);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, u"");
    EXPECT_EQ(request.Language(), u"");
    ASSERT_TRUE(key_.GetUser(kTranslationValue)) << "stored as an empty text, not deleted";
    EXPECT_EQ(ReadStoredTranslation(), L"");
    client_.ClearRequests();
    auto original = Fetch(request);
    ASSERT_TRUE(original);
    const auto sent = client_.Requests(kFetchPath);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].HasQuery("lang"));
    EXPECT_EQ(sent[0].Query("lang"), "");
    EXPECT_EQ(sent[0].rawTarget.find(std::string(kFetchPath) + "?lang=&artist="), 0u);

    // An index that is not in the list changes nothing.
    ASSERT_TRUE(ChooseLanguage(list, 3, request));
    EXPECT_FALSE(ChooseLanguage(list, 4, request));
    EXPECT_FALSE(ChooseLanguage(list, 0, request));
    EXPECT_EQ(list.selected(), 3);
    EXPECT_EQ(request.Language(), u"fr");
    EXPECT_EQ(ReadStoredTranslation(), L"fr");
}

TEST_F(Languages, NoServiceMeansOnlyNoTranslation) {
    key_.SetText(kTranslationValue, L"fr");
    PointAt("127.0.0.1:" + std::to_string(ClosedLoopbackPort()));
    LanguageList list;
    ASSERT_TRUE(list.AddLanguage(u"Old", u"old"));
    EXPECT_EQ(FetchLanguages(list), E_FAIL);
    EXPECT_EQ(Entries(list), (std::vector<Entry>{{"no translation", ""}}));
    EXPECT_EQ(list.SelectedLanguageCode(), u"");
    EXPECT_EQ(ReadStoredTranslation(), L"fr") << "the stored value itself stays";

    // Too slow: given up after the time limit (a reply would have given S_OK and three entries).
    PointAtStandin();
    client_.SetBehaviour(kLanguagesPath, "delay", 1500);
    EXPECT_EQ(FetchLanguages(list, 300), E_FAIL);
    EXPECT_EQ(list.entries().size(), 1u);
    client_.ResetBehaviours();
}

TEST_F(Languages, RepliesTheListCannotUseWhole) {
    LoopbackServer server;
    PointAt(HostPortOf(server));
    key_.SetText(kTranslationValue, L"");

    const std::string name300(300, 'n');
    server.SetBody(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<list>\n"
        "  <!-- a comment is no language -->\n"
        "  <lang code=\"de\">Deutsch</lang>\n"
        "  <lang>Without code</lang>\n"
        "  <lang code=\"\">Empty code</lang>\n"
        "  <lang code=\"de-CH-x12\">Code too long</lang>\n"
        "  <item code=\"eo\"/>\n"
        "  <x code=\"nn\">" +
        name300 +
        "</x>\n"
        "  <lang code=\"fr\">  Fran\xC3\xA7"
        "ais  </lang>\n"
        "</list>\n");
    LanguageList list;
    EXPECT_EQ(FetchLanguages(list), S_OK);
    EXPECT_EQ(Entries(list), (std::vector<Entry>{{"no translation", ""},
                                                 {"Deutsch", "de"},
                                                 {"eo", "eo"},
                                                 {std::string(259, 'n'), "nn"},
                                                 {"Fran\u00e7ais", "fr"}}));
    EXPECT_EQ(list.selected(), 1) << "the stored empty code is \"no translation\" only";
    for (size_t i = 0; i < list.entries().size(); ++i) EXPECT_EQ(list.entries()[i].index, static_cast<int>(i) + 1);
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_EQ(LoopbackServer::RequestLineOf(server.Requests()[0]),
              "GET /sonavire/services/getSupportedLanguages.php HTTP/1.1");
}

TEST_F(Languages, RepliesThatAreNotALanguageList) {
    LoopbackServer server;
    PointAt(HostPortOf(server));
    key_.SetText(kTranslationValue, L"de");
    LanguageList list;

    server.SetBody("<html><body>Service unavailable", "503 Service Unavailable");
    EXPECT_EQ(FetchLanguages(list), S_FALSE);
    EXPECT_EQ(list.entries().size(), 1u);

    // A document type is refused before any parsing: no entity expansion.
    server.SetBody("<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"de\">]><l><x code=\"&a;\">Deutsch</x></l>");
    EXPECT_EQ(FetchLanguages(list), S_FALSE);
    EXPECT_EQ(list.entries().size(), 1u);
    EXPECT_EQ(list.selected(), 1);

    server.SetBody("");
    EXPECT_EQ(FetchLanguages(list), S_FALSE);
    EXPECT_EQ(list.entries().size(), 1u);

    // An empty root: loaded, nothing to add; the stored code matches nothing.
    server.SetBody("<languages/>");
    EXPECT_EQ(FetchLanguages(list), S_OK);
    EXPECT_EQ(list.entries().size(), 1u);
    EXPECT_EQ(list.selected(), 1);

    EXPECT_EQ(LoadLanguages(list, nullptr), E_INVALIDARG);
}

TEST_F(Languages, TheChoiceIsTheUsersOwnAndNeedsNoPluginKey) {
    LanguageList list;
    ASSERT_EQ(FetchLanguages(list), S_OK);
    LyricsDocument request = Request("Blue Harbour", "Night Train");
    DeletePluginKey();
    auto code = ChooseLanguage(list, 3, request);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, u"fr");
    EXPECT_EQ(list.selected(), 3) << "the choice holds while the window lives";
    EXPECT_FALSE(PluginKeyExists());
    ASSERT_TRUE(list.Select(1));
    ApplyStoredLanguage(list);
    EXPECT_EQ(list.selected(), 3);
}
