// The listener's own lyrics: which song paths have an LRC file beside them, and LRC text in and out.
#include <gtest/gtest.h>

#include "lyrics/lrc_reader.h"
#include "lyrics/own_lyrics.h"

namespace {

TEST(OwnLyrics, OnlyALocalSongHasAnLrcPathBesideIt) {
    EXPECT_EQ(u"C:\\Music\\Night Train.lrc", sv::LrcPathBeside(u"C:\\Music\\Night Train.mp3"));
    EXPECT_EQ(u"D:\\a.b\\song.lrc", sv::LrcPathBeside(u"D:\\a.b\\song"));
    EXPECT_EQ(u"C:\\My Music\\\u00e9t\u00e9.lrc", sv::LrcPathBeside(u"file:///C:/My%20Music/%C3%A9t%C3%A9.wma"));
    EXPECT_FALSE(sv::LrcPathBeside(u"http://example.com/song.mp3"));
    EXPECT_FALSE(sv::LrcPathBeside(u"\\\\server\\share\\song.mp3"));
    EXPECT_FALSE(sv::LrcPathBeside(u"file:///C:/a%00b.mp3"));
    EXPECT_FALSE(sv::LrcPathBeside(u"C:\\Music\\"));
    EXPECT_FALSE(sv::LrcPathBeside(u""));
}

TEST(OwnLyrics, LrcTextLoadsAsTheServerImportsItAndWritesBackWithTheSameStamps) {
    sv::LyricsDocument document;
    document.SetArtist(u"Blue Harbour");
    document.SetTitle(u"Night Train");
    std::string why;
    ASSERT_TRUE(sv::LoadLrcText(document,
                                "[offset:+500]\n[00:01.50]<00:01.50>one <00:02.00>two\n[00:61.00]late\n[xx:yy]bad\n"
                                "[00:00.20]early\n",
                                why));
    EXPECT_EQ(sv::LyricsStatus::Timed, document.status);
    ASSERT_EQ(3, document.LineCount());
    EXPECT_EQ(0, document.LineAt(0)->time);  // below 0 after the offset
    EXPECT_EQ(1000, document.LineAt(1)->time);
    EXPECT_EQ(u"one two", document.LineAt(1)->text);
    EXPECT_EQ(60500, document.LineAt(2)->time);

    document.LineAt(2)->text = u"two\nlines";
    const sv::LrcReading back = sv::ReadLrc(sv::ToLrcText(document));
    EXPECT_EQ("Blue Harbour", back.Tag("ar"));
    ASSERT_EQ(3u, back.timed.size());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(document.LineAt(i)->time, back.timed[static_cast<size_t>(i)].timeMs);
    EXPECT_EQ("two lines", back.timed[2].text);

    ASSERT_TRUE(sv::LoadLrcText(document, "first\n\nsecond\n", why));
    EXPECT_EQ(sv::LyricsStatus::Untimed, document.status);
    EXPECT_EQ(2, document.LineCount());
    EXPECT_FALSE(sv::LoadLrcText(document, "[ar:x]\n[ti:y]\n", why));
    EXPECT_EQ(2, document.LineCount()) << "a text without lyrics leaves the document as it was";
}

}  // namespace
