// The panel's icons loaded from real GIF files and painted into a memory device context over a
// DIB section, and its refreshes against scripted sites on 127.0.0.1. The soak counts GDI
// objects by probing how many more can be made, since Wine's GetGuiResources always answers 0.

#include "common/forecast_page.h"
#include "tests/test_support.h"
#include "tests/weather/gif_writer.h"
#include "weather/weather_hosts.h"
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

#define DEG "\xA1\xE6"              // ℃
#define TILDE "\xA1\xAB"            // ～
#define BEIJING "\xB1\xB1\xBE\xA9"  // 北京
#define WORDS "%CC%EC%C6%F8%D4%A4%B1%A8+"

const char* const kIcons[6] = {"day/qing", "night/yin", "day/yu", "night/yu", "day/xue", "night/qing"};
const std::string kBeijingQuery = "/s?bs=" WORDS "%B1%B1%BE%A9&f=8&wd=" WORDS "%B1%B1%BE%A9";
const char* const kWarm = "22" DEG TILDE "15" DEG;

// A panel with six icons and texts to paint, fetching into the same folder; the hosts restored.
class Weather : public ::testing::Test {
protected:
    Weather() {
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
        std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s", folder.prefix().c_str());
    }
    ~Weather() override {
        weatherHosts = saved;
        for (HBITMAP& b : panel.iconBitmaps) DeleteObject(b);
    }
    char* path(int k) { return k % 2 ? panel.days[k / 2].nightIconPath : panel.days[k / 2].dayIconPath; }
    int bitmaps() const { return 6 - static_cast<int>(std::count(panel.iconBitmaps, panel.iconBitmaps + 6, nullptr)); }

    // One refresh against a site that must be asked for exactly the page at `query` (none when
    // empty), then the icons from `from` up to `to`, the icon `failing` answered with 404; with
    // `asksAll` false it must not be asked for all. `page` replaces the forecast page.
    bool refresh(const char* city, bool force, const std::string& query, int from, int to, const char* page = nullptr,
                 int failing = -1, bool asksAll = true) {
        ScriptedServer site([&](const std::string& host) {
            setWeatherHost(weatherHosts.search, host.c_str());
            setWeatherHost(weatherHosts.icon, host.c_str());
            std::string forecast = "<html>" + std::string(forecast_page::kTableMarker) + "<tr><td><br>";
            for (int k = 0; k < 6; ++k) {
                const std::string icon = "http://" + host + forecast_page::kIconPath + kIcons[k];
                forecast += k % 2 ? "<img src=\"" + icon + ".gif\"></td><td>" +
                                        (city[0] ? kWarm : "-3" DEG TILDE "-12" DEG) +
                                        "</td><td>\xC7\xE7</td><td><span>\xB1\xB1\xB7\xE7</span></td>"
                                  : "<td><img src=\"" + icon + ".png\">";
            }
            std::vector<Script> scripts;
            if (!query.empty())
                scripts.push_back({"<GET " + query + " ", ">" + ok(page ? page : forecast + "</table>")});
            if (from < to) scripts.emplace_back();
            for (int i = from; i < to; ++i) {
                scripts.back().push_back(std::string("<GET /vip/baidu/imag/") + kIcons[i] + ".gif ");
                scripts.back().push_back(
                    ">" + (i == failing ? ok("", "HTTP/1.1 404 Not Found\r\n") : ok(makeGif(8, 8, 0xFF, 0xFF00, 4))));
            }
            return scripts;
        });
        const bool done = panel.refresh(city, force);
        EXPECT_EQ(site.finished(), asksAll) << "whether every request the site expected came";
        return done;
    }

    const WeatherHosts saved = weatherHosts;
    TempFolder folder{"pellumo-weather"};
    WeatherPanel panel;
};

// At 96 DPI every pixel is where the build before the scaling put it: held to the hash of that
// build's picture. Then the text in the colour set last, an empty slot letting the desktop
// show, and nothing at all without today's description. Last, a damaged second icon, an empty
// third and a missing fourth: the first is new (the bitmap it replaces deleted), the damaged
// and the empty file are gone and their slots kept, the fourth and later keep what they held.
TEST_F(Weather, At96DpiDrawsThePictureOfTheBuildBeforeAndSkipsWhatIsNotAPicture) {
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

// At 144 DPI the picture verified once by place: every place and size half as large again (the
// edges 4, 53, 102 | 106, ...: a pair's icons touch). The hash cannot say why, so the first icon's
// size and the smooth stretch (an edge inside a small icon comes out blended) are checked apart.
TEST_F(Weather, At144DpiScalesByHalfAgainAndSmoothsTheIcons) {
    std::ofstream(path(2), std::ios::binary) << makeGif(20, 20, kRed, kGreen, 10);  // to 30 x 30 at (159, 414)
    ASSERT_TRUE(panel.loadIcons());
    panel.dpi = 144;
    Canvas canvas(2 * kWidth, 2 * kHeight, false);
    ASSERT_TRUE(panel.paint(nullptr, canvas.get()));
    EXPECT_EQ(canvas.hash(), 0xc585534b94932f2dull);
    EXPECT_TRUE(canvas.count({7, 415, 79, 487}, kRed) == 72 * 72 && canvas.count({6, 413, 80, 489}) == 74 * 74);
    const RECT small{159, 414, 189, 444};
    const int red = canvas.count(small, kRed), green = canvas.count(small, kGreen);
    EXPECT_TRUE(red > 0 && green > 0 && canvas.count(small) > red + green) << "blended";
}

// Loads and paints a hundred times; the GDI table's free room must not shrink. Every round
// takes the same path, so a leak shows in each, far above the allowance for one-time caches.
// The same loop with one bitmap left undeleted per round shows that the count sees a leak.
TEST_F(Weather, RepeatedLoadsAndPaintsKeepGdiObjectsLevel) {
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


// A failed icon stops the refresh before any bitmap; a forced one fetches only what is not cached;
// the same city is not asked again unless forced, but an empty one always is.
TEST_F(Weather, RefreshQueriesOnlyWhatIsNotCachedAndSurvivesEachFailure) {
    EXPECT_FALSE(refresh(BEIJING, false, kBeijingQuery, 0, 3, nullptr, 2));
    EXPECT_EQ(bitmaps(), 0);
    EXPECT_TRUE(refresh(BEIJING, true, kBeijingQuery, 2, 6) && bitmaps() == 6);
    EXPECT_TRUE(panel.days[0].dayIconPath == folder.prefix("\xB0\xD7\xCC\xECqing.gif"));  // 白天qing.gif
    EXPECT_STREQ(panel.days[0].temperature, kWarm);
    EXPECT_TRUE(refresh(BEIJING, false, "", 0, 0));
    const std::string empty = "/s?bs=" WORDS "&f=8&wd=" WORDS;
    EXPECT_TRUE(refresh("", false, empty, 0, 0) && refresh("", false, empty, 0, 0));
    EXPECT_STREQ(panel.days[0].temperature, "-3" DEG TILDE "-12" DEG);

    // An icon path that would not fit its 80-byte field is never saved under a cut name:
    // with 白天 and "qing.gif" this one takes exactly 80 bytes.
    const std::string deep = folder.prefix(std::string(80 - folder.prefix().size() - 4 - 8 - 1, 'd'));
    CreateDirectoryA(deep.c_str(), nullptr);
    std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s\\", deep.c_str());
    EXPECT_FALSE(refresh(BEIJING, true, kBeijingQuery, 0, 1, nullptr, -1, false));
    EXPECT_TRUE(RemoveDirectoryA(deep.c_str())) << "nothing saved in it";
}

}  // namespace
