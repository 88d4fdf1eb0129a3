// Icons loaded from real GIF files and the panel painted into a memory device context over a
// DIB section; the checks read its pixels. The soak counts GDI objects by probing how many
// more can be made, since Wine's GetGuiResources always answers 0.

#include "tests/test_support.h"
#include "tests/weather/gif_writer.h"
#include "weather/weather_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace test_support;

constexpr int kWidth = 360, kHeight = 460;
// Channels of 0 or 255 only, so no anti-aliased text edge can pass for an icon colour.
constexpr COLORREF kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kYellow = 0x00FFFF, kWhite = 0xFFFFFF;
constexpr COLORREF kColours[6] = {kRed, kGreen, kYellow, kWhite, kRed, kGreen};  // each icon's top-left 49 x 49

int freeGdiRoom() {  // how many more GDI objects this process can make now
    std::vector<HGDIOBJ> made;
    while (HGDIOBJ region = made.size() < 200000 ? CreateRectRgn(0, 0, 1, 1) : nullptr) made.push_back(region);
    for (HGDIOBJ h : made) DeleteObject(h);
    return static_cast<int>(made.size());
}
bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

class WeatherPaint : public ::testing::Test {
protected:
    WeatherPaint() {
        // Six 60 x 60 icons, each with its own colour in the top-left 49 x 49 and blue beyond.
        for (int k = 0; k < 6; ++k) {
            std::snprintf(path(k), 80, "%s", folder.prefix("icon" + std::to_string(k) + ".gif").c_str());
            std::ofstream(path(k), std::ios::binary) << makeGif(60, 60, kColours[k], kBlue, 49);
        }
        std::strcpy(panel.forecastCity, "City");
        for (DayForecast& d : panel.days) {
            std::strcpy(d.temperature, "22");
            std::strcpy(d.description, "\xC7\xE7");   // 晴
            std::strcpy(d.wind, "\xB1\xB1\xB7\xE7");  // 北风
        }
        panel.textColor = kWhite;
    }
    ~WeatherPaint() override {
        for (HBITMAP& b : panel.iconBitmaps) DeleteObject(b);
    }
    char* path(int k) { return k % 2 ? panel.days[k / 2].nightIconPath : panel.days[k / 2].dayIconPath; }

    TempFolder folder{"pellumo-icons"};
    WeatherPanel panel;
};

// At 96 DPI every pixel is where the build before the scaling put it: held to the hash of that
// build's picture. Then the text in the colour set last, an empty slot letting the desktop
// show, and nothing at all without today's description. Last, a damaged second icon, an empty
// third and a missing fourth: the first is new (the bitmap it replaces deleted), the damaged
// and the empty file are gone and their slots kept, the fourth and later keep what they held.
TEST_F(WeatherPaint, At96DpiDrawsThePictureOfTheBuildBeforeAndSkipsWhatIsNotAPicture) {
    ASSERT_TRUE(panel.loadIcons());
    Canvas canvas(kWidth, kHeight, false);
    ASSERT_TRUE(panel.paint(reinterpret_cast<HWND>(1), canvas.get()) && panel.ready);
    EXPECT_EQ(canvas.hash(), 0x73c990e406ca1dd8ull);

    ASSERT_TRUE(panel.setColor(kGreen));
    DeleteObject(panel.iconBitmaps[1]);
    panel.iconBitmaps[1] = nullptr;
    Canvas second(kWidth, kHeight, false);
    ASSERT_TRUE(panel.paint(nullptr, second.get()));
    EXPECT_TRUE(second.count({118, 260, 160, 276}, kGreen) > 0 && second.count({118, 260, 160, 276}, kWhite) == 0);
    EXPECT_EQ(second.count({53, 276, 53 + 49, 276 + 49}), 0) << "no bitmap: the desktop shows through";

    Canvas empty(kWidth, kHeight, false);
    WeatherPanel fresh;
    std::strcpy(fresh.days[1].description, "x");
    EXPECT_FALSE(fresh.paint(reinterpret_cast<HWND>(1), empty.get()) || empty.count({0, 0, kWidth, kHeight}));
    EXPECT_FALSE(fresh.ready || fresh.hwnd);

    HBITMAP first[6];
    std::copy(panel.iconBitmaps, panel.iconBitmaps + 6, first);
    std::ofstream(path(1), std::ios::binary) << "<html>error</html>";
    std::ofstream(path(2), std::ios::binary | std::ios::trunc).flush();
    DeleteFileA(path(3));
    EXPECT_FALSE(panel.loadIcons());
    EXPECT_FALSE(exists(path(1)) || exists(path(2)));
    EXPECT_TRUE(panel.iconBitmaps[0] != first[0] && GetObjectType(first[0]) == 0);
    EXPECT_TRUE(std::equal(first + 1, first + 6, panel.iconBitmaps + 1));
}

// At 144 DPI every place and size is half as large again (the edges 4, 53, 102 | 106, 155, 204
// | 208, 257, 306: a pair's icons touch), and icons are stretched smoothly: an edge inside one
// comes out with blended pixels along it.
TEST_F(WeatherPaint, ScalesWithTheWindowAndSmoothsTheIcons) {
    std::ofstream(path(2), std::ios::binary) << makeGif(20, 20, kRed, kGreen, 10);  // to 30 x 30 at (159, 414)
    ASSERT_TRUE(panel.loadIcons());
    panel.dpi = 144;
    panel.textColor = 0x808080;  // its shades are no icon colour
    Canvas canvas(2 * kWidth, 2 * kHeight, false);
    ASSERT_TRUE(panel.paint(nullptr, canvas.get()));
    const int left[6] = {6, 80, 159, 233, 312, 386}, right[6] = {80, 153, 233, 306, 386, 459};
    for (int k : {0, 1, 3, 4, 5}) {
        EXPECT_EQ(canvas.count({left[k] + 1, 415, right[k] - 1, 487}, kColours[k]), (right[k] - left[k] - 2) * 72) << k;
        EXPECT_EQ(canvas.count({left[k], 413, right[k], 489}), (right[k] - left[k]) * 74) << k;
    }
    const Area small{159, 414, 189, 444};
    const int red = canvas.count(small, kRed), green = canvas.count(small, kGreen);
    EXPECT_TRUE(red > 0 && green > 0 && canvas.count({159, 413, 233, 489}) > red + green) << "blended";
    EXPECT_EQ(canvas.count({159, 413, 233, 489}), canvas.count(small)) << "nothing beyond the scaled icon";
    // Texts: the city at (177, 390), today's four lines from y = 490 on, 24 apart.
    EXPECT_TRUE(canvas.count({177, 390, 240, 414}) > 0 && canvas.count({0, 390, 177, 414}) == 0);
    for (int top = 490; top < 586; top += 24) EXPECT_GT(canvas.count({6, top, 150, top + 24}), 0) << top;
    EXPECT_EQ(canvas.count({0, 0, 2 * kWidth, 2 * kHeight}), canvas.count({6, 390, 521, 684})) << "outside the panel";
}

// Loads and paints a hundred times; the GDI table's free room must not shrink. Every round
// takes the same path, so a leak shows in each, far above the allowance for one-time caches.
// The same loop with one bitmap left undeleted per round shows that the count sees a leak.
TEST_F(WeatherPaint, RepeatedLoadsAndPaintsKeepGdiObjectsLevel) {
    Canvas canvas(kWidth, kHeight, false);
    auto growth = [&](int rounds, bool leak) {
        const int before = freeGdiRoom();
        for (int i = 0; i < rounds; ++i) {
            if (leak) panel.iconBitmaps[i % 6] = nullptr;  // forgets a bitmap it owns
            panel.loadIcons();
            panel.paint(nullptr, canvas.get());
        }
        return before - freeGdiRoom();
    };
    growth(10, false);  // lets one-time caches settle
    EXPECT_LE(growth(100, false), 5);
    EXPECT_GE(growth(30, true), 30) << "the count must see a leak of one bitmap a round";
}

}  // namespace
