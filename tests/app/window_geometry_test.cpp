// The window's place and region at each DPI step Windows offers.

#include "app/window_geometry.h"

#include <gtest/gtest.h>

#include <tuple>

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
