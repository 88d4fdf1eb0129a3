#include "service/service.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "common/forecast_page.h"
#include "service/conditions.h"
#include "service/demo.h"
#include "service/forecast_data.h"
#include "service/gbk.h"
#include "service/page.h"
#include "service/query.h"
#include "service/texts.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

using namespace forecast;  // its DayForecast is spelt out: the program has one too
using namespace forecast_page;
using Json = nlohmann::json;

namespace {

const std::string kWords = "%CC%EC%C6%F8%D4%A4%B1%A8", kBeijing = "\xB1\xB1\xBE\xA9",  // 天气预报, 北京
    kShanghai = "\xC9\xCF\xBA\xA3";                                                    // 上海, the default city
constexpr int kLocalDay = 20000;

Reply get(const std::string& target, const char* method = "GET",
          const Dataset& data = makeDemoDataset(kLocalDay - 1, 5)) {
    return handleRequest(ServiceConfig{"127.0.0.1:8642", kShanghai}, data, method, target, kLocalDay);
}

// One city with one day, `field` of the day set to `value` when given.
std::string dataFile(const char* field = nullptr, const Json& value = nullptr, const char* city = "北京") {
    Json day = {{"date", "2024-07-03"}, {"condition", "qing"}, {"night", "duoyun"}, {"high", 31}, {"low", 22},
                {"text", "晴转多云"},   {"wind", "南风3-4级"}};
    if (field) day[field] = value;
    return Json{{"cities", Json::array({Json{{"name", city}, {"days", Json::array({day})}}})}}.dump();
}

}  // namespace

TEST(Service, AnswersEveryQueryWithItsPageOrStatus) {
    const std::string program = "/s?bs=" + kWords + "+%B1%B1%BE%A9&f=8&wd=" + kWords + "+%B1%B1%BE%A9";
    const std::string forecastFor = kForecastFor, none = kNoForecastFor, search = std::string(kSearch) + ": ";
    const std::tuple<std::string, bool, std::string> pages[] = {
        // target, the forecast page, in the body
        {program, true, forecastFor + kBeijing},
        {"/s?bs=" + kWords + "+&f=8&wd=" + kWords + "+", true, forecastFor + kShanghai},
        {"/s?wd=" + kWords, true, forecastFor + kShanghai},
        {"/s?wd=" + kWords + "%20%20%b1%b1%BE%A9+&wd=x", true, forecastFor + kBeijing},
        {"/s?wd=" + kWords + "+Lhasa", false, none + "Lhasa"},
        {"/s?wd=" + kWords + "+100%25", false, none + "100%"},
        {"/s?wd=" + kWords + "abc", false, search + kWeatherWords + "abc"},
        {"/s?f=8&wd=%3Cb%3E%26%22", false, search + "&lt;b&gt;&amp;&quot;"},
        {"/s?wd=" + std::string(kMaxTarget - 6, 'a'), false, search + "aaa"},  // the longest target
    };
    for (const auto& [target, table, has] : pages) {
        Reply r = get(target);
        EXPECT_EQ(r.status * 10 + r.closeAfter, 2000 + !table) << target;
        EXPECT_EQ(r.contentType + " " + r.cacheControl, "text/html; charset=gbk public, max-age=300");
        EXPECT_EQ(r.body.find(kTableMarker) != std::string::npos, table) << target;
        EXPECT_NE(r.body.find(has), std::string::npos) << target;
    }
    // Broken escapes, in any key; not GBK; no wd; too long; other methods; other paths, and
    // anything but the exact path of a known icon.
    const std::string w = "/s?wd=" + kWords, i = kIconPath;
    const std::pair<int, std::vector<std::string>> refused[] = {
        {400,
         {w + "+%B1%B1%BE%A", "/s?wd=%", "/s?wd=%G1", "/s?wd=%0g", "/s?wd=%%41", "/s?bs=%E&wd=" + kWords + "+a",
          w + "+%B1", w + "+%B1%30", w + "+%B1%7F", "/s?wd=%80", "/s?wd=%FF%A1", w + "+%0A", "/s?bs=x&f=8", "/s"}},
        {414, {"/s?wd=" + std::string(kMaxTarget - 5, 'a')}},
        {405, {"POST /s?wd=x", "DELETE " + i + "day/qing.gif"}},
        {404,
         {"/", "/s/", "/S?wd=x", i + "day/sunny.gif", i + "day/QING.gif", i + "day/%71ing.gif", i + "day/qing.png",
          i + "day/qing.gif/", i + "day/qing.gif?v=1", i + "day//qing.gif", i + "day/../night/qing.gif",
          i + "dusk/qing.gif", i + "day/.gif", i + "day/gif", i + "../../../etc/passwd",
          i + "day/..%2F..%2Fetc%2Fpasswd", i + "qing.gif"}},
    };
    for (const auto& [status, requests] : refused) {
        for (const std::string& r : requests) {
            const std::size_t space = r.find(' ') + 1;  // after a method, if any
            Reply reply = get(r.substr(space), space ? r.substr(0, space - 1).c_str() : "GET");
            EXPECT_TRUE(reply.status == status && reply.body.size() < 100) << r;
        }
    }
    // Data that ends yesterday, or lacks the day after tomorrow: no stale forecast.
    for (const Dataset& stale : {makeDemoDataset(kLocalDay - 5, 5), makeDemoDataset(kLocalDay, 2)}) {
        EXPECT_EQ(get(program, "GET", stale).body.find(kTableMarker), std::string::npos);
    }
}

TEST(Service, ServesEveryKnownIconInBothVariants) {
    for (int i = 0; i < kConditionCount * 2; ++i) {
        const std::string path = kIconPath + std::string(i % 2 ? kNightFolder : kDayFolder) + kConditions[i / 2].icon;
        Reply r = get(path + kIconExtension);
        EXPECT_EQ(r.status * 10 + r.closeAfter, 2001) << path;
        EXPECT_EQ(r.contentType + " " + r.cacheControl, "image/gif public, max-age=86400");
    }
}

TEST(ForecastPage, TheShortestPageIsPaddedPastTheWindowSoThatTheProgramStopsReading) {
    const forecast::DayForecast fog{"wu", "wu", 1, 0, "\xCE\xED", "x"};  // 雾
    const forecast::DayForecast* days[3] = {&fog, &fog, &fog};
    const std::string body = forecastPage("x", days, 0, "h", false, false);
    EXPECT_GE(body.size() - body.find(kTableMarker), kReadingWindow);
    EXPECT_EQ(body.find("Open-Meteo"), std::string::npos);  // a live page names it (seen in the live process test)
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
        const std::string body = forecastPage(city, order, 19000, host, true, true);
        auto panel = std::make_unique<WeatherPanel>();  // reading what the program keeps: 4999 bytes from the marker
        ASSERT_TRUE(panel->parsePage(body.substr(body.find(kTableMarker), kReadingWindow - 1).c_str()));
        for (int d = 0; d < 3; ++d) {
            const forecast::DayForecast& w = days[d];
            const std::string icons = "http://" + host + kIconPath;
            EXPECT_EQ(std::string(panel->iconUrls[d][0]) + " " + panel->iconUrls[d][1] + " " +
                          panel->days[d].temperature + " " + panel->days[d].description + " " + panel->days[d].wind,
                      icons + "day/" + w.dayIcon + ".gif " + icons + "night/" + w.nightIcon + ".gif " +
                          std::to_string(w.high) + "\xA1\xE6\xA1\xAB" + std::to_string(w.low) + "\xA1\xE6 " +
                          w.description + " " + w.wind);
        }
    }
}

TEST(DataFile, DayNumbersRoundTripAndADayIsReadFromUtf8IntoGbk) {
    EXPECT_EQ(dayNumber(2000, 3, 1), 11017);
    for (int n = dayNumber(1899, 1, 1), y = 0, m = 0, d = 0; n < dayNumber(2101, 1, 1); n += 7) {
        civilDate(n, y, m, d);
        ASSERT_EQ(dayNumber(y, m, d), n);
    }
    Dataset data;
    std::string error;
    ASSERT_TRUE(parseDataset(dataFile(), data, error)) << error;
    const forecast::DayForecast& d = data.cities.at(kBeijing).at(dayNumber(2024, 7, 3));  // 晴转多云, 南风3-4级
    EXPECT_EQ(d.dayIcon + " " + d.nightIcon + " " + std::to_string(d.high) + " " + std::to_string(d.low) + " " +
                  d.description + " " + d.wind,
              "qing duoyun 31 22 \xC7\xE7\xD7\xAA\xB6\xE0\xD4\xC6 \xC4\xCF\xB7\xE7\x33-4\xBC\xB6");
}

// A day's field set to a value: taken (no reason) at each limit's own value, refused for its reason past it.
TEST(DataFile, TakesWhatCanBeServedSafelyAndNothingElse) {
    std::vector<std::pair<std::string, std::string>> files = {
        {"{", "not valid JSON"},
        {R"({"towns": []})", "\"cities\""},
        {R"({"cities": [{"name": "北京", "days": []}, {"name": "北京", "days": []}]})", "twice"},
        {dataFile(nullptr, nullptr, "乌鲁木齐市郊区县"), ".name: want"},  // 16 GBK bytes
        {dataFile(nullptr, nullptr, "乌鲁木齐市郊区x"), ""},
    };
    for (const Json& row : Json::parse(R"([["date", "2023-02-29", "days[0].date"], ["date", "2024-7-3", "days[0].date"],
            ["condition", "sunny", "condition: unknown"], ["night", "../qing", "night: unknown"],
            ["high", 3.5, "high: want an integer"], ["low", -100, "low: out of"], ["low", -99, ""], ["high", 99, ""],
            ["high", 100, "high: out of"], ["low", 31, ""], ["low", 32, "high/low"], ["text", "晴转多云转阴小雨", ""],
            ["text", "晴转多云转阴小雨x", "text: want"], ["wind", "wwwwwwwwwwwwwwww", ""],
            ["wind", "wwwwwwwwwwwwwwwww", "wind: want"], ["text", "A晴", "text: want"], ["text", "晴<b>", "text: want"],
            ["text", "晴☀", "text: missing or not representable"], ["wind", "北风<3级", "wind: want"],
            ["wind", "", "wind: want"]])")) {  // a day's field set to a value; 16 bytes of text or wind at most
        files.emplace_back(dataFile(row[0].get<std::string>().c_str(), row[1]), row[2]);
    }
    for (const auto& [text, reason] : files) {
        Dataset data;
        std::string error;
        EXPECT_EQ(parseDataset(text, data, error), reason.empty()) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

// Every demo day is one the data file could hold, and depends on its date alone.
TEST(DemoData, CoversEveryCityWithValidDeterministicDays) {
    const int first = dayNumber(2024, 1, 1);
    const Dataset year = makeDemoDataset(first, 366), later = makeDemoDataset(first + 100, 3);
    ASSERT_EQ(year.cities.size(), static_cast<std::size_t>(kDemoCityCount));
    for (const auto& [city, days] : year.cities) {
        std::string utf8, gbk, why;  // every name survives the round trip through UTF-8
        EXPECT_TRUE(city.size() <= kMaxCityBytes && gbkToUtf8(city, utf8) && utf8ToGbk(utf8, gbk) && gbk == city);
        for (const auto& [n, day] : days) ASSERT_TRUE(checkDay(day, why)) << n << ": " << why;
        const forecast::DayForecast &a = days.at(first + 101), &b = later.cities.at(city).at(first + 101);
        EXPECT_EQ(a.description + a.wind + std::to_string(a.high * 1000 + a.low),
                  b.description + b.wind + std::to_string(b.high * 1000 + b.low));
    }
}
