// The paint routing rule at each of its boundaries.

#include "app/paint_route.h"

#include <gtest/gtest.h>

TEST(PaintRoute, DecidesByTheUpdateRectangleAlone) {
    using R = PaintRoute;
    const struct {
        long top, bottom;
        PaintRoute want;
    } rows[] = {
        {0, 299, R::calendar},  {0, 300, R::nothing},   {0, 380, R::nothing},
        {0, 381, R::both},      {199, 580, R::both},    {200, 580, R::nothing},
        {201, 380, R::nothing}, {201, 381, R::weather}, {200, 381, R::nothing},
    };
    for (const auto& r : rows) EXPECT_EQ(routePaint(r.top, r.bottom), r.want) << r.top << ".." << r.bottom;
}
