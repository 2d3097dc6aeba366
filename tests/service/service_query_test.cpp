// The song's query, the language list and the sign-in rules: portable, so these run natively under
// the sanitizers and under Wine.
#include "service/language_list.h"
#include "service/service_query.h"
#include "service/sign_in_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "lyrics/lyrics_document.h"

using sv::LanguageList;
using sv::LyricsDocument;
using sv::ServiceQuerySettings;

namespace {

ServiceQuerySettings QuerySettings(std::u16string user = u"") {
    ServiceQuerySettings settings;
    settings.userName = std::move(user);
    settings.deviceText = u"1000";
    settings.screenWidth = 1280;
    settings.screenHeight = 1024;
    return settings;
}

LyricsDocument Song(std::u16string_view artist, std::u16string_view title, std::u16string_view album = u"") {
    LyricsDocument document;
    document.SetArtist(artist);
    document.SetTitle(title);
    document.SetAlbum(album);
    document.sourceKind = sv::MediaSource::Player;
    return document;
}

}  // namespace

TEST(ServiceQuery, NineParametersInOrderEvenWhenEmpty) {
    const LyricsDocument document = Song(u"Blue Harbour", u"Night Train", u"First Light");
    EXPECT_EQ(sv::BuildServiceUrl(&document, "/sonavire/services/getLyricXML_2?", QuerySettings()),
              "/sonavire/services/getLyricXML_2?lang=&artist=Blue%20Harbour&title=Night%20Train&album=First%20Light"
              "&videoId=&vidSrc=&user=&device=1000&resolution=1280x1024");
    // No document: the six document values are empty, the rest still there.
    EXPECT_EQ(sv::BuildServiceQuery(nullptr, QuerySettings(u"anna")),
              "lang=&artist=&title=&album=&videoId=&vidSrc=&user=anna&device=1000&resolution=1280x1024");
    EXPECT_EQ(sv::BuildServiceUrl(nullptr, nullptr, QuerySettings()),
              "lang=&artist=&title=&album=&videoId=&vidSrc=&user=&device=1000&resolution=1280x1024");
}

TEST(ServiceQuery, ValuesAreEscapedAsUtf8) {
    LyricsDocument document = Song(u"The Escapes", u"Rock & Roll", u"Canci\u00f3n");
    document.SetLanguage(u"fr");
    const std::string query = sv::BuildServiceQuery(&document, QuerySettings(u"jo & al"));
    EXPECT_EQ(query,
              "lang=fr&artist=The%20Escapes&title=Rock%20%26%20Roll&album=Canci%C3%B3n&videoId=&vidSrc="
              "&user=jo%20%26%20al&device=1000&resolution=1280x1024");
}

TEST(ServiceQuery, VideoPageDocumentsNameTheirSource) {
    LyricsDocument document = Song(u"Blue Harbour", u"Night Train");
    document.SetVideoId(u"a1B2c3D4e5F");
    document.sourceKind = sv::MediaSource::VideoPage;
    EXPECT_NE(sv::BuildServiceQuery(&document, QuerySettings()).find("&videoId=a1B2c3D4e5F&vidSrc=youtube&user="),
              std::string::npos);
    // A player item names no source, even with a video id left in the document.
    document.sourceKind = sv::MediaSource::Player;
    EXPECT_NE(sv::BuildServiceQuery(&document, QuerySettings()).find("&videoId=a1B2c3D4e5F&vidSrc=&user="),
              std::string::npos);
}

TEST(ServiceQuery, ANulEndsItsOwnValueOnly) {
    // Media attributes may hold a NUL; what follows it in the query must survive.
    const LyricsDocument document = Song(std::u16string(u"Blue\0Harbour", 12), u"Night Train");
    const std::string query = sv::BuildServiceQuery(&document, QuerySettings(u"anna"));
    EXPECT_EQ(query,
              "lang=&artist=Blue&title=Night%20Train&album=&videoId=&vidSrc=&user=anna&device=1000"
              "&resolution=1280x1024");
    EXPECT_EQ(query.find('\0'), std::string::npos);
    EXPECT_EQ(sv::BuildCommunityQuery(&document, QuerySettings()).find(u"&title=Night%20Train&"), 17u);
}

TEST(ServiceQuery, CommunityQueryIsEscapedLikeTheServicesAndCutBetweenCharacters) {
    const LyricsDocument document = Song(u"The Escapes", u"Rock & Roll #1 100% C+\r\n", u"Canci\u00f3n");
    EXPECT_EQ(sv::BuildCommunityQuery(&document, QuerySettings(u"anna")),
              u"lang=&artist=The%20Escapes&title=Rock%20%26%20Roll%20%231%20100%25%20C%2B%0D%0A&album=Canci%C3%B3n"
              u"&videoId=&vidSrc=&user=anna&device=1000&resolution=1280x1024");

    // A long title is cut at 1024 units, never inside an escape or a character's UTF-8.
    const std::u16string prefix = u"lang=&artist=A&title=";
    LyricsDocument longTitle = Song(u"A", std::u16string(2000, u'x'));
    EXPECT_EQ(sv::BuildCommunityQuery(&longTitle, QuerySettings()),
              prefix + std::u16string(1024 - prefix.size(), u'x'));
    for (size_t pad = 0; pad < 12; ++pad) {
        LyricsDocument pairAtLimit =
            Song(u"A", std::u16string(1024 - prefix.size() - pad, u'x') + u"\U0001F3B5\u00e9 &");
        const std::u16string cut = sv::BuildCommunityQuery(&pairAtLimit, QuerySettings());
        ASSERT_LE(cut.size(), 1024u);
        const std::u16string tail = cut.substr(prefix.size() + 1024 - prefix.size() - pad);
        EXPECT_TRUE(tail.empty() || tail == u"%F0%9F%8E%B5" || tail == u"%F0%9F%8E%B5%C3%A9" ||
                    tail == u"%F0%9F%8E%B5%C3%A9%20")
            << pad << " " << std::string(tail.begin(), tail.end());
    }

    for (int id : {301, 302, 309}) EXPECT_TRUE(sv::CommunityPageTakesQuery(id)) << id;
    for (int id : {300, 303, 305, 306, 310, 311, 312, 313, 314, 0, -301})
        EXPECT_FALSE(sv::CommunityPageTakesQuery(id)) << id;
}

TEST(LanguageList, StartsWithNoTranslationSelected) {
    LanguageList list;
    ASSERT_EQ(list.entries().size(), 1u);
    EXPECT_EQ(list.entries()[0].name, u"no translation");
    EXPECT_EQ(list.entries()[0].code, u"");
    EXPECT_EQ(list.entries()[0].index, 1);
    EXPECT_EQ(list.selected(), 1);
    EXPECT_EQ(list.SelectedLanguageCode(), u"");

    EXPECT_TRUE(list.AddLanguage(u"Deutsch", u"de"));
    EXPECT_TRUE(list.AddLanguage(u"Fran\u00e7ais", u"fr"));
    EXPECT_TRUE(list.Select(3));
    list.ResetLanguages();
    EXPECT_EQ(list.entries().size(), 1u);
    EXPECT_EQ(list.selected(), 1);
}

TEST(LanguageList, IndexesFollowPositionsAndCodesMatchExactly) {
    LanguageList list;
    ASSERT_TRUE(list.AddLanguage(u"Deutsch", u"de"));
    ASSERT_TRUE(list.AddLanguage(u"Fran\u00e7ais", u"fr"));
    ASSERT_EQ(list.entries().size(), 3u);
    for (size_t i = 0; i < list.entries().size(); ++i) EXPECT_EQ(list.entries()[i].index, static_cast<int>(i) + 1);

    list.ApplyCode(u"FR");  // case matters: no match, no change
    EXPECT_EQ(list.selected(), 1);
    list.ApplyCode(u"fr");
    EXPECT_EQ(list.selected(), 3);
    EXPECT_EQ(list.SelectedLanguageCode(), u"fr");
    list.ApplyCode(u"");
    EXPECT_EQ(list.selected(), 1);

    // The last of equal codes wins.
    ASSERT_TRUE(list.AddLanguage(u"Deutsch (Schweiz)", u"de"));
    list.ApplyCode(u"de");
    EXPECT_EQ(list.selected(), 4);

    EXPECT_FALSE(list.Select(0));
    EXPECT_FALSE(list.Select(5));
    EXPECT_FALSE(list.Select(-1));
    EXPECT_EQ(list.selected(), 4);
    ASSERT_NE(list.EntryWithIndex(2), nullptr);
    EXPECT_EQ(list.EntryWithIndex(2)->code, u"de");
    EXPECT_EQ(list.EntryWithIndex(5), nullptr);
}

TEST(LanguageList, EntriesTheListCannotHoldFaithfully) {
    LanguageList list;
    // No code would pass for "no translation"; a cut code would be another language.
    EXPECT_FALSE(list.AddLanguage(u"Nameless", u""));
    EXPECT_FALSE(list.AddLanguage(u"Long code", u"de-CH-x1"));
    EXPECT_TRUE(list.AddLanguage(u"Seven", u"zh-Hant"));
    // A long name is cut for the menu, never in the middle of a surrogate pair.
    EXPECT_TRUE(list.AddLanguage(std::u16string(300, u'n'), u"nn"));
    std::u16string pairAtLimit(258, u'k');
    pairAtLimit += u"\U0001D11E tail";
    EXPECT_TRUE(list.AddLanguage(pairAtLimit, u"kk"));
    // An empty name shows the code.
    EXPECT_TRUE(list.AddLanguage(u"", u"eo"));

    ASSERT_EQ(list.entries().size(), 5u);
    EXPECT_EQ(list.entries()[1].code, u"zh-Hant");
    EXPECT_EQ(list.entries()[2].name, std::u16string(259, u'n'));
    EXPECT_EQ(list.entries()[3].name, std::u16string(258, u'k'));
    EXPECT_EQ(list.entries()[4].name, u"eo");
    EXPECT_EQ(list.entries()[4].index, 5);
    // Only "no translation" has the empty code.
    list.Select(3);
    list.ApplyCode(u"");
    EXPECT_EQ(list.selected(), 1);
}

TEST(SignInRules, RequestAndAnswer) {
    EXPECT_EQ(sv::BuildSignInPath(u"anna & bo", u"p w%d"),
              "/sonavire/services/appVerifyUser.php?username=anna%20%26%20bo&password=p%20w%25d");
    EXPECT_EQ(sv::BuildSignInPath(u"", u""), "/sonavire/services/appVerifyUser.php?username=&password=");
    EXPECT_EQ(sv::BuildSignInPath(u"J\u00fcrgen", u"x"),
              "/sonavire/services/appVerifyUser.php?username=J%C3%BCrgen&password=x");

    for (const char* yes : {"true", "TRUE", "True", "tRuE"}) EXPECT_TRUE(sv::IsSignInAccepted(yes)) << yes;
    for (const char* no : {"", "false", "true\n", "true\r\n", " true", "truee", "tru", "1", "yes"})
        EXPECT_FALSE(sv::IsSignInAccepted(no)) << no;
    EXPECT_FALSE(sv::IsSignInAccepted(std::string_view("true\0", 5)));

    EXPECT_EQ(sv::SignInFailureMessageId(true, false), 501);
    EXPECT_EQ(sv::SignInFailureMessageId(true, false), 501);
    EXPECT_EQ(sv::SignInFailureMessageId(true, true), 501);
    EXPECT_EQ(sv::SignInFailureMessageId(false, true), 209);
    EXPECT_EQ(sv::SignInFailureMessageId(false, false), 208);
}
