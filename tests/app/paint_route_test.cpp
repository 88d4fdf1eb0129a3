// The paint routing rule at each of its boundaries, and the weather schedule's pauses.

#include "app/paint_route.h"
#include "app/weather_schedule.h"

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
