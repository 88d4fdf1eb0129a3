// Scaled lengths on each side of a half pixel, and the pointer's way back to the 96-DPI
// grid on each side of a scaled edge.

#include "common/dpi_scale.h"

#include <gtest/gtest.h>

TEST(DpiScale, RoundsHalvesAwayFromZero) {
    const struct {
        int value, dpi, want;
    } rows[] = {
        {320, 96, 320}, {-15, 96, -15}, {320, 120, 400}, {-15, 120, -19},  // -18.75
        {5, 120, 6},    {49, 144, 74},  {-49, 144, -74},                   // ±73.5
        {1, 143, 1},    {1, 144, 2},    {36, 192, 72},   {36, 0, 36},      // 1.49, 1.5; DPI not known
    };
    for (const auto& r : rows) EXPECT_EQ(scaleToDpi(r.value, r.dpi), r.want) << r.value << " at " << r.dpi;
}

TEST(DpiScale, APixelFindsTheValueWhoseScaledRangeHoldsIt) {
    // At 120 DPI the values 36 and 37 scale to 45 and 46 (46.25); at 144, 1 and 2 to 2 and 3.
    const struct {
        int pixel, dpi, want;
    } rows[] = {
        {44, 120, 35}, {45, 120, 36}, {46, 120, 37}, {1, 144, 0},   {2, 144, 1},
        {3, 144, 2},   {-1, 144, -1}, {-2, 144, -1}, {-3, 144, -2}, {36, 96, 36},
    };
    for (const auto& r : rows) EXPECT_EQ(unscaleFromDpi(r.pixel, r.dpi), r.want) << r.pixel << " at " << r.dpi;
    for (int dpi : {120, 144, 168, 192}) {
        for (int v = -50; v < 300; ++v) {
            ASSERT_EQ(unscaleFromDpi(scaleToDpi(v, dpi), dpi), v) << v << " at " << dpi;
            ASSERT_EQ(unscaleFromDpi(scaleToDpi(v + 1, dpi) - 1, dpi), v) << v << " at " << dpi;
        }
    }
}
