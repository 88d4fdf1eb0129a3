// The paint routing rule at each of its boundaries, and the weather schedule's pauses.

#include "app/paint_route.h"
#include "app/weather_schedule.h"

#include <gtest/gtest.h>

TEST(PaintRoute, DecidesByTheUpdateRectangleAlone) {
    using R = PaintRoute;
    const struct {
        long top, bottom;
        int dpi;
        PaintRoute want;
    } rows[] = {// at 144 DPI the edges are 570, 450 and 300
                {0, 299, 96, R::calendar},   {0, 300, 96, R::nothing},   {0, 380, 96, R::nothing},
                {0, 381, 96, R::both},       {199, 580, 96, R::both},    {200, 580, 96, R::nothing},
                {201, 380, 96, R::nothing},  {201, 381, 96, R::weather}, {200, 381, 96, R::nothing},
                {0, 449, 144, R::calendar},  {0, 450, 144, R::nothing},  {0, 571, 144, R::both},
                {301, 571, 144, R::weather}, {300, 571, 144, R::nothing}};
    for (const auto& r : rows) {
        EXPECT_EQ(routePaint(r.top, r.bottom, r.dpi), r.want) << r.top << ".." << r.bottom << " at " << r.dpi;
    }
}

TEST(WeatherSchedule, RetriesDoubleUpToHalfAnHourAndMidnightSpreadsOverMinutes) {
    const unsigned s = 1000, rows[][2] = {{0, 30 * s},   {1, 60 * s},   {2, 120 * s},   {5, 960 * s},
                                          {6, 1800 * s}, {7, 1800 * s}, {40, 1800 * s}, {~0u, 1800 * s}};
    for (const auto& r : rows) EXPECT_EQ(weatherRetryDelayMs(r[0]), r[1]) << r[0] << " failures";
    unsigned earliest = ~0u, latest = 0;
    for (unsigned seed = 0; seed < 5000; seed += 7) {
        const unsigned d = midnightRefreshDelayMs(seed);
        earliest = d < earliest ? d : earliest;
        latest = d > latest ? d : latest;
    }
    EXPECT_TRUE(earliest >= 60 * s && earliest < 70 * s && latest > 290 * s && latest <= 300 * s)
        << earliest << ".." << latest;
}
