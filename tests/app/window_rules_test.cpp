// The window's rules apart from any window: paint routing at each of its boundaries, the weather
// schedule's pauses, and the window's place and region at each DPI step Windows offers.

#include "app/paint_route.h"
#include "app/weather_schedule.h"
#include "app/window_geometry.h"

#include <gtest/gtest.h>

#include <tuple>

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

auto corners(const PixelRect& r) { return std::make_tuple(r.left, r.top, r.right, r.bottom); }

TEST(WindowGeometry, TopRightOfTheWorkAreaAtEveryScaleAndTheRegionCutsScaledStrips) {
    const PixelRect screen{0, 0, 1024, 768}, topBar{0, 40, 1024, 768}, rightBar{0, 0, 960, 768},
        second{-1280, -200, 0, 824};
    const struct {
        PixelRect workArea;
        int dpi;
        PixelRect want;
    } rows[] = {{screen, 96, {704, -15, 1024, 435}},  {screen, 120, {624, -19, 1024, 544}},
                {screen, 144, {544, -23, 1024, 652}}, {screen, 192, {384, -30, 1024, 870}},
                {topBar, 96, {704, 25, 1024, 475}},   {rightBar, 144, {480, -23, 960, 652}},
                {second, 96, {-320, -215, 0, 235}}};
    for (const auto& r : rows) EXPECT_EQ(corners(mainWindowRect(r.workArea, r.dpi)), corners(r.want)) << r.dpi;
    const struct {
        long width, height;
        int dpi;
        PixelRect want;
    } regions[] = {
        {304, 412, 96, {5, 20, 304, 407}}, {380, 520, 120, {6, 25, 380, 514}}, {600, 840, 192, {10, 40, 600, 830}}};
    for (const auto& r : regions) EXPECT_EQ(corners(mainWindowRegion(r.width, r.height, r.dpi)), corners(r.want));
}
