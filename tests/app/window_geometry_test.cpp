// The window's place and region at each DPI step Windows offers.

#include "app/window_geometry.h"

#include <gtest/gtest.h>

TEST(WindowGeometry, TopRightOfTheWorkAreaAtEveryScale) {
    const PixelRect screen{0, 0, 1024, 768}, topBar{0, 40, 1024, 768}, rightBar{0, 0, 960, 768},
        second{-1280, -200, 0, 824};
    const struct {
        PixelRect workArea;
        int dpi;
        PixelRect want;
    } rows[] = {
        {screen, 96, {704, -15, 1024, 435}},  {screen, 120, {624, -19, 1024, 544}},
        {screen, 144, {544, -23, 1024, 652}}, {screen, 192, {384, -30, 1024, 870}},
        {topBar, 96, {704, 25, 1024, 475}},   {rightBar, 144, {480, -23, 960, 652}},
        {second, 96, {-320, -215, 0, 235}},
    };
    for (const auto& r : rows) {
        const PixelRect got = mainWindowRect(r.workArea, r.dpi);
        EXPECT_EQ(got.left, r.want.left) << r.dpi;
        EXPECT_EQ(got.top, r.want.top) << r.dpi;
        EXPECT_EQ(got.right, r.want.right) << r.dpi;
        EXPECT_EQ(got.bottom, r.want.bottom) << r.dpi;
    }
}

TEST(WindowGeometry, RegionCutsScaledStrips) {
    const struct {
        long width, height;
        int dpi;
        PixelRect want;
    } rows[] = {
        {304, 412, 96, {5, 20, 304, 407}}, {380, 520, 120, {6, 25, 380, 514}}, {600, 840, 192, {10, 40, 600, 830}}};
    for (const auto& r : rows) {
        const PixelRect got = mainWindowRegion(r.width, r.height, r.dpi);
        EXPECT_EQ(got.left, r.want.left);
        EXPECT_EQ(got.top, r.want.top);
        EXPECT_EQ(got.right, r.want.right);
        EXPECT_EQ(got.bottom, r.want.bottom);
    }
}
