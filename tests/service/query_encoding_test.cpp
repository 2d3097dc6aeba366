#include "service/query_encoding.h"

#include <gtest/gtest.h>

#include <cctype>

using sv::EncodeQueryBytes;
using sv::EncodeQueryValue;

TEST(QueryEncoding, OnlyTheUnreservedSetPassesUnchanged) {
    EXPECT_EQ(EncodeQueryValue(u""), "");
    EXPECT_EQ(EncodeQueryValue(u"AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(EncodeQueryValue(u"a b=c"), "a%20b%3Dc");
    EXPECT_EQ(EncodeQueryValue(u"Rock & Roll"), "Rock%20%26%20Roll");
    EXPECT_EQ(EncodeQueryValue(u"C# Minor?/"), "C%23%20Minor%3F%2F");
    EXPECT_EQ(EncodeQueryValue(u"100% Pure+"), "100%25%20Pure%2B");
    EXPECT_EQ(EncodeQueryValue(u"\"<>[]"), "%22%3C%3E%5B%5D");
    // Line breaks and other control bytes never reach the request line raw.
    EXPECT_EQ(EncodeQueryValue(u"a\r\nHost: x\t\x01"), "a%0D%0AHost%3A%20x%09%01");
    // An already escaped value is escaped again, so the server gets back exactly what was given.
    EXPECT_EQ(EncodeQueryValue(u"%26"), "%2526");
}

TEST(QueryEncoding, NonAsciiGoesAsEscapedUtf8) {
    EXPECT_EQ(EncodeQueryValue(u"Caf\u00e9 & Bar"), "Caf%C3%A9%20%26%20Bar");
    EXPECT_EQ(EncodeQueryValue(u"\U0001F3B5"), "%F0%9F%8E%B5");
    // An unpaired surrogate becomes U+FFFD, as the system's converter does.
    EXPECT_EQ(EncodeQueryValue(std::u16string(1, u'\xD800')), "%EF%BF%BD");
}

TEST(QueryEncoding, EveryByteValueIsHandled) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const std::string out = EncodeQueryBytes(all);
    size_t escapes = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c == '%') {
            ++escapes;
            ASSERT_LT(i + 2, out.size());
            for (int k = 1; k <= 2; ++k) {
                const char h = out[i + k];
                ASSERT_TRUE((h >= '0' && h <= '9') || (h >= 'A' && h <= 'F')) << "hex digit at " << i + k;
            }
            i += 2;
        } else {
            ASSERT_TRUE(std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') << "raw byte at " << i;
        }
    }
    EXPECT_EQ(escapes, 255u - 66u);  // all but the 66 unreserved bytes
    EXPECT_EQ(out.size(), all.size() + 2 * escapes);
}
