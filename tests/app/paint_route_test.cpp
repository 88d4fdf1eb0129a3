// The paint routing rule at each of its boundaries.

#include "app/paint_route.h"

#include <gtest/gtest.h>

TEST(PaintRoute, DecidesByTheUpdateRectangleAlone) {
    struct Row {
        long top, bottom;
        PaintRoute want;
    };
    const Row rows[] = {
        {0, 299, PaintRoute::calendar},  {0, 300, PaintRoute::nothing},    // bottom below 300
        {0, 380, PaintRoute::nothing},   {0, 381, PaintRoute::both},       // taller than 380
        {199, 580, PaintRoute::both},    {200, 580, PaintRoute::nothing},  // ... wherever it lies
        {201, 380, PaintRoute::nothing}, {201, 381, PaintRoute::weather},  // bottom past 380, top past 200
        {200, 381, PaintRoute::nothing},
    };
    for (const Row& r : rows) EXPECT_EQ(routePaint(r.top, r.bottom), r.want) << r.top << ".." << r.bottom;
}
