// The weather panel's scraper, paint and refresh (against scripted sites on 127.0.0.1), and scaling.

#include "common/dpi_scale.h"
#include "common/forecast_page.h"
#include "tests/test_support.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace test_support;

#define DEG "\xA1\xE6"    // ℃
#define TILDE "\xA1\xAB"  // ～
#define WARM "22" DEG TILDE "15" DEG
#define SUN "\xC7\xE7"                         // 晴
#define WIND "\xB1\xB1\xB7\xE7\x33-4\xBC\xB6"  // 北风3-4级

struct Day {
    std::string day = "qing", night = "yin", extension = ".gif", temperature = WARM, description = SUN, wind = WIND;
};
std::string iconUrl(const std::string& name) {
    return "http://" + std::string(weatherHosts.icon) + forecast_page::kIconPath + name;
}
std::string page(const Day& today, const Day& tomorrow = {}, const Day& later = {}) {
    std::string text = forecast_page::kTableMarker + std::string("<tr><td>city<br>");
    for (const Day* d : {&today, &tomorrow, &later}) {
        text += "<tr><td><img src=\"" + iconUrl("day/" + d->day + d->extension) + "\"><img src=\"" +
                iconUrl("night/" + d->night + d->extension) + "\"></td><td>" + d->temperature + "</td><td>" +
                d->description + "</td><td><span>" + d->wind + "</span></td></tr>";
    }
    return text + "</table>";
}
constexpr int kWidth = 360, kHeight = 460;
// Channels of 0 or 255 only, so no anti-aliased text edge can pass for an icon colour.
constexpr COLORREF kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kYellow = 0x00FFFF, kWhite = 0xFFFFFF;
constexpr COLORREF kColours[6] = {kRed, kGreen, kYellow, kWhite, kRed, kGreen};  // icons' top-left 49 x 49, blue beyond

int freeGdiRoom() {  // how many more GDI objects this process can make: Wine's GetGuiResources says 0
    std::vector<HGDIOBJ> made;
    while (HGDIOBJ region = made.size() < 200000 ? CreateRectRgn(0, 0, 1, 1) : nullptr) made.push_back(region);
    for (HGDIOBJ h : made) DeleteObject(h);
    return static_cast<int>(made.size());
}

class Weather : public ::testing::Test {
protected:
    Weather() {
        for (int k = 0; k < 6; ++k) {
            std::snprintf(path(k), 80, "%s", folder.prefix("icon" + std::to_string(k) + ".gif").c_str());
            std::ofstream(path(k), std::ios::binary) << iconFile(60, 60, kColours[k], kBlue, 49);
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

    const WeatherHosts saved = weatherHosts;
    TempFolder folder{"pellumo-weather"};
    WeatherPanel panel;
};

// The picture verified once, held to its hash at 96 and 144 DPI; the colour set last, an empty slot, nothing
// without today's description. Damaged, empty and missing icons: files go, slots keep, a replaced bitmap is deleted.
TEST_F(Weather, PaintsThePictureVerifiedAtEachScaleAndSkipsWhatIsNotAPicture) {
    ASSERT_TRUE(panel.loadIcons());
    Canvas canvas(kWidth, kHeight, false);
    ASSERT_TRUE(panel.paint(reinterpret_cast<HWND>(1), canvas.get()) && panel.ready);
    EXPECT_EQ(canvas.hash(), 0x73c990e406ca1dd8ull);
    // What the 144-DPI hash cannot explain: the first icon's size, and a small icon stretched smoothly.
    std::ofstream(path(2), std::ios::binary) << iconFile(20, 20, kRed, kGreen, 10);  // to 30 x 30 at (159, 414)
    ASSERT_TRUE(panel.loadIcons());
    panel.dpi = 144;
    Canvas large(2 * kWidth, 2 * kHeight, false);
    ASSERT_TRUE(panel.paint(nullptr, large.get()));
    EXPECT_EQ(large.hash(), 0xc585534b94932f2dull);
    EXPECT_TRUE(large.count({7, 415, 79, 487}, kRed) == 72 * 72 && large.count({6, 413, 80, 489}) == 74 * 74);
    const RECT small{159, 414, 189, 444};
    const int red = large.count(small, kRed), green = large.count(small, kGreen);
    EXPECT_TRUE(red > 0 && green > 0 && large.count(small) > red + green) << "blended";
    panel.dpi = 96;

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
    EXPECT_FALSE(std::filesystem::exists(path(1)) || std::filesystem::exists(path(2)));
    EXPECT_TRUE(panel.iconBitmaps[0] != first[0] && GetObjectType(first[0]) == 0);
    EXPECT_TRUE(std::equal(first + 1, first + 6, panel.iconBitmaps + 1));
}

// A hundred loads and paints leave the GDI table's free room as it was (a bitmap leaked a round would show).
TEST_F(Weather, RepeatedLoadsAndPaintsKeepGdiObjectsLevel) {
    Canvas canvas(kWidth, kHeight, false);
    int before = 0;
    for (int i = 0; i < 110; ++i) {
        if (i == 10) before = freeGdiRoom();  // once one-time caches have settled
        panel.loadIcons();
        panel.paint(nullptr, canvas.get());
    }
    EXPECT_LE(before - freeGdiRoom(), 5);
}

// The city on show is not asked for again unless forced, an empty one always (nobody listens at port 1).
// An icon path of 80 bytes (白天qing.gif) does not fit: nothing saved under a cut name, no icon loaded.
TEST_F(Weather, RefreshAsksUnlessTheCityIsOnShowAndSavesNoIconUnderACutName) {
    setWeatherHost(weatherHosts.search, "127.0.0.1:1");
    EXPECT_TRUE(panel.refresh("City", false));
    EXPECT_FALSE(panel.refresh("City", true));
    panel.forecastCity[0] = '\0';
    EXPECT_FALSE(panel.refresh("", false));

    const std::string deep = folder.prefix(std::string(80 - folder.prefix().size() - 4 - 8 - 1, 'd'));
    CreateDirectoryA(deep.c_str(), nullptr);
    std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s\\", deep.c_str());
    ScriptedServer site([](const std::string& host) {
        setWeatherHost(weatherHosts.search, host.c_str());
        setWeatherHost(weatherHosts.icon, host.c_str());
        return std::vector<Script>{{"<GET /s?bs=", ">" + ok(page({}))},
                                   {"<GET /vip/baidu/imag/day/qing.gif ", ">" + ok(iconFile(8, 8, 0xFF, 0xFF00, 4))}};
    });
    EXPECT_FALSE(panel.refresh("City", true));
    EXPECT_FALSE(site.finished()) << "the icon is not asked for";
    EXPECT_TRUE(RemoveDirectoryA(deep.c_str()) && std::count(panel.iconBitmaps, panel.iconBitmaps + 6, nullptr) == 6);
}

TEST(WeatherScrape, CutsEachFieldByItsRules) {
    using Today = std::array<std::string, 5>;  // temperature, description, wind, two icon addresses
    const Today worked{WARM, SUN, WIND, iconUrl("day/qing.gif"), iconUrl("night/yin.gif")};
    const std::string defaults = page({}), span = "<span>";
    // Name, page, the field of today that differs from the worked case (-1: incomplete) and its value.
    const std::tuple<const char*, std::string, int, std::string> rows[] = {
        {"worked case", defaults, 0, WARM},
        {"below zero", page({"qing", "yin", ".gif", "-3" DEG TILDE "-12" DEG}), 0, "-3" DEG TILDE "-12" DEG},
        {"no digit before the marker", page({"qing", "yin", ".gif", "x" DEG TILDE "5" DEG}), 0, DEG TILDE "5" DEG},
        {"temperature of 17 bytes", page({"qing", "yin", ".gif", WARM "ABCDEFG"}), 0, WARM "ABCDE"},
        {"temperature cut inside a character", page({"qing", "yin", ".gif", WARM "abcd" DEG}), 0, WARM "abcd"},
        {"png extension", page({"qing", "yin", ".png"}), 3, worked[3]},
        {"no <br>", std::string(defaults).replace(defaults.find("<br>"), 4, "<b>"), -1, ""},
        {"no <span> after tomorrow's description",
         std::string(defaults).replace(defaults.find(span, defaults.find(span) + 1), 6, "<spun>"), -1, ""},
        {"no temperature the day after", page({}, {}, Day{"qing", "yin", ".gif", "22"}), -1, ""},
    };
    for (const auto& [name, text, field, value] : rows) {
        WeatherPanel p;
        EXPECT_EQ(p.parsePage(atPageEnd(text)), field >= 0) << name;
        Today expected = field >= 0 ? worked : Today{};  // an incomplete page writes nothing
        if (field >= 0) expected[field] = value;
        const DayForecast& d = p.days[0];
        EXPECT_EQ(Today({d.temperature, d.description, d.wind, p.iconUrls[0][0], p.iconUrls[0][1]}), expected) << name;
        EXPECT_EQ(p.scanPos, nullptr);
    }
}

// 1 to 47 bytes of host name, a port of 1 to 65535 in at most five digits; anything else leaves
// the field as it was. With a host of 45, an icon address of 79 bytes fits, 80 does not.
TEST_F(Weather, HostsTakeAHostWithAnOptionalPortAndNothingElse) {
    const std::string usable[] = {std::string(47, 'h'), "a-b.c_d:1", "h:65535", "h:00001"};
    const std::string refused[] = {std::string(48, 'h'), "h:000001", "h:65536", "h:0", "h:", ":80", "", "h/x", "h:8x"};
    for (const std::string& text : usable) {
        char field[kWeatherHostSize] = "";
        EXPECT_TRUE(setWeatherHost(field, atPageEnd(text)) && field == text) << text;
    }
    for (const std::string& text : refused) {
        char field[kWeatherHostSize] = "before";
        EXPECT_FALSE(setWeatherHost(field, atPageEnd(text)) || std::strcmp(field, "before")) << text;
    }
    ASSERT_TRUE(setWeatherHost(weatherHosts.icon, std::string(45, 'h').c_str()));
    for (const char* name : {"a", "ab"}) {
        const Day d{"a", name};
        WeatherPanel p;
        EXPECT_EQ(p.parsePage(atPageEnd(page(d, d, d))), name[1] == '\0') << name;
        EXPECT_EQ(std::strlen(p.iconUrls[2][1]), name[1] ? 0u : 79u);
    }
}

// Scaled lengths on each side of a half pixel, and the way back on each side of every scaled edge.
TEST(DpiScale, RoundsHalvesAwayFromZeroAndFindsEachPixelsValueBack) {
    // Value, DPI, scaled: ±73.5, 1.49 and 1.5, and a DPI not known.
    const std::tuple<int, int, int> rows[] = {{320, 120, 400}, {49, 144, 74}, {-49, 144, -74},
                                              {1, 143, 1},     {1, 144, 2},   {36, 0, 36}};
    for (const auto& [value, dpi, want] : rows) EXPECT_EQ(scaleToDpi(value, dpi), want) << value << " at " << dpi;
    // A pixel gives the value whose scaled range holds it: the first and the last pixel of each.
    for (int dpi : {96, 120, 144, 168, 192}) {
        for (int v = -50; v < 300; ++v) {
            ASSERT_EQ(unscaleFromDpi(scaleToDpi(v, dpi), dpi), v) << v << " at " << dpi;
            ASSERT_EQ(unscaleFromDpi(scaleToDpi(v + 1, dpi) - 1, dpi), v) << v << " at " << dpi;
        }
    }
}

}  // namespace
