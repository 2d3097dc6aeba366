// The playlist file of the stand-in player.
#include <gtest/gtest.h>

#include "playlist.h"

namespace {

using sv::standin::ParseLength;
using sv::standin::ParsePlaylist;

TEST(PlaylistTest, FieldsDefaultsCommentsAndLineEnds) {
    std::string error;
    const auto tracks = ParsePlaylist(
        "\xEF\xBB\xBF# artist\ttitle\talbum\ttype\tlength\r\n"
        "Sigur R\xC3\xB3s\tGlos\xC3\xB3li\tTakk...\taudio\t6:15\r\n"
        "\n"
        "Only Artist\tOnly Title\n"
        "A\tB\t\tvideo\t1.5\tC:\\Music\\b.wmv",
        error);
    ASSERT_TRUE(tracks) << error;
    ASSERT_EQ(tracks->size(), 3u);
    EXPECT_EQ((*tracks)[0].Attribute(L"Artist"), L"Sigur R\u00f3s");
    EXPECT_EQ((*tracks)[0].Attribute(L"Title"), L"Glos\u00f3li");
    EXPECT_EQ((*tracks)[0].lengthSeconds, 375.0);
    // Left-out fields: an empty album, audio, 60 seconds.
    EXPECT_EQ((*tracks)[1].attributes.count(L"Album"), 1u);
    EXPECT_EQ((*tracks)[1].Attribute(L"Album"), L"");
    EXPECT_EQ((*tracks)[1].Attribute(L"MediaType"), L"audio");
    EXPECT_EQ((*tracks)[1].lengthSeconds, 60.0);
    EXPECT_EQ((*tracks)[2].Attribute(L"MediaType"), L"video");
    EXPECT_EQ((*tracks)[2].lengthSeconds, 1.5);
    EXPECT_EQ((*tracks)[2].sourceUrl, L"C:\\Music\\b.wmv");
    EXPECT_EQ((*tracks)[1].sourceUrl, L"");
}

TEST(PlaylistTest, BadLinesAreNamed) {
    std::string error;
    EXPECT_FALSE(ParsePlaylist("A\tB\tC\taudio\t3:xx\n", error));
    EXPECT_EQ(error, "line 1: length \"3:xx\" is not a positive number of seconds");
    EXPECT_FALSE(ParsePlaylist("ok\tok\n#\nA\tB\tC\taudio\t0\n", error));
    EXPECT_EQ(error.rfind("line 3:", 0), 0u);
    EXPECT_FALSE(ParsePlaylist("1\t2\t3\t4\t5\t6\t7\n", error));
    const auto empty = ParsePlaylist("", error);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(PlaylistTest, Lengths) {
    EXPECT_EQ(ParseLength("215"), 215.0);
    EXPECT_EQ(ParseLength("3:35"), 215.0);
    EXPECT_EQ(ParseLength("1:02:03"), 3723.0);
    EXPECT_EQ(ParseLength("0.25"), 0.25);
    EXPECT_FALSE(ParseLength(""));
    EXPECT_FALSE(ParseLength("-1"));
    EXPECT_FALSE(ParseLength("1e3"));
    EXPECT_FALSE(ParseLength("3:"));
    EXPECT_FALSE(ParseLength("1:2:3:4"));
    EXPECT_FALSE(ParseLength("1.2.3"));
}

}  // namespace
