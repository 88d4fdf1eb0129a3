#include "service/page.h"

#include <gtest/gtest.h>

#include <string>

using namespace forecast;

namespace {

constexpr char kDegreesTilde[] = "\xA1\xE6\xA1\xAB";  // ℃～

// What the program keeps of a body: from the first marker that lies wholly inside one of its
// 1000-byte receives, at most 4999 bytes.
std::string programWindow(const std::string& body) {
    for (std::size_t piece = 0; piece < body.size(); piece += kReceivePiece) {
        std::size_t m = body.substr(piece, kReceivePiece).find(kTableMarker);
        if (m != std::string::npos) return body.substr(piece + m, kReadingWindow - 1);
    }
    return "";
}

bool isLead(char c) { return static_cast<unsigned char>(c) >= 0x81 && static_cast<unsigned char>(c) <= 0xFE; }

std::string copyUntilTag(const std::string& text, std::size_t from) {
    std::string out;
    for (std::size_t i = from; i < text.size() && out.size() < 16 && text[i] != '<'; ++i) out += text[i];
    return out;
}

// The program's scraper, step by step with its scan position.
struct Scraped {
    std::string icon[3][2], temperature[3], description[3], wind[3];
    int steps = 0;
    std::size_t end = 0;  // one past the last wind's text
};

Scraped scrape(const std::string& text, const std::string& iconHost) {
    Scraped s;
    std::size_t pos = text.find("<br>");
    if (pos == std::string::npos) return s;
    for (int day = 0; day < 3; ++day) {
        for (int night = 0; night < 2; ++night) {
            std::string prefix = "http://" + iconHost + "/vip/baidu/imag/" + (night ? "night/" : "day/");
            std::size_t p = text.find(prefix, pos);
            if (p == std::string::npos) return s;
            std::string name = text.substr(p + prefix.size(), 31);
            name = name.substr(0, name.find('.'));
            s.icon[day][night] = prefix + name + ".gif";
            pos = p + s.icon[day][night].size() + 1;
            ++s.steps;
        }
        std::size_t m = text.find(kDegreesTilde, pos);
        if (m == std::string::npos) return s;
        std::size_t start = m;
        for (std::size_t k = 3; k >= 1; --k) {
            if (m >= k && (std::isdigit(static_cast<unsigned char>(text[m - k])) || text[m - k] == '-')) {
                start = m - k;
                break;
            }
        }
        pos = std::min(text.find('<', start), text.size());
        s.temperature[day] = text.substr(start, pos - start);
        while (pos < text.size() && !isLead(text[pos])) ++pos;
        s.description[day] = copyUntilTag(text, pos);
        std::size_t span = text.find("<span>", pos);
        if (span == std::string::npos) return s;
        pos = span + 6;
        s.wind[day] = copyUntilTag(text, pos);
        s.end = pos + s.wind[day].size();
        s.steps += 3;
    }
    return s;
}

std::string temperatureText(int high, int low) {
    return std::to_string(high) + kDegreesTilde + std::to_string(low) + "\xA1\xE6";
}

}  // namespace

TEST(ForecastPage, TheLongestPageScrapesBackWhole) {
    // Every text at its longest: a 15-byte city, a 32-character icon host, the longest icon
    // names, three-character temperatures, 16-byte descriptions and winds.
    const std::string city = "\xCE\xDA\xC2\xB3\xC4\xBE\xC6\xEB\xCE\xDA\xC2\xB3\xC4\xBEx";
    const std::string host = "forecast-icons.example.org:65535";
    ASSERT_EQ(city.size(), kMaxCityBytes);
    ASSERT_EQ(host.size(), kMaxIconHost);
    DayForecast day{"leizhenyu", "yujiaxue", -10, -99, std::string(8, '\0'), std::string(16, '\0')};
    for (int i = 0; i < 8; ++i) day.description.replace(2 * i, 2, "\xD3\xEA");  // 雨 x 8
    for (int i = 0; i < 8; ++i) day.wind.replace(2 * i, 2, "\xB7\xE7");         // 风 x 8
    day.description.resize(16);
    const DayForecast* days[3] = {&day, &day, &day};

    const std::string body = forecastPage(city, days, 19000, host, true);
    const std::size_t marker = body.find(kTableMarker);
    ASSERT_NE(marker, std::string::npos);
    EXPECT_LE(marker % kReceivePiece + sizeof kTableMarker - 1, kReceivePiece) << "marker split between receives";
    EXPECT_GE(body.size() - marker, kReadingWindow) << "too short to end the program's read early";

    const std::string window = programWindow(body);
    Scraped s = scrape(window, host);
    ASSERT_EQ(s.steps, 15);
    EXPECT_LT(s.end, kReadingWindow - 1);
    for (int d = 0; d < 3; ++d) {
        EXPECT_EQ(s.icon[d][0], "http://" + host + "/vip/baidu/imag/day/leizhenyu.gif");
        EXPECT_EQ(s.icon[d][1], "http://" + host + "/vip/baidu/imag/night/yujiaxue.gif");
        EXPECT_EQ(s.temperature[d], temperatureText(-10, -99));
        EXPECT_EQ(s.description[d], day.description);
        EXPECT_EQ(s.wind[d], day.wind);
    }
}

TEST(ForecastPage, EveryTemperatureShapeIsTakenWhole) {
    const int pairs[][2] = {{22, 15}, {5, -3}, {-3, -12}, {0, 0}, {99, -99}, {-1, -9}};
    for (const auto& p : pairs) {
        DayForecast d{"qing", "qing", p[0], p[1], "\xC7\xE7", "\xCE\xA2\xB7\xE7"};  // 晴, 微风
        DayForecast other{"wu", "yin", 1, 0, "\xCE\xED", "\xCE\xA2\xB7\xE7"};       // 雾
        const DayForecast* days[3] = {&d, &other, &d};
        Scraped s =
            scrape(programWindow(forecastPage("\xB1\xB1\xBE\xA9", days, 0, "127.0.0.1:8642", false)), "127.0.0.1:8642");
        ASSERT_EQ(s.steps, 15);
        EXPECT_EQ(s.temperature[0], temperatureText(p[0], p[1]));
        EXPECT_EQ(s.temperature[1], temperatureText(1, 0));
        EXPECT_EQ(s.description[1], "\xCE\xED");
        EXPECT_EQ(s.icon[1][1], "http://127.0.0.1:8642/vip/baidu/imag/night/yin.gif");
    }
}

TEST(PlainPage, HasNoForecastTableAndEscapesTheSearchedWords) {
    std::string page = plainPage("<b>\xB1\xB1&\"", "<b>\xB1\xB1&\"");
    EXPECT_EQ(page.find("al_wt"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_NE(page.find("&lt;b&gt;\xB1\xB1&amp;&quot;"), std::string::npos);
}
