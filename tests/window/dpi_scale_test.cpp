#include <gtest/gtest.h>

#include "window/dpi_scale.h"

namespace {

TEST(DpiScale, SizesScaleFrom96AndRoundToTheNearestPixel) {
    EXPECT_EQ(45, sv::ScaleForDpi(45, 96));
    EXPECT_EQ(90, sv::ScaleForDpi(45, 192));
    EXPECT_EQ(68, sv::ScaleForDpi(45, 144)) << "67.5 rounds up";
    EXPECT_EQ(26, sv::ScaleForDpi(17, 144)) << "25.5 rounds up";
    EXPECT_EQ(21, sv::ScaleForDpi(17, 120)) << "21.25 rounds down";
    EXPECT_EQ(-8, sv::ScaleForDpi(-5, 144)) << "halves away from zero";
    EXPECT_EQ(220, sv::UnscaleForDpi(sv::ScaleForDpi(220, 144), 144));
    EXPECT_EQ(223, sv::UnscaleForDpi(335, 144)) << "223.33";
}

TEST(DpiScale, ADpiNoScreenHasCountsAs96AndNothingOverflows) {
    for (const int dpi : {0, -96, sv::kLargestDpi + 1}) {
        EXPECT_EQ(45, sv::ScaleForDpi(45, dpi)) << dpi;
        EXPECT_EQ(45, sv::UnscaleForDpi(45, dpi)) << dpi;
    }
    EXPECT_EQ(INT32_MAX, sv::ScaleForDpi(INT32_MAX, 192));
    EXPECT_EQ(INT32_MIN, sv::ScaleForDpi(INT32_MIN, 192));
}

}  // namespace
