// Scaled lengths on each side of a half pixel, and the way back on each side of every scaled edge.

#include "common/dpi_scale.h"

#include <gtest/gtest.h>

TEST(DpiScale, RoundsHalvesAwayFromZeroAndFindsEachPixelsValueBack) {
    const struct {
        int value, dpi, want;
    } rows[] = {
        {320, 96, 320}, {-15, 96, -15}, {320, 120, 400}, {-15, 120, -19},  // -18.75
        {5, 120, 6},    {49, 144, 74},  {-49, 144, -74},                   // ±73.5
        {1, 143, 1},    {1, 144, 2},    {36, 192, 72},   {36, 0, 36},      // 1.49, 1.5; DPI not known
    };
    for (const auto& r : rows) EXPECT_EQ(scaleToDpi(r.value, r.dpi), r.want) << r.value << " at " << r.dpi;
    // A pixel gives the value whose scaled range holds it: the first and the last pixel of each.
    for (int dpi : {96, 120, 144, 168, 192}) {
        for (int v = -50; v < 300; ++v) {
            ASSERT_EQ(unscaleFromDpi(scaleToDpi(v, dpi), dpi), v) << v << " at " << dpi;
            ASSERT_EQ(unscaleFromDpi(scaleToDpi(v + 1, dpi) - 1, dpi), v) << v << " at " << dpi;
        }
    }
}
