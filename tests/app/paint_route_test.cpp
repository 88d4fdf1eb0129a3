// The paint routing rule at each of its boundaries.

#include "app/paint_route.h"

#include <gtest/gtest.h>

namespace {

TEST(PaintRoute, DecidesByTheUpdateRectangleAlone) {
    struct Row {
        long top, bottom;
        PaintRoute want;
    };
    const Row rows[] = {
        {0, 381, PaintRoute::both},                                         // taller than 380: both, wherever it lies
        {100, 481, PaintRoute::both},     {0, 380, PaintRoute::nothing},    // exactly 380 tall, bottom 380: no rule
        {0, 299, PaintRoute::calendar},                                     // bottom below 300
        {0, 252, PaintRoute::calendar},                                     // the calendar's own rectangle
        {250, 299, PaintRoute::calendar}, {0, 300, PaintRoute::nothing},    // bottom 300 to 380: nothing
        {201, 380, PaintRoute::nothing},  {201, 381, PaintRoute::weather},  // bottom past 380 and top past 200
        {260, 456, PaintRoute::weather},                                    // the weather panel's own rectangle
        {200, 381, PaintRoute::nothing},                                    // top 200 is not past 200
        {200, 580, PaintRoute::nothing},                                    // 380 tall is not taller than 380
        {199, 580, PaintRoute::both},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(routePaint(r.top, r.bottom), r.want) << r.top << ".." << r.bottom;
    }
}

}  // namespace
