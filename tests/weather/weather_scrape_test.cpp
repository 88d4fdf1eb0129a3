// The scraper on page texts written here, each right before an inaccessible page. The fuzzer
// checks that every field stays terminated, whole characters within its limit, and that an
// incomplete page changes nothing.

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
std::string with(std::string Day::*field, const std::string& value) {
    Day d;
    d.*field = value;
    return page(d);
}

TEST(WeatherScrape, CutsEachFieldByItsRules) {
    using Today = std::array<std::string, 5>;  // temperature, description, wind, two icon addresses
    const Today worked{WARM, SUN, WIND, iconUrl("day/qing.gif"), iconUrl("night/yin.gif")};
    const Day earlier{"b1", "b2", ".gif", "1" DEG TILDE "0" DEG, "\xD2\xF5", "W"};
    const Today before{"1" DEG TILDE "0" DEG, "\xD2\xF5", "W", iconUrl("day/b1.gif"), iconUrl("night/b2.gif")};
    const std::string defaults = page({}), span = "<span>";
    // Name, page, the field of today that differs from the worked case (-1: incomplete) and its value.
    const std::tuple<const char*, std::string, int, std::string> rows[] = {
        {"worked case", defaults, 0, WARM},
        {"below zero", with(&Day::temperature, "-3" DEG TILDE "-12" DEG), 0, "-3" DEG TILDE "-12" DEG},
        {"no digit before the marker", with(&Day::temperature, "x" DEG TILDE "5" DEG), 0, DEG TILDE "5" DEG},
        {"temperature of 17 bytes", with(&Day::temperature, WARM "ABCDEFG"), 0, WARM "ABCDE"},
        {"temperature cut inside a character", with(&Day::temperature, WARM "abcd" DEG), 0, WARM "abcd"},
        {"png extension", with(&Day::extension, ".png"), 3, worked[3]},
        {"no <br>", std::string(defaults).replace(defaults.find("<br>"), 4, "<b>"), -1, ""},
        {"no <span> after tomorrow's description",
         std::string(defaults).replace(defaults.find(span, defaults.find(span) + 1), 6, "<spun>"), -1, ""},
        {"no temperature the day after", page({}, {}, Day{"qing", "yin", ".gif", "22"}), -1, ""},
    };
    for (const auto& [name, text, field, value] : rows) {
        WeatherPanel p;
        ASSERT_TRUE(p.parsePage(atPageEnd(page(earlier, earlier, earlier))));
        EXPECT_EQ(p.parsePage(atPageEnd(text)), field >= 0) << name;
        Today expected = field >= 0 ? worked : before;
        if (field >= 0) expected[field] = value;
        const DayForecast& d = p.days[0];
        EXPECT_EQ(Today({d.temperature, d.description, d.wind, p.iconUrls[0][0], p.iconUrls[0][1]}), expected) << name;
        EXPECT_EQ(p.scanPos, nullptr);
    }
}

// 1 to 47 bytes of host name characters, with a port of 1 to 65535 in at most five digits;
// anything else leaves the field as it was. With a host of 45, the longest icon address that
// fits takes 79 bytes; one byte more and the page is incomplete.
TEST(WeatherHosts, TakesAHostWithAnOptionalPortAndNothingElse) {
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
    const WeatherHosts saved = weatherHosts;
    ASSERT_TRUE(setWeatherHost(weatherHosts.icon, std::string(45, 'h').c_str()));
    for (const char* name : {"a", "ab"}) {
        const Day d{"a", name};
        WeatherPanel panel;
        EXPECT_EQ(panel.parsePage(atPageEnd(page(d, d, d))), name[1] == '\0') << name;
        EXPECT_EQ(std::strlen(panel.iconUrls[2][1]), name[1] ? 0u : 79u);
    }
    weatherHosts = saved;
}

}  // namespace
