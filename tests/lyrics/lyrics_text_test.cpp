// The timing code, the right-to-left test, cache names and timed text, and the document's own
// operations: everything that needs no DOM.
#include "lyrics/lyrics_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace sv {
namespace {

TEST(DecodeTiming, ReadsTheScrambledDigits) {
    EXPECT_EQ(DecodeTiming(u"335xyz073"), 12345.0);
    EXPECT_EQ(DecodeTiming(u"335999073"), 12345.0);  // digits in the filler are still filler
    // k = 1: N = time; the first digit sits at the end, one filler before it.
    EXPECT_EQ(DecodeTiming(u"1234#1"), 1234.0);  // N = "1" + "234"
    EXPECT_EQ(DecodeTiming(u"3xyz073"), 123.0);  // nothing between key and filler
    // Division by the key truncates toward zero: N = 10 with k = 3 gives 3.
    EXPECT_EQ(DecodeTiming(u"3___010"), 3.0);
}

TEST(DecodeTiming, TextsThatCarryNoWholeCodeAreUntimed) {
    EXPECT_EQ(DecodeTiming(u""), 0.0);
    EXPECT_EQ(DecodeTiming(u"7"), 0.0);
    EXPECT_EQ(DecodeTiming(u"0"), 0.0);
    // Key 0 would divide by zero; a key that is no digit reads as 0.
    EXPECT_EQ(DecodeTiming(u"0123456"), 0.0);
    EXPECT_EQ(DecodeTiming(u"x123456"), 0.0);
    EXPECT_EQ(DecodeTiming(u" 123456"), 0.0);
    EXPECT_EQ(DecodeTiming(u"\u0663123456"), 0.0);  // an Arabic-Indic three is not a key
    // Fewer than 2k + 1 characters would read past the text.
    EXPECT_EQ(DecodeTiming(u"9abc"), 0.0);
    EXPECT_EQ(DecodeTiming(u"335xy0"), 0.0);
    EXPECT_EQ(DecodeTiming(u"3abcdef"), 0.0);  // exactly 2k + 1, no digits at all
}

TEST(DecodeTiming, NumberRulesOfTheIntegerParser) {
    // Reading stops at the first non-digit of the reassembled number.
    EXPECT_EQ(DecodeTiming(u"2a5__01"), 5.0);  // "10" + "a5" -> "10a5" -> 10 / 2
    // A sign and leading white space are allowed.
    EXPECT_EQ(DecodeTiming(u"1234_-"), -234.0);  // "-" + "234"
    EXPECT_EQ(DecodeTiming(u"142_ "), 42.0);     // " " + "42"
    // Overflow saturates at the 32-bit range instead of wrapping.
    EXPECT_EQ(DecodeTiming(u"199999999999999999999_9"), 2147483647.0);
    // NUL and non-BMP units are ordinary non-digits.
    EXPECT_EQ(DecodeTiming(std::u16string(u"13\0"
                                          u"5_1",
                                          6)),
              13.0);
    EXPECT_EQ(DecodeTiming(u"12\U0001F3B5_1"), 12.0);
}

TEST(DecodeTiming, VeryLongTextsDecodeWithoutCopying) {
    std::u16string timing = u"1" + std::u16string(100000, u'7') + u"_2";
    // 2 followed by a hundred thousand sevens saturates.
    EXPECT_EQ(DecodeTiming(timing), 2147483647.0);
}

TEST(IsRightToLeft, HebrewAmongLatinAndTheBlockEdges) {
    EXPECT_FALSE(IsRightToLeft(u""));
    EXPECT_FALSE(IsRightToLeft(u"Plain Latin text, \u00e9\u00e8"));
    EXPECT_TRUE(IsRightToLeft(u"Shalom \u05e9 friends"));
    for (char16_t c :
         {u'\u0590', u'\u05FF', u'\u0600', u'\u07BF', u'\uFB1D', u'\uFB4F', u'\uFB50', u'\uFDFF', u'\uFE70', u'\uFEFF'})
        EXPECT_TRUE(IsRightToLeft(std::u16string(u"ab") + c)) << std::hex << static_cast<int>(c);
    for (char16_t c : {u'\u058F', u'\u07C0', u'\uFB1C', u'\uFE00', u'\uFE6F', u'\uFF00'})
        EXPECT_FALSE(IsRightToLeft(std::u16string(1, c))) << std::hex << static_cast<int>(c);
    // Surrogate units are outside every block; a NUL does not end the scan.
    EXPECT_FALSE(IsRightToLeft(u"\U0001E900"));
    EXPECT_TRUE(IsRightToLeft(std::u16string(u"a\0\u0627", 3)));
}

TEST(CacheNames, EscapedKeysInBrackets) {
    EXPECT_EQ(EscapeCacheKey(u"\"*/:<>?\\|[]%\x01\x1F"), u"%22%2A%2F%3A%3C%3E%3F%5C%7C%5B%5D%25%01%1F");
    EXPECT_EQ(EscapeCacheKey(u"a_b b.c \u05e9 \U0001F3B5"), u"a_b b.c \u05e9 \U0001F3B5");

    LyricsDocument doc;
    doc.SetTitle(u"a/b:c");
    doc.SetArtist(u"x?y");
    std::optional<std::u16string> path = doc.CachePathIn(u"D:\\cache");
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, u"D:\\cache\\[x%3Fy][a%2Fb%3Ac][][].xml");
    doc.SetVideoId(u"v|1");
    doc.SetLanguage(u"he");
    EXPECT_EQ(*doc.CachePathIn(u"D:\\cache"), u"D:\\cache\\[x%3Fy][a%2Fb%3Ac][v%7C1][he].xml");
    EXPECT_FALSE(doc.CachePathIn(u"")) << "no folder, no cache";

    // Songs whose keys only differ where the separators or replaced characters fall get files of
    // their own.
    auto name = [](std::u16string_view artist, std::u16string_view title) {
        return *ComposeCachePath(u"D:", artist, title, u"", u"");
    };
    EXPECT_NE(name(u"A", u"B][C"), name(u"A][B", u"C"));
    EXPECT_NE(name(u"a:b", u"t"), name(u"a_b", u"t"));
    EXPECT_NE(name(u"a%3Ab", u"t"), name(u"a:b", u"t"));
}

TEST(CacheNames, NoPathWhenItWouldNotFitOrWouldBeCut) {
    const std::u16string folder = u"C:\\Program Files\\Sonavire";
    // folder + "\" + "[" title "]" + "[][][]" + ".xml" = 26 + 1 + 2 + 6 + 4 = 39 plus the title.
    const size_t fixed = folder.size() + 1 + 2 + 6 + 4;
    std::u16string fits(kCachePathCapacity - 1 - fixed, u't');
    std::optional<std::u16string> path = ComposeCachePath(folder, u"", fits, u"", u"");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->size(), kCachePathCapacity - 1);
    EXPECT_FALSE(ComposeCachePath(folder, u"", fits + u"t", u"", u""));
    // Windows would end the name at the NUL, where it could name another song's file.
    EXPECT_FALSE(ComposeCachePath(folder, u"x", std::u16string(u"a\0b", 3), u"", u""));
}

TEST(CacheNames, TimingOffsetBesideTheCacheFileAndItsText) {
    EXPECT_EQ(TimingOffsetPathFor(u"C:\\c\\[a][t][][].xml"), u"C:\\c\\[a][t][][].offset");
    EXPECT_FALSE(TimingOffsetPathFor(u"C:\\c\\x.txt"));
    EXPECT_FALSE(TimingOffsetPathFor(std::u16string(kCachePathCapacity - 5, u'a') + u".xml"));
    EXPECT_EQ(ParseTimingOffset("-1500"), -1500);
    EXPECT_EQ(ParseTimingOffset("500\r\n"), 500);
    for (const char* broken : {"", "-", "1.5", "5x", "99999999999", "600001", "+5"}) {
        EXPECT_EQ(ParseTimingOffset(broken), 0) << broken;
    }
}

TEST(DocumentType, FoundInThePrologOnly) {
    EXPECT_TRUE(DeclaresDocumentType(u"<!DOCTYPE r><r/>"));
    EXPECT_TRUE(DeclaresDocumentType(u"\uFEFF<?xml version=\"1.0\"?>\r\n<!-- a -->\t<?pi x?><!doctype r [ ]><r/>"));
    EXPECT_FALSE(DeclaresDocumentType(u""));
    EXPECT_FALSE(DeclaresDocumentType(u"<r><!-- <!DOCTYPE r> --></r>"));
    EXPECT_FALSE(DeclaresDocumentType(u"<r>&lt;!DOCTYPE</r>"));
    EXPECT_FALSE(DeclaresDocumentType(u"<!-- <!DOCTYPE r> -->"));
    EXPECT_FALSE(DeclaresDocumentType(u"<?xml <!DOCTYPE"));  // unterminated: the parser refuses it anyway
    EXPECT_FALSE(DeclaresDocumentType(u"<!DOCTYP"));
    EXPECT_FALSE(DeclaresDocumentType(u"<!ELEMENT r ANY>"));
}

TEST(TimedText, EntriesFollowEachOtherWithoutSeparators) {
    LyricsDocument doc;
    EXPECT_FALSE(doc.ToTimedText());

    auto single = [](double time, std::u16string text) {
        LyricsDocument d;
        d.AddLine(text, u"");
        d.LineAt(0)->time = time;
        return *d.ToTimedText();
    };
    EXPECT_EQ(single(61500, u"la"), u"[01:01.50] la");
    EXPECT_EQ(single(12340, u""), u"[00:12.33] ");  // hundredths truncated from 0.3399999...
    EXPECT_EQ(single(6000000, u"x"), u"[100:00.00] x");
    EXPECT_EQ(single(0, u"\u05e9\U0001F3B5"), u"[00:00.00] \u05e9\U0001F3B5");
    // A line text ends at its first NUL, as a C string would.
    EXPECT_EQ(single(1000, std::u16string(u"ab\0cd", 5)), u"[00:01.00] ab");
    // Negative times come out as printf writes them.
    EXPECT_EQ(single(-1500, u"n"), u"[00:-1.-50] n");
    // Out-of-range values stay defined.
    EXPECT_EQ(single(NAN, u"z"), u"[00:00.00] z");
    EXPECT_FALSE(single(1e300, u"big").empty());

    doc.AddLine(u"a", u"");
    doc.AddLine(u"b", u"");
    doc.LineAt(0)->time = 1000;
    doc.LineAt(1)->time = 2500;
    EXPECT_EQ(*doc.ToTimedText(), u"[00:01.00] a[00:02.50] b");
}

std::unique_ptr<LyricsDocument> RetimedWith(std::initializer_list<double> times) {
    auto doc = std::make_unique<LyricsDocument>();
    for (double t : times) {
        doc->AddLine(u"line", u"");
        doc->LineAt(doc->LineCount() - 1)->time = t;
    }
    doc->status = LyricsStatus::Retimed;
    return doc;
}

TEST(ResyncTest, TimesMustRiseAndLinesTwoApartBeOneSecondApart) {
    EXPECT_TRUE(RetimedWith({0, 500, 1000})->PassesResyncTest());
    EXPECT_FALSE(RetimedWith({0, 500, 999})->PassesResyncTest());
    EXPECT_FALSE(RetimedWith({0, 1500, 1400})->PassesResyncTest());
    EXPECT_TRUE(RetimedWith({0, 0, 1000, 1000, 2000})->PassesResyncTest());
    EXPECT_FALSE(RetimedWith({0, 0, 0})->PassesResyncTest());
    // The first two lines are checked against -1000 and -2000.
    EXPECT_FALSE(RetimedWith({-1001})->PassesResyncTest());
    EXPECT_TRUE(RetimedWith({-1000, 0})->PassesResyncTest());
    // Only re-timed lyrics, and only with lines to send.
    auto timed = RetimedWith({0, 1000, 2000});
    timed->status = LyricsStatus::Timed;
    EXPECT_FALSE(timed->PassesResyncTest());
    EXPECT_FALSE(RetimedWith({})->PassesResyncTest());
}

LyricsDocument FullHeader() {
    LyricsDocument doc;
    doc.SetTitle(std::u16string(u"ti\0tle", 6));
    doc.SetArtist(u"artist");
    doc.SetAlbum(u"album");
    doc.SetLanguage(u"he");
    doc.SetVideoId(u"vid");
    doc.SetVersion(u"7");
    doc.SetSongLock(u"1");
    doc.SetLastUpdate(u"2009-01-01");
    doc.sourceKind = MediaSource::VideoPage;
    doc.status = LyricsStatus::LoginFailed;
    return LyricsDocument(doc);
}

void ExpectSameHeader(const LyricsDocument& a, const LyricsDocument& b) {
    EXPECT_EQ(a.Title(), b.Title());
    EXPECT_EQ(a.Artist(), b.Artist());
    EXPECT_EQ(a.Album(), b.Album());
    EXPECT_EQ(a.Language(), b.Language());
    EXPECT_EQ(a.VideoId(), b.VideoId());
    EXPECT_EQ(a.Version(), b.Version());
    EXPECT_EQ(a.SongLock(), b.SongLock());
    EXPECT_EQ(a.LastUpdate(), b.LastUpdate());
    EXPECT_EQ(a.sourceKind, b.sourceKind);
    EXPECT_EQ(a.status, b.status);
}

TEST(Document, ConstructionAndReset) {
    LyricsDocument doc;
    EXPECT_EQ(doc.Title(), u"");
    EXPECT_EQ(doc.LastUpdate(), u"");
    EXPECT_EQ(doc.sourceKind, MediaSource::None);
    EXPECT_EQ(doc.status, LyricsStatus::None);
    EXPECT_EQ(doc.LineCount(), 0);
    EXPECT_FALSE(doc.resyncing);
    EXPECT_FALSE(doc.manualScroll);

    LyricsDocument full = FullHeader();
    full.AddLine(u"kept", u"");
    full.resyncing = true;
    full.Reset();
    ExpectSameHeader(full, LyricsDocument());
    EXPECT_EQ(full.LineCount(), 1);  // lines and flags are not Reset's business
    EXPECT_TRUE(full.resyncing);
}

TEST(Document, CopyTakesTheHeaderOnly) {
    LyricsDocument source = FullHeader();
    EXPECT_EQ(source.Title().size(), 6u);  // the embedded NUL survives
    source.AddLine(u"a", u"1234#1");
    source.resyncing = true;
    source.manualScroll = true;

    LyricsDocument copy(source);
    ExpectSameHeader(copy, source);
    EXPECT_EQ(copy.LineCount(), 0);
    EXPECT_FALSE(copy.resyncing);
    EXPECT_FALSE(copy.manualScroll);

    LyricsDocument target;
    target.AddLine(u"mine", u"");
    target.manualScroll = true;
    target.AssignHeader(source);
    ExpectSameHeader(target, source);
    EXPECT_EQ(target.LineCount(), 1);
    EXPECT_EQ(target.LineAt(0)->text, u"mine");
    EXPECT_TRUE(target.manualScroll);
    target.AssignHeader(target);
    ExpectSameHeader(target, source);
}

TEST(Document, LinesAndTheirAccessors) {
    LyricsDocument doc;
    doc.AddLine(u"first", u"335xyz073");
    doc.AddLine(u"\u05e9\u05dc\u05d5\u05dd", u"");
    doc.AddLine(std::u16string(u"nul\0inside", 10), u"9");
    ASSERT_EQ(doc.LineCount(), 3);
    EXPECT_EQ(doc.LineAt(0)->time, 12345.0);
    EXPECT_FALSE(doc.LineAt(0)->rightToLeft);
    EXPECT_TRUE(doc.LineAt(1)->rightToLeft);
    EXPECT_EQ(doc.LineAt(2)->text.size(), 10u);
    EXPECT_EQ(doc.LineAt(2)->time, 0.0);
    EXPECT_EQ(doc.LineAt(-1), nullptr);
    EXPECT_EQ(doc.LineAt(3), nullptr);

    for (LyricsStatus status : {LyricsStatus::None, LyricsStatus::MissingKeys, LyricsStatus::NotFound,
                                LyricsStatus::Final, LyricsStatus::ConnectionError, LyricsStatus::RequestFailed}) {
        doc.status = status;
        EXPECT_FALSE(doc.HasLines()) << static_cast<int>(status);
    }
    for (LyricsStatus status : {LyricsStatus::Timed, LyricsStatus::Untimed, LyricsStatus::Retimed}) {
        doc.status = status;
        EXPECT_TRUE(doc.HasLines()) << static_cast<int>(status);
    }

    doc.resyncing = true;
    doc.manualScroll = true;
    doc.ClearLines();
    EXPECT_EQ(doc.LineCount(), 0);
    EXPECT_FALSE(doc.resyncing);
    EXPECT_FALSE(doc.manualScroll);
    EXPECT_EQ(doc.status, LyricsStatus::Retimed);  // the status is the loader's business
}

}  // namespace
}  // namespace sv
