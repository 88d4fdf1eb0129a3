// Refreshes against scripted sites on 127.0.0.1, one site a refresh, each expecting its
// requests in order: one asked for out of turn, or not at all, shows.

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

// The panel's names are in the ANSI code page, which std::filesystem does not take here.
bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

#define DEG "\xA1\xE6"               // ℃
#define TILDE "\xA1\xAB"             // ～
#define BEIJING "\xB1\xB1\xBE\xA9"   // 北京
#define SHANGHAI "\xC9\xCF\xBA\xA3"  // 上海
#define DAY_WORD "\xB0\xD7\xCC\xEC"  // 白天
#define WORDS "%CC%EC%C6%F8%D4%A4%B1%A8+"

const char* const kIcons[6] = {"day/qing", "night/yin", "day/yu", "night/yu", "day/xue", "night/qing"};
const std::string kBeijingQuery = "/s?bs=" WORDS "%B1%B1%BE%A9&f=8&wd=" WORDS "%B1%B1%BE%A9";
const char* const kWarm = "22" DEG TILDE "15" DEG;

// A panel fetching into a folder of the test's own; the host names restored afterwards.
class WeatherRefresh : public ::testing::Test {
protected:
    WeatherRefresh() { std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s", folder.prefix().c_str()); }
    ~WeatherRefresh() override {
        weatherHosts = saved;
        for (HBITMAP& b : panel.iconBitmaps) DeleteObject(b);
    }
    int bitmaps() const { return 6 - static_cast<int>(std::count(panel.iconBitmaps, panel.iconBitmaps + 6, nullptr)); }

    // One refresh against a site that must be asked for exactly the page at `query` (none when
    // empty) and then the icons from `from` up to `to`, the icon `failing` answered with 404;
    // with `asksAll` false, it offers them but must not be asked for all. `page` replaces the
    // forecast page, which names the site for the icons.
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

// One panel through a refresh and then each failure in turn: each leaves it whole, and the
// next refresh mends it.
TEST_F(WeatherRefresh, QueriesOnlyWhatIsNotCachedAndSurvivesEachFailure) {
    EXPECT_FALSE(refresh(BEIJING, false, kBeijingQuery, 0, 3, nullptr, 2));
    EXPECT_EQ(bitmaps(), 0) << "a failed icon download stops the refresh before any bitmap";
    // A broken icon in the cache is deleted by the load that finds it, the others still shown;
    // the next refresh fetches it again.
    const std::string cached = folder.prefix(DAY_WORD "qing.gif");
    std::ofstream(cached, std::ios::binary) << "<html>Service Unavailable</html>";
    EXPECT_TRUE(refresh(BEIJING, true, kBeijingQuery, 2, 6));
    EXPECT_TRUE(!exists(cached) && panel.iconBitmaps[0] == nullptr && bitmaps() == 5);
    EXPECT_TRUE(refresh(BEIJING, true, kBeijingQuery, 0, 1) && bitmaps() == 6);
    EXPECT_TRUE(panel.days[0].dayIconPath == cached && !std::strcmp(panel.days[0].temperature, kWarm));
    EXPECT_TRUE(refresh(BEIJING, false, "", 0, 0)) << "the same city, not forced: nothing asked";
    const std::string empty = "/s?bs=" WORDS "&f=8&wd=" WORDS;  // never taken as unchanged
    EXPECT_TRUE(refresh("", false, empty, 0, 0) && refresh("", false, empty, 0, 0));
    EXPECT_STREQ(panel.days[0].temperature, "-3" DEG TILDE "-12" DEG);
    EXPECT_TRUE(refresh(BEIJING, true, kBeijingQuery, 0, 0)) << "icons cached";

    // A city the site knows no forecast for is stored, to be saved, but the forecast on show,
    // its bitmaps and the name drawn over it stay those of the city before.
    const std::vector<char> before(reinterpret_cast<char*>(panel.days), reinterpret_cast<char*>(panel.days + 3));
    HBITMAP first = panel.iconBitmaps[0];
    const std::string query = "/s?bs=" WORDS "%C9%CF%BA%A3&f=8&wd=" WORDS "%C9%CF%BA%A3";
    EXPECT_FALSE(refresh(SHANGHAI, false, query, 0, 0, "<html>no forecast for that city</html>"));
    EXPECT_TRUE(!std::strcmp(panel.city, SHANGHAI) && !std::strcmp(panel.forecastCity, BEIJING));
    EXPECT_TRUE(!std::memcmp(before.data(), panel.days, before.size()) && panel.iconBitmaps[0] == first);

    // An icon path that would not fit its 80-byte field is never saved under a cut name:
    // with 白天 and "qing.gif" this one takes exactly 80 bytes.
    const std::string deep = folder.prefix(std::string(80 - folder.prefix().size() - 4 - 8 - 1, 'd'));
    CreateDirectoryA(deep.c_str(), nullptr);
    std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s\\", deep.c_str());
    EXPECT_FALSE(refresh(BEIJING, true, kBeijingQuery, 0, 1, nullptr, -1, false));
    EXPECT_TRUE(RemoveDirectoryA(deep.c_str())) << "nothing saved in it";
}

}  // namespace
