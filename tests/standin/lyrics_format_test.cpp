// The service's own formats, without a server: LRC files, uploaded timed text, the "timing"
// attribute, URL decoding and XML escaping.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "lyrics.h"
#include "standin_test_support.h"
#include "text.h"

using standin::EncodeTiming;
using standin::ParseLrc;
using standin::ParseTimedText;
using svtest::DecodeTiming;

TEST(Timing, EncodesTheDescribedExample) {
    EXPECT_EQ(EncodeTiming(12345, 3, "xyz"), "335xyz073");
    EXPECT_EQ(DecodeTiming("335xyz073"), 12345);
}

TEST(Timing, EveryKeyDecodesBackIncludingShortNumbers) {
    std::mt19937 random(20240601);
    std::set<int> keys;
    const long long times[] = {0, 1, 9, 10, 99, 1000, 12340, 61500, 191000, 6000000, 123456789};
    for (int round = 0; round < 200; ++round) {
        for (long long t : times) {
            const std::string encoded = EncodeTiming(t, random);
            keys.insert(encoded[0] - '0');
            ASSERT_EQ(DecodeTiming(encoded), t) << encoded;
            // Filler never includes XML-special characters.
            EXPECT_EQ(encoded.find_first_of("&<>\"'"), std::string::npos);
        }
    }
    EXPECT_EQ(keys, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // Zero with key 9 is padded so that the value is long enough to decode (2k + 1 characters).
    EXPECT_EQ(EncodeTiming(0, 9, "abcdefghi"), "9abcdefghi000000000");
}

TEST(Lrc, ReadsTagsTimedLinesAndRepeatedStamps) {
    const auto parsed = ParseLrc(
        "\xEF\xBB\xBF# comment\r\n[ar: Blue Harbour ]\r\n[ti:Night Train]\n[al:First Light]\n[by:someone]\n"
        "[00:20.50]second\n[00:05.00][01:00.00]chorus\n[00:07]no fraction\n[00:08.125]milliseconds\n[00:09:50]colon\n"
        "[01:02.00]\n");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.song.artist, "Blue Harbour");
    EXPECT_EQ(parsed.song.title, "Night Train");
    EXPECT_EQ(parsed.song.album, "First Light");
    EXPECT_TRUE(parsed.song.language.empty());
    const std::vector<std::pair<long long, std::string>> expected = {
        {5000, "chorus"}, {7000, "no fraction"}, {8125, "milliseconds"},
        {9500, "colon"},  {20500, "second"},     {60000, "chorus"},
        {62000, ""}};
    ASSERT_EQ(parsed.song.lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(parsed.song.lines[i].timed);
        EXPECT_EQ(parsed.song.lines[i].timeMs, expected[i].first) << i;
        EXPECT_EQ(parsed.song.lines[i].text, expected[i].second) << i;
    }
}

TEST(Lrc, PlainLinesAreUntimedLyricsAndTranslationsCarryTheirLanguage) {
    const auto untimed = ParseLrc("[ar:A]\n[ti:T]\nfirst line\n\n  second [not a stamp]  \n[xx:ignored tag]\n");
    ASSERT_TRUE(untimed.ok);
    ASSERT_EQ(untimed.song.lines.size(), 2u);
    EXPECT_FALSE(untimed.song.lines[0].timed);
    EXPECT_EQ(untimed.song.lines[1].text, "second [not a stamp]");

    const auto translation = ParseLrc("[ar:A]\n[ti:T]\n[la:de]\n[ln:Deutsch]\n[00:01.00]eins\n");
    ASSERT_TRUE(translation.ok);
    EXPECT_EQ(translation.song.language, "de");
    EXPECT_EQ(translation.song.languageName, "Deutsch");
    EXPECT_EQ(ParseLrc("[ar:A]\n[ti:T]\n[la:pt]\nx\n").song.languageName, "pt");

    EXPECT_FALSE(ParseLrc("[ar:A]\nwords\n").ok);
    EXPECT_FALSE(ParseLrc("[ti:T]\nwords\n").ok);
    EXPECT_FALSE(ParseLrc("[ar:A]\n[ti:T]\n[la:much-too-long]\nx\n").ok);
    // Invalid UTF-8 is replaced, so that every reply stays valid UTF-8.
    EXPECT_EQ(ParseLrc("[ar:A]\n[ti:T]\nbad \xff byte\n").song.lines[0].text, "bad \xEF\xBF\xBD byte");
}

TEST(Lrc, FormatsWhatItReads) {
    const auto parsed = ParseLrc("[ar:A]\n[ti:T]\n[al:B]\n[00:01.00]one\n[100:00.125]two\n");
    ASSERT_TRUE(parsed.ok);
    const std::string text = standin::FormatLrc(parsed.song);
    EXPECT_EQ(text, "[ar:A]\n[ti:T]\n[al:B]\n[00:01.00]one\n[100:00.125]two\n");
    const auto again = ParseLrc(text);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.song.lines[1].timeMs, 6000125);
}

TEST(TimedText, ReadsEntriesBackToBack) {
    const auto lines = ParseTimedText("[00:01.00] a[00:02.50] b [x][100:00.00] long song\r\n[00:03.07]  two spaces");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].timeMs, 1000);
    EXPECT_EQ(lines[0].text, "a");
    EXPECT_EQ(lines[1].timeMs, 2500);
    EXPECT_EQ(lines[1].text, "b [x]");
    EXPECT_EQ(lines[2].timeMs, 6000000);
    EXPECT_EQ(lines[2].text, "long song");
    EXPECT_EQ(lines[3].timeMs, 3070);
    EXPECT_EQ(lines[3].text, " two spaces");
}

TEST(TimedText, ToleratesTrailingNulsAndEmptyEntries) {
    const std::string body("[00:01.00] a[00:02.00] \0\0", 25);
    const auto lines = ParseTimedText(body);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, "");
    EXPECT_TRUE(ParseTimedText(std::string("\0", 1)).empty());
    EXPECT_TRUE(ParseTimedText("no stamps at all").empty());
}

TEST(Text, DecodesQueriesAsPhpDoes) {
    const auto query = standin::ParseQuery("a=1&b=x+y%2Bz&&c&t=Rock%20%26%20Roll&bad=%zz%4&u=Canci%c3%b3n&a=2");
    ASSERT_EQ(query.size(), 7u);
    EXPECT_EQ(query[1].second, "x y+z");
    EXPECT_EQ(query[2].first, "c");
    EXPECT_EQ(query[2].second, "");
    EXPECT_EQ(query[3].second, "Rock & Roll");
    EXPECT_EQ(query[4].second, "%zz%4");
    EXPECT_EQ(query[5].second, "Canci\xc3\xb3n");
    EXPECT_EQ(standin::QueryValue(query, "a"), "2");  // the last one wins
    EXPECT_EQ(standin::PercentEncodeStrict(std::string("a b\t\n\0~-_.Z", 11)), "a%20b%09%0A%00~-_.Z");
}

TEST(Text, EscapesXmlAndFoldsNames) {
    EXPECT_EQ(standin::XmlEscape("<a href=\"x\">'&'</a>\x01"),
              "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;");
    EXPECT_EQ(standin::FoldForMatch("  Blue HARBOUR "), "blue harbour");
    EXPECT_EQ(standin::FoldForMatch("CANCI\xC3\x93N"), "canci\xC3\xB3n");
    EXPECT_EQ(standin::FoldForMatch("\xD0\x9D\xD0\x9E\xD0\xA7\xD0\xAC"), "\xD0\xBD\xD0\xBE\xD1\x87\xD1\x8C");  // НОЧЬ
}
