// A refresh against a forecast site on 127.0.0.1 that the test runs itself: the query byte
// for byte, the icon cache, and every way a query can fail without spoiling the forecast.

#include "tests/test_support.h"
#include "tests/weather/gif_writer.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using test_support::ok;

// std::filesystem takes narrow names as UTF-8 here; the panel's names are in the ANSI code page.
bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

#define DEG "\xA1\xE6"               // ℃
#define TILDE "\xA1\xAB"             // ～
#define BEIJING "\xB1\xB1\xBE\xA9"   // 北京
#define SHANGHAI "\xC9\xCF\xBA\xA3"  // 上海
#define DAY_WORD "\xB0\xD7\xCC\xEC"  // 白天
#define WORDS "%CC%EC%C6%F8%D4%A4%B1%A8+"

const char* const kIcons[6] = {"day/qing", "night/yin", "day/yu", "night/yu", "day/xue", "night/qing"};
const std::string kBeijingQuery = "/s?bs=" WORDS "%B1%B1%BE%A9&f=8&wd=" WORDS "%B1%B1%BE%A9";
const std::string kEmptyQuery = "/s?bs=" WORDS "&f=8&wd=" WORDS;

// Answers each request by its path from a table (404 for anything else) over one kept
// connection at a time, and records the paths asked for. Stops with the test.
class ForecastSite {
public:
    ~ForecastSite() {
        stopping = true;
        thread.join();
    }
    std::string host() const { return listener.host(); }
    void set(const std::string& path, std::string response) {
        std::lock_guard<std::mutex> lock(mutex);
        pages[path] = std::move(response);
    }
    std::vector<std::string> takeRequests() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(requests);
    }

private:
    std::map<std::string, std::string> pages;
    std::vector<std::string> requests;
    std::mutex mutex;
    std::atomic<bool> stopping{false};
    test_support::LoopbackListener listener;
    std::thread thread{[this] {
        SOCKET connection = INVALID_SOCKET;
        std::string pending;
        while (!stopping) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(listener.socket, &set);
            if (connection != INVALID_SOCKET) FD_SET(connection, &set);
            timeval bound{0, 50000};
            if (select(0, &set, nullptr, nullptr, &bound) <= 0) continue;
            char buffer[4096];
            const int n = FD_ISSET(listener.socket, &set) ? 0 : recv(connection, buffer, sizeof buffer, 0);
            pending.append(buffer, n > 0 ? n : 0);
            for (size_t end; (end = pending.find("\r\n\r\n")) != std::string::npos; pending.erase(0, end + 4)) {
                const size_t start = pending.find(' ') + 1;
                const std::string path = pending.substr(start, pending.find(' ', start) - start);
                std::lock_guard<std::mutex> lock(mutex);
                requests.push_back(path);
                const std::string response = pages.count(path) ? pages[path] : ok("", "HTTP/1.1 404 Not Found\r\n");
                send(connection, response.data(), static_cast<int>(response.size()), 0);
            }
            if (n > 0) continue;
            if (connection != INVALID_SOCKET) closesocket(connection);  // the peer closed, or a new one came
            connection = FD_ISSET(listener.socket, &set) ? accept(listener.socket, nullptr, nullptr) : INVALID_SOCKET;
            pending.clear();
        }
        if (connection != INVALID_SOCKET) closesocket(connection);
    }};
};

std::string forecastPage(const std::string& iconHost, const char* temperature) {
    std::string page = "<html><table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\"><tr><td><br>";
    for (int day = 0; day < 3; ++day) {
        page += "<td><img src=\"http://" + iconHost + "/vip/baidu/imag/" + kIcons[2 * day] + ".png\">";
        page += "<img src=\"http://" + iconHost + "/vip/baidu/imag/" + kIcons[2 * day + 1] + ".gif\"></td>";
        page += "<td>" + std::string(temperature) + "</td><td>\xC7\xE7</td><td><span>\xB1\xB1\xB7\xE7</span></td>";
    }
    return page + "</table></html>";
}

// The page's path and then icons `from` up to `to`, as the site should see them asked for.
std::vector<std::string> asked(const std::string& page, int from = 0, int to = 6) {
    std::vector<std::string> paths{page};
    for (int i = from; i < to; ++i) paths.push_back(std::string("/vip/baidu/imag/") + kIcons[i] + ".gif");
    return paths;
}

// A site serving forecasts for 北京 and the empty city and the six icons, a panel that
// fetches from it into a folder of the test's own, and the host names restored afterwards.
class WeatherRefresh : public ::testing::Test {
protected:
    WeatherRefresh() {
        setWeatherHost(weatherHosts.search, site.host().c_str());
        setWeatherHost(weatherHosts.icon, site.host().c_str());
        site.set(kBeijingQuery, ok(forecastPage(site.host(), "22" DEG TILDE "15" DEG)));
        site.set(kEmptyQuery, ok(forecastPage(site.host(), "-3" DEG TILDE "-12" DEG)));
        for (const std::string& icon : asked("", 0, 6)) site.set(icon, ok(makeGif(8, 8, 0x0000FF, 0x00FF00, 4)));
        std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s", folder.prefix().c_str());
    }
    ~WeatherRefresh() override {
        weatherHosts = saved;
        for (HBITMAP& b : panel.iconBitmaps) DeleteObject(b);
    }
    int bitmaps() const { return 6 - static_cast<int>(std::count(panel.iconBitmaps, panel.iconBitmaps + 6, nullptr)); }

    ForecastSite site;
    const WeatherHosts saved = weatherHosts;
    test_support::TempFolder folder{"pellumo-weather"};
    WeatherPanel panel;
};

TEST_F(WeatherRefresh, QueriesByteForByteAndFetchesOnlyWhatIsNotCached) {
    ASSERT_TRUE(panel.refresh(BEIJING, false));
    EXPECT_EQ(site.takeRequests(), asked(kBeijingQuery));
    EXPECT_EQ(bitmaps(), 6);
    EXPECT_STREQ(panel.days[0].temperature, "22" DEG TILDE "15" DEG);
    EXPECT_EQ(panel.days[0].dayIconPath, folder.prefix(DAY_WORD "qing.gif")) << "png in the page, gif saved";
    EXPECT_TRUE(fileExists(panel.days[2].nightIconPath));
    EXPECT_TRUE(panel.refresh(BEIJING, false));
    EXPECT_EQ(site.takeRequests().size(), 0u) << "the same city, not forced: nothing asked";
    EXPECT_TRUE(panel.refresh(BEIJING, true));
    EXPECT_EQ(site.takeRequests(), asked(kBeijingQuery, 0, 0)) << "icons cached";
    // The empty city is never taken as unchanged.
    EXPECT_TRUE(panel.refresh("", false) && panel.refresh("", false));
    EXPECT_EQ(site.takeRequests(), std::vector<std::string>(2, kEmptyQuery));
    EXPECT_STREQ(panel.days[0].temperature, "-3" DEG TILDE "-12" DEG);
}

// One panel through the failures in turn: each leaves it whole, and the next refresh mends it.
TEST_F(WeatherRefresh, EachFailureLeavesTheForecastWhole) {
    // A failed icon download stops the refresh before any bitmap is made.
    site.set(asked("", 2, 3)[1], ok("", "HTTP/1.1 404 Not Found\r\n"));
    EXPECT_FALSE(panel.refresh(BEIJING, false));
    EXPECT_EQ(site.takeRequests(), asked(kBeijingQuery, 0, 3));
    EXPECT_EQ(bitmaps(), 0);

    // A broken icon in the cache is deleted by the load that finds it, the others still
    // shown; the next refresh fetches it again.
    site.set(asked("", 2, 3)[1], ok(makeGif(8, 8, 0x0000FF, 0x00FF00, 4)));
    const std::string cached = folder.prefix(DAY_WORD "qing.gif");
    std::ofstream(cached, std::ios::binary) << "<html>Service Unavailable</html>";
    EXPECT_TRUE(panel.refresh(BEIJING, true));
    EXPECT_EQ(site.takeRequests(), asked(kBeijingQuery, 2, 6));
    EXPECT_FALSE(fileExists(cached));
    EXPECT_TRUE(panel.iconBitmaps[0] == nullptr && bitmaps() == 5);
    EXPECT_TRUE(panel.refresh(BEIJING, true));
    EXPECT_EQ(site.takeRequests(), asked(kBeijingQuery, 0, 1));
    EXPECT_EQ(bitmaps(), 6);

    // A city the site knows no forecast for is stored, to be saved, but the forecast on
    // show, its bitmaps and the name drawn over it stay those of the city before.
    const std::vector<char> before(reinterpret_cast<const char*>(panel.days),
                                   reinterpret_cast<const char*>(panel.days + 3));
    HBITMAP first = panel.iconBitmaps[0];
    const std::string query = "/s?bs=" WORDS "%C9%CF%BA%A3&f=8&wd=" WORDS "%C9%CF%BA%A3";
    site.set(query, ok("<html>no forecast for that city</html>"));
    EXPECT_FALSE(panel.refresh(SHANGHAI, false));
    EXPECT_EQ(site.takeRequests(), asked(query, 0, 0));
    EXPECT_TRUE(!std::strcmp(panel.city, SHANGHAI) && !std::strcmp(panel.forecastCity, BEIJING));
    EXPECT_EQ(std::memcmp(before.data(), panel.days, before.size()), 0);
    EXPECT_EQ(panel.iconBitmaps[0], first);

    // An icon path that would not fit its 80-byte field is never saved under a cut name:
    // with 白天 and "qing.gif" this one takes 81 bytes.
    const fs::path deep = folder.path / std::string(80 - folder.prefix().size() - 4 - 8, 'd');
    fs::create_directories(deep);
    std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s\\", deep.string().c_str());
    EXPECT_FALSE(panel.refresh(BEIJING, true));
    EXPECT_EQ(site.takeRequests(), asked(kBeijingQuery, 0, 0));
    EXPECT_TRUE(fs::is_empty(deep));
}

}  // namespace
