// The committed bitmaps are what tools/art draws, and they have the sizes and format the
// plug-in relies on (118 x 45 logo; 472 x 35 strip of four button faces; 24 bits).
#include <gtest/gtest.h>

#include <cstdlib>

#include "art.h"
#include "pe_image.h"

namespace {

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

void ExpectSameAsCommitted(const std::vector<uint8_t>& drawn, const char* committedPath, int width, int height) {
    SCOPED_TRACE(committedPath);
    const auto committed = svtest::ReadWholeFile(committedPath);
    ASSERT_TRUE(committed);
    ASSERT_EQ(drawn.size(), committed->size());
    // Headers byte for byte: 24 bits, uncompressed, bottom-up, the given size.
    ASSERT_GE(committed->size(), 54u);
    EXPECT_EQ(0, memcmp(drawn.data(), committed->data(), 54));
    EXPECT_EQ(uint32_t(width), U32(*committed, 18));
    EXPECT_EQ(uint32_t(height), U32(*committed, 22));
    EXPECT_EQ(24, (*committed)[28]);
    EXPECT_EQ(0u, U32(*committed, 30));
    // Pixels: the same drawing; one step of rounding difference is allowed between compilers.
    size_t differing = 0;
    for (size_t i = 54; i < drawn.size(); ++i)
        if (std::abs(int(drawn[i]) - int((*committed)[i])) > 1) ++differing;
    EXPECT_EQ(0u, differing) << "the committed bitmap is not what tools/art draws: run sonavire-art";
}

TEST(Art, CommittedBitmapsAreTheProgramsOutput) {
    ExpectSameAsCommitted(art::EncodeBmp24(art::DrawLogo()), SONAVIRE_RESOURCES_DIR "/logo.bmp", 118, 45);
    ExpectSameAsCommitted(art::EncodeBmp24(art::DrawButtonFaces()), SONAVIRE_RESOURCES_DIR "/buttons.bmp", 472, 35);
}

TEST(Art, EncoderPadsRowsToFourBytes) {
    art::Canvas canvas(3, 2, {255, 0, 0});
    const auto bmp = art::EncodeBmp24(canvas);
    ASSERT_EQ(54u + 2 * 12, bmp.size());  // 9 bytes of pixels and 3 of padding per row
    EXPECT_EQ(bmp.size(), U32(bmp, 2));
    EXPECT_EQ(0, bmp[54]);    // blue
    EXPECT_EQ(0, bmp[55]);    // green
    EXPECT_EQ(255, bmp[56]);  // red
    EXPECT_EQ(0, bmp[63]);    // padding
}

// The action list stretches the logo's first column as the band above the logo, on its black
// background: that column starts and ends close to black so the band joins both without a seam.
TEST(Art, LogoFirstColumnJoinsTheBlackList) {
    const art::Canvas logo = art::DrawLogo();
    auto brightness = [](const art::Rgb& c) { return (c.r + c.g + c.b) / 3; };
    EXPECT_LT(brightness(logo.at(0, 0)), 4.0);
    EXPECT_LT(brightness(logo.at(0, logo.height() - 1)), 16.0);
    for (int y = 1; y < logo.height(); ++y)
        EXPECT_LT(std::abs(brightness(logo.at(0, y)) - brightness(logo.at(0, y - 1))), 6.0) << y;
}

// The faces sit on the action list's black background: their corners are black.
TEST(Art, ButtonFaceCornersAreBlack) {
    const art::Canvas strip = art::DrawButtonFaces();
    for (int face = 0; face < art::kButtonFaces; ++face) {
        const int left = face * art::kButtonWidth, right = left + art::kButtonWidth - 1;
        for (auto [x, y] :
             {std::pair{left, 0}, {right, 0}, {left, art::kButtonHeight - 1}, {right, art::kButtonHeight - 1}}) {
            const art::Rgb& c = strip.at(x, y);
            EXPECT_EQ(0, c.r + c.g + c.b) << face << " at " << x << "," << y;
        }
    }
}

}  // namespace
