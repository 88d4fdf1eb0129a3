// The paint routing rule at each of its boundaries.

#include "app/paint_route.h"

#include <gtest/gtest.h>

TEST(PaintRoute, DecidesByTheUpdateRectangleAlone) {
    using R = PaintRoute;
    const struct {
        long top, bottom;
        int dpi;
        PaintRoute want;
    } rows[] = {
        {0, 299, 96, R::calendar},
        {0, 300, 96, R::nothing},
        {0, 380, 96, R::nothing},
        {0, 381, 96, R::both},
        {199, 580, 96, R::both},
        {200, 580, 96, R::nothing},
        {201, 380, 96, R::nothing},
        {201, 381, 96, R::weather},
        {200, 381, 96, R::nothing},
        // At 144 DPI: 570, 450 and 300.
        {0, 449, 144, R::calendar},
        {0, 450, 144, R::nothing},
        {0, 571, 144, R::both},
        {301, 571, 144, R::weather},
        {300, 571, 144, R::nothing},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(routePaint(r.top, r.bottom, r.dpi), r.want) << r.top << ".." << r.bottom << " at " << r.dpi;
    }
}
