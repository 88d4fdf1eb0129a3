// A refresh against a forecast site on 127.0.0.1 that the test runs itself: the query byte
// for byte, the icon cache, and every way a query can fail without spoiling the forecast.

#include "tests/test_support.h"
#include "tests/weather/gif_writer.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <gtest/gtest.h>

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

constexpr char kMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
const char* const kIcons[6] = {"day/qing", "night/yin", "day/yu", "night/yu", "day/xue", "night/qing"};

// Answers each request by its path from a fixed table (404 for anything else), over kept
// connections, and records the request paths. Stops with the test.
class ForecastSite {
public:
    explicit ForecastSite(std::map<std::string, std::string> pages) : pages_(std::move(pages)) {
        thread = std::thread([this] { run(); });
    }
    ~ForecastSite() {
        stopping = true;
        thread.join();
    }
    std::string host() const { return listener.host(); }
    void set(const std::string& path, std::string response) {
        std::lock_guard<std::mutex> lock(mutex);
        pages_[path] = std::move(response);
    }
    std::vector<std::string> takeRequests() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::move(requests_);
    }

private:
    void run() {
        SOCKET connection = INVALID_SOCKET;
        std::string pending;
        while (!stopping) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(listener.socket, &set);
            if (connection != INVALID_SOCKET) FD_SET(connection, &set);
            timeval bound{0, 50000};
            if (select(0, &set, nullptr, nullptr, &bound) <= 0) continue;
            if (FD_ISSET(listener.socket, &set)) {
                if (connection != INVALID_SOCKET) closesocket(connection);
                connection = accept(listener.socket, nullptr, nullptr);
                pending.clear();
                continue;
            }
            char buffer[4096];
            const int n = recv(connection, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closesocket(connection);
                connection = INVALID_SOCKET;
                continue;
            }
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = pending.find("\r\n\r\n")) != std::string::npos; pending.erase(0, end + 4)) {
                const size_t start = pending.find(' ') + 1;
                const std::string path = pending.substr(start, pending.find(' ', start) - start);
                std::string response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    requests_.push_back(path);
                    if (pages_.count(path)) response = pages_[path];
                }
                send(connection, response.data(), static_cast<int>(response.size()), 0);
            }
        }
        if (connection != INVALID_SOCKET) closesocket(connection);
    }

    std::map<std::string, std::string> pages_;
    std::vector<std::string> requests_;
    std::mutex mutex;
    std::atomic<bool> stopping{false};
    test_support::LoopbackListener listener;
    std::thread thread;
};

std::string forecastPage(const std::string& iconHost, const char* temperature = "22" DEG TILDE "15" DEG) {
    std::string page = "<html>" + std::string(kMarker) + "<tr><td><br>";
    for (int day = 0; day < 3; ++day) {
        page += "<td><img src=\"http://" + iconHost + "/vip/baidu/imag/" + kIcons[2 * day] + ".png\">";
        page += "<img src=\"http://" + iconHost + "/vip/baidu/imag/" + kIcons[2 * day + 1] + ".gif\"></td>";
        page += "<td>" + std::string(temperature) + "</td><td>\xC7\xE7</td><td><span>\xB1\xB1\xB7\xE7</span></td>";
    }
    return page + "</table></html>";
}

std::string queryPath(const std::string& encodedCity) {
    return "/s?bs=" WORDS + encodedCity + "&f=8&wd=" WORDS + encodedCity;
}

// A site serving a forecast for 北京 and the six icons, a panel that fetches from it into
// a folder of the test's own, and the site's own host names restored afterwards.
class WeatherRefresh : public ::testing::Test {
protected:
    WeatherRefresh() : site({}), saved(weatherHosts) {
        setWeatherHost(weatherHosts.search, site.host().c_str());
        setWeatherHost(weatherHosts.icon, site.host().c_str());
        site.set(queryPath("%B1%B1%BE%A9"), ok(forecastPage(site.host())));
        site.set(queryPath(""), ok(forecastPage(site.host(), "-3" DEG TILDE "-12" DEG)));
        for (const char* icon : kIcons) {
            site.set(std::string("/vip/baidu/imag/") + icon + ".gif", ok(makeGif(8, 8, 0x0000FF, 0x00FF00, 4)));
        }
        const std::string prefix = folder.path.string() + "\\";
        std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s", prefix.c_str());
    }
    ~WeatherRefresh() override {
        weatherHosts = saved;
        for (HBITMAP& b : panel.iconBitmaps) DeleteObject(b);
    }
    std::vector<std::string> iconRequests(size_t count) {
        std::vector<std::string> paths;
        for (size_t i = 0; i < count; ++i) paths.push_back(std::string("/vip/baidu/imag/") + kIcons[i] + ".gif");
        return paths;
    }
    std::vector<std::string> plus(std::vector<std::string> first, const std::vector<std::string>& then) {
        first.insert(first.end(), then.begin(), then.end());
        return first;
    }
    int bitmaps() const {
        int n = 0;
        for (HBITMAP b : panel.iconBitmaps) n += b != nullptr;
        return n;
    }

    ForecastSite site;
    WeatherHosts saved;
    test_support::TempFolder folder{"pellumo-weather"};
    WeatherPanel panel;
};

TEST_F(WeatherRefresh, QueriesByteForByteAndFetchesOnlyWhatIsNotCached) {
    ASSERT_TRUE(panel.refresh(BEIJING, false));
    EXPECT_EQ(site.takeRequests(), plus({queryPath("%B1%B1%BE%A9")}, iconRequests(6)));
    EXPECT_EQ(bitmaps(), 6);
    EXPECT_STREQ(panel.forecastCity, BEIJING);
    EXPECT_STREQ(panel.days[0].temperature, "22" DEG TILDE "15" DEG);
    EXPECT_EQ(panel.days[0].dayIconPath, folder.path.string() + "\\" DAY_WORD "qing.gif")
        << "png in the page, gif saved";
    EXPECT_TRUE(fileExists(panel.days[2].nightIconPath));

    EXPECT_TRUE(panel.refresh(BEIJING, false));
    EXPECT_EQ(site.takeRequests().size(), 0u) << "the same city, not forced: nothing asked";
    EXPECT_TRUE(panel.refresh(BEIJING, true));
    EXPECT_EQ(site.takeRequests(), std::vector<std::string>{queryPath("%B1%B1%BE%A9")}) << "icons cached";

    // The empty city is never taken as unchanged.
    EXPECT_TRUE(panel.refresh("", false));
    EXPECT_TRUE(panel.refresh("", false));
    EXPECT_EQ(site.takeRequests(), std::vector<std::string>(2, "/s?bs=" WORDS "&f=8&wd=" WORDS));
    EXPECT_STREQ(panel.days[0].temperature, "-3" DEG TILDE "-12" DEG);
    EXPECT_FALSE(panel.refresh(nullptr, true));
}

TEST_F(WeatherRefresh, AnUnknownCityKeepsTheForecastAndItsName) {
    ASSERT_TRUE(panel.refresh(BEIJING, false));
    const std::vector<char> before(reinterpret_cast<const char*>(panel.days),
                                   reinterpret_cast<const char*>(panel.days + 3));
    HBITMAP first = panel.iconBitmaps[0];
    site.set(queryPath("%C9%CF%BA%A3"), ok("<html>no forecast for that city</html>"));
    site.takeRequests();

    EXPECT_FALSE(panel.refresh(SHANGHAI, false));
    EXPECT_EQ(site.takeRequests(), std::vector<std::string>{queryPath("%C9%CF%BA%A3")});
    EXPECT_STREQ(panel.city, SHANGHAI) << "stored, to be saved, all the same";
    EXPECT_STREQ(panel.forecastCity, BEIJING) << "the forecast on show is still Beijing's";
    EXPECT_EQ(std::memcmp(before.data(), panel.days, before.size()), 0);
    EXPECT_EQ(panel.iconBitmaps[0], first);
}

TEST_F(WeatherRefresh, AFailedIconStopsTheRefreshBeforeTheBitmaps) {
    site.set(std::string("/vip/baidu/imag/") + kIcons[2] + ".gif",
             "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    EXPECT_FALSE(panel.refresh(BEIJING, false));
    EXPECT_EQ(site.takeRequests(), plus({queryPath("%B1%B1%BE%A9")}, iconRequests(3)));
    EXPECT_NE(panel.days[0].nightIconPath[0], '\0');
    EXPECT_EQ(panel.days[1].dayIconPath[0], '\0');
    EXPECT_EQ(bitmaps(), 0);
}

TEST_F(WeatherRefresh, ABrokenCachedIconIsFetchedAgain) {
    const std::string cached = folder.path.string() + "\\" DAY_WORD "qing.gif";
    std::ofstream(cached, std::ios::binary) << "<html>Service Unavailable</html>";
    EXPECT_TRUE(panel.refresh(BEIJING, false));
    const std::vector<std::string> icons = iconRequests(6);
    EXPECT_EQ(site.takeRequests(), plus({queryPath("%B1%B1%BE%A9")}, {icons.begin() + 1, icons.end()}));
    EXPECT_FALSE(fileExists(cached)) << "deleted by the load that found it broken";
    EXPECT_EQ(panel.iconBitmaps[0], nullptr);
    EXPECT_EQ(bitmaps(), 5);

    EXPECT_TRUE(panel.refresh(BEIJING, true));
    EXPECT_EQ(site.takeRequests(), plus({queryPath("%B1%B1%BE%A9")}, iconRequests(1)));
    EXPECT_EQ(bitmaps(), 6);
}

// An icon path that would not fit its 80-byte field is never saved under a cut name.
TEST_F(WeatherRefresh, AnIconPathBeyondItsFieldFailsBeforeSaving) {
    const std::string prefix = folder.path.string() + "\\";
    // With 白天 and "qing.gif" the path takes exactly 80 bytes.
    const fs::path deep = folder.path / std::string(80 - prefix.size() - 4 - 8 - 1, 'd');
    fs::create_directories(deep);
    std::snprintf(panel.pictureFolder, sizeof panel.pictureFolder, "%s\\", deep.string().c_str());
    EXPECT_FALSE(panel.refresh(BEIJING, false));
    EXPECT_EQ(site.takeRequests(), std::vector<std::string>{queryPath("%B1%B1%BE%A9")});
    EXPECT_TRUE(fs::is_empty(deep));
}

// A city of more than 15 bytes comes only from a hand-edited settings line: it is cut to
// whole characters, and stored even though its query fails.
TEST(WeatherPanel, CutsALongCityAtACharacter) {
    const WeatherHosts saved = weatherHosts;
    ASSERT_TRUE(setWeatherHost(weatherHosts.search, "127.0.0.1:1"));  // refused at once
    WeatherPanel panel;
    EXPECT_FALSE(panel.refresh(BEIJING BEIJING SHANGHAI BEIJING, false));  // 16 bytes
    EXPECT_STREQ(panel.city, BEIJING BEIJING SHANGHAI "\xB1\xB1");
    EXPECT_FALSE(panel.refresh("abcdefghijklmn" BEIJING, false));
    EXPECT_STREQ(panel.city, "abcdefghijklmn") << "no lead byte without its second";
    weatherHosts = saved;
}

TEST(WeatherPanel, ConstructionMakesThePictureFolderAndClearsDownloadLeftovers) {
    const fs::path home = fs::temp_directory_path() / ("pellumo-home-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(home / "picture");
    std::ofstream(home / "picture" / "pel1A2B.tmp") << "half an icon";
    const std::string cached = (home / "picture").string() + "\\" DAY_WORD "qing.gif";
    std::ofstream(cached) << "a cached icon";
    const fs::path previous = fs::current_path();
    fs::current_path(home);
    {
        WeatherPanel panel;
        EXPECT_EQ(panel.pictureFolder, (home / "picture").string() + "\\");
        EXPECT_STREQ(panel.days[1].dayName, "\xC3\xF7\xCC\xEC");  // 明天
        EXPECT_EQ(std::make_tuple(panel.textColor, panel.originX, panel.originY),
                  std::make_tuple(COLORREF{0xFF00FF}, 4, 260));
    }
    fs::current_path(previous);
    EXPECT_FALSE(fs::exists(home / "picture" / "pel1A2B.tmp"));
    EXPECT_TRUE(fileExists(cached));
    fs::remove_all(home);
}

}  // namespace
