// The scraper on page texts written here: every documented rule, and texts at and past each
// field's edge. Pages sit right before an inaccessible page, so reading past one shows; that
// every field stays terminated and a short page changes nothing is the fuzzer's to check.

#include "common/forecast_page.h"
#include "tests/test_support.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>

namespace {

using test_support::atPageEnd;

#define DEG "\xA1\xE6"       // ℃
#define TILDE "\xA1\xAB"     // ～
#define SUN "\xC7\xE7"       // 晴
#define OVERCAST "\xD2\xF5"  // 阴
#define NORTH_WIND     \
    "\xB1\xB1\xB7\xE7" \
    "3-4\xBC\xB6"  // 北风3-4级
#define SUN9 SUN SUN SUN SUN SUN SUN SUN SUN SUN

using forecast_page::kIconPath;
using forecast_page::kTableMarker;

struct Day {
    std::string day = "qing", night = "yin", extension = ".gif";
    std::string temperature = "22" DEG TILDE "15" DEG, description = SUN, wind = NORTH_WIND;
};

std::string block(const Day& d) {
    const std::string icons = "http://" + std::string(weatherHosts.icon) + kIconPath;
    return "<tr><td><img src=\"" + icons + "day/" + d.day + d.extension + "\"><img src=\"" + icons + "night/" +
           d.night + d.extension + "\"></td><td>" + d.temperature + "</td><td>" + d.description + "</td><td><span>" +
           d.wind + "</span></td></tr>";
}
std::string page(const Day& today, const Day& tomorrow = {}, const Day& later = {}) {
    return kTableMarker + std::string("<tr><td>city<br>") + block(today) + block(tomorrow) + block(later) + "</table>";
}

// Today's temperature, description, wind and two icon addresses.
using Today = std::array<std::string, 5>;
Today today(const WeatherPanel& p) {
    return {p.days[0].temperature, p.days[0].description, p.days[0].wind, p.iconUrls[0][0], p.iconUrls[0][1]};
}
std::string iconUrl(const char* folder, const std::string& name) {
    return "http://" + std::string(weatherHosts.icon) + kIconPath + folder + name;
}
template <class T>
T with(T t, std::string T::*field, std::string value) {
    t.*field = std::move(value);
    return t;
}

TEST(WeatherScrape, CutsEachFieldByItsRules) {
    const Day earlier{"b1", "b2", ".gif", "1" DEG TILDE "0" DEG, OVERCAST, "W"};
    const Today worked{"22" DEG TILDE "15" DEG, SUN, NORTH_WIND, iconUrl("day/", "qing.gif"),
                       iconUrl("night/", "yin.gif")};
    const Today before{"1" DEG TILDE "0" DEG, OVERCAST, "W", iconUrl("day/", "b1.gif"), iconUrl("night/", "b2.gif")};
    const std::string defaults = page({}), noBr = std::string(defaults).replace(defaults.find("<br>"), 4, "<b>");
    const size_t secondSpan = defaults.find("<span>", defaults.find("<span>") + 1);
    // Name, page, whether complete, the field of today that differs from the worked case and its value.
    const std::tuple<const char*, std::string, bool, int, std::string> rows[] = {
        {"worked case", defaults, true, 0, worked[0]},
        {"below zero", page(with({}, &Day::temperature, "-3" DEG TILDE "-12" DEG)), true, 0, "-3" DEG TILDE "-12" DEG},
        {"no digit before the marker", page(with({}, &Day::temperature, "x" DEG TILDE "5" DEG)), true, 0,
         DEG TILDE "5" DEG},
        {"temperature of 17 bytes", page(with({}, &Day::temperature, "22" DEG TILDE "15" DEG "ABCDEFG")), true, 0,
         "22" DEG TILDE "15" DEG "ABCDE"},
        {"temperature cut inside a character", page(with({}, &Day::temperature, "22" DEG TILDE "15" DEG "abcd" DEG)),
         true, 0, "22" DEG TILDE "15" DEG "abcd"},
        {"nine characters", page(with({}, &Day::description, SUN9)), true, 1, SUN SUN SUN SUN SUN SUN SUN SUN},
        {"a single byte among double bytes", page(with({}, &Day::description, SUN "a" SUN9)), true, 1,
         SUN "a" SUN SUN SUN SUN SUN SUN},
        {"long wind", page(with({}, &Day::wind, NORTH_WIND NORTH_WIND)), true, 2,
         NORTH_WIND "\xB1\xB1\xB7\xE7"
                    "3-4"},
        {"png extension", page(with({}, &Day::extension, ".png")), true, 3, worked[3]},
        {"icon name of 40 bytes", page(with({}, &Day::day, std::string(40, 'n'))), true, 3,
         iconUrl("day/", std::string(31, 'n') + ".gif")},
        {"icon name cut before half a character", page(with({}, &Day::day, std::string(30, 'n') + SUN)), true, 3,
         iconUrl("day/", std::string(30, 'n') + ".gif")},
        {"no <br>", noBr, false, -1, ""},
        {"no <span> after tomorrow's description", std::string(defaults).replace(secondSpan, 6, "<spun>"), false, -1,
         ""},
        {"no temperature the day after", page({}, {}, with({}, &Day::temperature, "22")), false, -1, ""},
        {"page ends inside an icon address", defaults.substr(0, defaults.find("qing") + 3), false, -1, ""},
        {"empty page", "", false, -1, ""},
    };
    for (const auto& [name, text, complete, field, value] : rows) {
        WeatherPanel p;
        ASSERT_TRUE(p.parsePage(atPageEnd(page(earlier, earlier, earlier))));
        EXPECT_EQ(p.parsePage(atPageEnd(text)), complete) << name;
        Today expected = complete ? worked : before;
        if (complete) expected[field] = value;
        EXPECT_EQ(today(p), expected) << name;
        EXPECT_EQ(p.scanPos, nullptr);
    }
}

// The longest icon address that fits takes 79 bytes; one byte more and the page counts as
// incomplete rather than naming a cut address.
TEST(WeatherScrape, RefusesAnIconAddressBeyondItsField) {
    const WeatherHosts saved = weatherHosts;
    ASSERT_TRUE(setWeatherHost(weatherHosts.icon, std::string(45, 'h').c_str()));
    for (const auto& [name, complete] : {std::pair<std::string, bool>{"a", true}, {"ab", false}}) {
        Day d;
        d.day = "a";
        d.night = name;
        WeatherPanel panel;
        EXPECT_EQ(panel.parsePage(atPageEnd(page(d, d, d))), complete) << name;
        EXPECT_EQ(std::strlen(panel.iconUrls[2][1]), complete ? 79u : 0u);
    }
    weatherHosts = saved;
}

// 1 to 47 bytes of host name characters, with a port of 1 to 65535 in at most five digits;
// anything else leaves the field as it was.
TEST(WeatherHosts, TakesAHostWithAnOptionalPortAndNothingElse) {
    const std::pair<std::string, bool> rows[] = {
        {std::string(47, 'h'), true}, {std::string(48, 'h'), false}, {"a-b.c_d:1", true}, {"h:65535", true},
        {"h:00001", true},  {"h:000001", false}, {"h:65536", false}, {"h:0", false}, {"h:", false},
        {":80", false},     {"", false},         {"h/x", false},     {"h:8x", false},
    };
    for (const auto& [text, usable] : rows) {
        char field[kWeatherHostSize] = "before";
        EXPECT_EQ(setWeatherHost(field, atPageEnd(text)), usable) << text;
        EXPECT_STREQ(field, usable ? text.c_str() : "before") << text;
    }
}

}  // namespace
