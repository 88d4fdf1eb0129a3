// The service's pages read back by the program's own scraper, built for the host.
#include "service/page.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

using forecast::kReadingWindow;
using forecast::kReceivePiece;
using forecast::kTableMarker;

namespace {

// What the program keeps of a body: from the first marker that lies wholly inside one of its
// 1000-byte receives, at most 4999 bytes; so every field scraped from it lies in the window.
std::string programWindow(const std::string& body) {
    for (std::size_t piece = 0; piece < body.size(); piece += kReceivePiece) {
        std::size_t m = body.substr(piece, kReceivePiece).find(kTableMarker);
        if (m != std::string::npos) return body.substr(piece + m, kReadingWindow - 1);
    }
    return "";
}

}  // namespace

TEST(ForecastPage, TheShortestPageIsPaddedPastTheWindowSoThatTheProgramStopsReading) {
    const forecast::DayForecast fog{"wu", "wu", 1, 0, "\xCE\xED", "x"};  // 雾
    const forecast::DayForecast* days[3] = {&fog, &fog, &fog};
    const std::string body = forecastPage("x", days, 0, "h", false);
    EXPECT_GE(body.size() - body.find(kTableMarker), kReadingWindow);
}

TEST(ForecastPage, TheLongestPagesScrapeBackWholeInsideTheProgramsWindow) {
    // Every text at its longest: a 15-byte city, a 32-character icon host, the longest icon
    // names, 16-byte descriptions and winds; on the first day every shape of temperature.
    const std::string city = "\xCE\xDA\xC2\xB3\xC4\xBE\xC6\xEB\xCE\xDA\xC2\xB3\xC4\xBEx";  // 乌鲁木齐乌鲁木x
    const std::string host = "forecast-icons.example.org:65535";
    ASSERT_EQ(city.size(), forecast::kMaxCityBytes);
    ASSERT_EQ(host.size(), forecast::kMaxIconHost);
    ASSERT_TRUE(setWeatherHost(weatherHosts.icon, host.c_str()));
    std::string rain, wind;
    for (int i = 0; i < 8; ++i) rain += "\xD3\xEA", wind += "\xB7\xE7";  // 雨, 风
    const int temperatures[][2] = {{-10, -99}, {22, 15}, {5, -3}, {-3, -12}, {0, 0}, {99, -99}};
    for (const auto& t : temperatures) {
        const forecast::DayForecast days[3] = {
            {"leizhenyu", "yujiaxue", t[0], t[1], rain, wind},
            {"wu", "yin", 1, 0, "\xCE\xED", "\xCE\xA2\xB7\xE7"},  // 雾, 微风
            {"yujiaxue", "leizhenyu", -10, -10, "\xB7\xE7" + rain.substr(2), rain},
        };
        const forecast::DayForecast* order[3] = {&days[0], &days[1], &days[2]};
        auto panel = std::make_unique<WeatherPanel>();
        ASSERT_TRUE(panel->parsePage(programWindow(forecastPage(city, order, 19000, host, true)).c_str()));
        for (int d = 0; d < 3; ++d) {
            const std::string icons = "http://" + host + "/vip/baidu/imag/";
            EXPECT_EQ(panel->iconUrls[d][0], icons + "day/" + days[d].dayIcon + ".gif");
            EXPECT_EQ(panel->iconUrls[d][1], icons + "night/" + days[d].nightIcon + ".gif");
            EXPECT_EQ(panel->days[d].temperature,
                      std::to_string(days[d].high) + "\xA1\xE6\xA1\xAB" + std::to_string(days[d].low) + "\xA1\xE6");
            EXPECT_EQ(panel->days[d].description, days[d].description);
            EXPECT_EQ(panel->days[d].wind, days[d].wind);
        }
    }
}
