#include "service/query_encoding.h"

#include <gtest/gtest.h>

using sv::EncodeQueryBytes;
using sv::EncodeQueryValue;

TEST(QueryEncoding, PlainTextPassesUnchanged) {
    EXPECT_EQ(EncodeQueryValue(u""), "");
    EXPECT_EQ(EncodeQueryValue(u"a b=c"), "a b=c");
    EXPECT_EQ(EncodeQueryValue(u"Blue Harbour/Night Train?"), "Blue Harbour/Night Train?");
}

TEST(QueryEncoding, EscapesWhatWouldChangeTheValueOnTheWay) {
    EXPECT_EQ(EncodeQueryValue(u"Rock & Roll"), "Rock %26 Roll");
    EXPECT_EQ(EncodeQueryValue(u"C# Minor"), "C%23 Minor");
    EXPECT_EQ(EncodeQueryValue(u"100% Pure"), "100%25 Pure");
    EXPECT_EQ(EncodeQueryValue(u"Rock+Roll"), "Rock%2bRoll");
    // An already escaped value is escaped again, so the server gets back exactly what was given.
    EXPECT_EQ(EncodeQueryValue(u"%26"), "%2526");
}

TEST(QueryEncoding, NonAsciiGoesAsLowerCaseEscapedUtf8) {
    EXPECT_EQ(EncodeQueryValue(u"Canci\u00f3n"), "Canci%c3%b3n");
    EXPECT_EQ(EncodeQueryValue(u"Caf\u00e9 & Bar"), "Caf%c3%a9 %26 Bar");
    EXPECT_EQ(EncodeQueryValue(u"\U0001F3B5"), "%f0%9f%8e%b5");
    // An unpaired surrogate becomes U+FFFD, as the system's converter does.
    EXPECT_EQ(EncodeQueryValue(std::u16string(1, u'\xD800')), "%ef%bf%bd");
}

TEST(QueryEncoding, EveryByteValueIsHandled) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const std::string out = EncodeQueryBytes(all);
    size_t escapes = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        ASSERT_LT(c, 0x80) << "raw high byte at " << i;
        ASSERT_NE(c, '&');
        ASSERT_NE(c, '#');
        ASSERT_NE(c, '+');
        if (c == '%') {
            ++escapes;
            ASSERT_LT(i + 2, out.size());
            for (int k = 1; k <= 2; ++k) {
                const char h = out[i + k];
                ASSERT_TRUE((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f')) << "hex digit at " << i + k;
            }
        }
    }
    EXPECT_EQ(escapes, 128u + 4u);  // 0x80..0xFF, and & # % +
    EXPECT_EQ(out.size(), all.size() + 2 * escapes);
}
