#include "base/utf.h"

#include <gtest/gtest.h>

using sv::Utf16FromUtf8;
using sv::Utf8FromUtf16;

TEST(Utf, RoundTripsBmpAndSupplementaryCharacters) {
    const std::u16string text = u"Canci\u00f3n \u05e9\u05dc\u05d5\u05dd \U0001F3B5";
    EXPECT_EQ(Utf8FromUtf16(text), "Canci\xc3\xb3n \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d \xf0\x9f\x8e\xb5");
    EXPECT_EQ(Utf16FromUtf8(Utf8FromUtf16(text)), text);
    // The note is one code point but two UTF-16 units, as on Windows.
    EXPECT_EQ(Utf16FromUtf8("\xf0\x9f\x8e\xb5").size(), 2u);
}

TEST(Utf, BadInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf16FromUtf8("a\xff"
                            "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf16FromUtf8("\xc0\xaf"), u"\uFFFD\uFFFD");            // overlong "/"
    EXPECT_EQ(Utf16FromUtf8("\xe2\x82"), u"\uFFFD\uFFFD");            // cut short
    EXPECT_EQ(Utf16FromUtf8("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(Utf8FromUtf16(std::u16string(1, u'\xD800')), "\xef\xbf\xbd");
    EXPECT_EQ(Utf8FromUtf16(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}
