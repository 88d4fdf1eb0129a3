#include "service/service.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "common/forecast_page.h"
#include "service/demo.h"
#include "service/forecast_data.h"
#include "service/live_cache.h"
#include "service/live_parse.h"
#include "service/live_tables.h"
#include "service/page.h"
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

constexpr long long kNoonUtc = 20000LL * 86400 + 12 * 3600;  // 2024-10-04 12:00 UTC
const std::string kCalm = "\xCE\xA2\xB7\xE7", kForce = "\xBC\xB6", kUnclear = "\xCC\xEC\xC6\xF8\xB2\xBB\xC3\xF7";

Json goodForecast(int offset = 0, int firstDay = 20000) {
    const char* dates[] = {"2024-10-04", "2024-10-05", "2024-10-06", "2024-10-07"};  // from day 20000 on
    return {{"utc_offset_seconds", offset},
            {"daily",
             {{"time", {dates[firstDay - 20000], dates[firstDay - 19999], dates[firstDay - 19998]}},
              {"weather_code", {0, 63, 96}},
              {"temperature_2m_max", {21.5, 18.4, -0.4}},
              {"temperature_2m_min", {10.5, 9.0, -3.5}},
              {"wind_speed_10m_max", {11.9, 19.8, 40.0}},
              {"wind_direction_10m_dominant", {10, 315, 180}}}}};
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
        EXPECT_EQ(r.body.find("Open-Meteo"),
                  std::string::npos);  // a live page names it (seen in the live process test)
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
          i + "dusk/qing.gif", i + "day/.gif", i + "day/gif", i + "qing.gif"}},
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
    // A demo day depends on its date alone, not on the first day generated.
    EXPECT_EQ(get(program).body, get(program, "GET", makeDemoDataset(kLocalDay - 9, 12)).body);
}

TEST(ForecastPage, TheLongestPagesScrapeBackWholeInsideTheProgramsWindow) {
    // Every text at its longest: a 15-byte city, a 32-character icon host, the longest icon
    // names, 16-byte descriptions and winds; on the first day every shape of temperature.
    const std::string city = "\xCE\xDA\xC2\xB3\xC4\xBE\xC6\xEB\xCE\xDA\xC2\xB3\xC4\xBEx";  // 乌鲁木齐乌鲁木x
    const std::string host = "forecast-icons.example.org:65535";
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
        // Padded past the window even so, so that the program stops reading over a kept connection.
        EXPECT_GE(body.size() - body.find(kTableMarker), kReadingWindow);
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

// The days the service makes itself, the demo's and a weather code's, are ones a data file could hold.
TEST(MadeDays, EveryDemoDayAndEveryCodesWordsFitThePageAndAnUnknownCodeIsUnclear) {
    std::string why;
    for (const auto& [city, days] : makeDemoDataset(kLocalDay, 366).cities) {
        for (const auto& [n, day] : days) ASSERT_TRUE(checkDay(day, why)) << n << ": " << why;
    }
    const std::set<int> documented = {0,  1,  2,  3,  45, 48, 51, 53, 55, 56, 57, 61, 63, 65,
                                      66, 67, 71, 73, 75, 77, 80, 81, 82, 85, 86, 95, 96, 99};
    for (int code = -1; code <= 100; ++code) {
        WeatherWords w = weatherWords(code);
        EXPECT_TRUE(checkDay(forecast::DayForecast{w.icon, w.icon, 1, 0, w.description, kCalm}, why)) << code << why;
        EXPECT_EQ(w.description == kUnclear, !documented.count(code)) << code;
    }
    const std::pair<int, const char*> rows[] = {{0, "qing"},    {3, "yin"},     {45, "wu"},
                                                {61, "xiaoyu"}, {65, "dayu"},   {67, "yujiaxue"},
                                                {75, "daxue"},  {82, "zhenyu"}, {99, "leizhenyu"}};
    for (auto [code, icon] : rows) EXPECT_STREQ(weatherWords(code).icon, icon) << code;
}

TEST(LiveTables, WindIsTheEightPointDirectionAndTheForceOfTheDaysMaximum) {
    const std::string n = "\xB1\xB1\xB7\xE7", ne = "\xB6\xAB\xB1\xB1\xB7\xE7", nw = "\xCE\xF7\xB1\xB1\xB7\xE7",
                      s = "\xC4\xCF\xB7\xE7";  // 北风, 东北风, 西北风, 南风
    const std::tuple<double, double, std::string> rows[] = {
        {0, 0, kCalm},          {0, 12.0, kCalm},                            // 3.3 m/s: force 2
        {0, 12.1, n + "3"},     {0, 19.6, n + "3"},     {0, 19.8, n + "4"},  // 5.5 m/s
        {22.4, 20, n + "4"},    {22.5, 20, ne + "4"},   {337.4, 20, nw + "4"},  {337.5, 20, n + "4"},
        {360, 20, n + "4"},     {180, 117.5, s + "11"}, {180, 117.6, s + "12"},  // 32.7 m/s
        {180, 201.7, s + "16"}, {180, 201.9, s + "17"},                          // 56.1 m/s, the Chinese scale's top
    };
    for (const auto& [degrees, kmh, words] : rows) {
        EXPECT_EQ(windWords(degrees, kmh), words == kCalm ? words : words + kForce) << degrees << " " << kmh;
    }
    EXPECT_LE(windWords(337.5, 300).size(), kMaxTextBytes);
}

TEST(LiveParse, AForecastBecomesThePlacesOwnThreeDays) {
    // At noon UTC Beijing is on the same date, Kiritimati (+14 h) already on the next.
    for (auto [offset, today] : {std::pair{8 * 3600, 20000}, {14 * 3600, 20001}}) {
        ForecastAnswer f = parseForecast(200, goodForecast(offset, today).dump(), kNoonUtc);
        ASSERT_TRUE(f.ok) << f.why;
        EXPECT_EQ(f.firstDay * 100000 + f.utcOffset, today * 100000 + offset);
        const std::string moderateRain = "\xD6\xD0\xD3\xEA", northWest4 = "\xCE\xF7\xB1\xB1\xB7\xE7\x34\xBC\xB6";
        EXPECT_EQ(f.days[0].dayIcon + f.days[0].wind + f.days[1].description + f.days[1].wind,
                  "qing" + kCalm + moderateRain + northWest4);
        // Rounded half away from zero: 21.5, 10.5, 18.4, -0.4, -3.5.
        EXPECT_EQ(std::vector<int>({f.days[0].high, f.days[0].low, f.days[1].high, f.days[2].high, f.days[2].low}),
                  std::vector<int>({22, 11, 18, 0, -4}));
    }
}

TEST(LiveParse, AnyFaultInAForecastRefusesTheWholeAnswerAndEachLimitsOwnValueIsKept) {
    // A good answer with a field removed [path], replaced [path, value], or set to a limit's own value [path,
    // value, true]: the whole answer refused, or kept.
    for (const Json& row : Json::parse(R"([["/utc_offset_seconds"], ["/utc_offset_seconds", 64801], ["/daily"],
        ["/daily/time/0", "2024-10-4"], ["/daily/time/2", "2024-10-07"], ["/daily/time", ["2024-10-03", "2024-10-04",
        "2024-10-05"]], ["/daily/wind_direction_10m_dominant"], ["/daily/temperature_2m_min/2"],
        ["/daily/temperature_2m_max/1", null], ["/daily/weather_code/0", "0"], ["/daily/temperature_2m_min/1", 18.5],
        ["/daily/temperature_2m_max/0", 60.1], ["/daily/temperature_2m_max/0", 60, true],
        ["/daily/temperature_2m_min/0", -90.1], ["/daily/temperature_2m_min/2", -90, true],
        ["/daily/wind_speed_10m_max/0", -0.1], ["/daily/wind_speed_10m_max/0", 300.1],
        ["/daily/wind_speed_10m_max/0", 300, true], ["/daily/wind_direction_10m_dominant/0", 360.5],
        ["/daily/wind_direction_10m_dominant/0", 360, true], ["/daily/weather_code/0", 100],
        ["/daily/weather_code/0", 2.5], ["/daily/weather_code/0", 99, true], ["/daily/weather_code/0", 4, true]])")) {
        Json op = {{"op", row.size() > 1 ? "replace" : "remove"}, {"path", row[0]}};
        if (row.size() > 1) op["value"] = row[1];
        EXPECT_EQ(parseForecast(200, goodForecast().patch(Json::array({op})).dump(), kNoonUtc).ok, row.size() > 2)
            << row;
    }
    EXPECT_TRUE(parseForecast(200, goodForecast(18 * 3600, 20001).dump(), kNoonUtc).ok);
    EXPECT_FALSE(parseForecast(503, goodForecast().dump(), kNoonUtc).ok);
    EXPECT_EQ(parseForecast(400, R"({"error":true,"reason":"Latitude\nmust be in range"})", kNoonUtc).why,
              "HTTP 400: Latitude?must be in range");
}

TEST(LiveParse, TheGeocoderPrefersAnExactNameInChinaThenThePopulous) {
    // Matches as [name, country, population, latitude], and the latitude of the one chosen.
    for (const Json& row : Json::parse(R"([
            [[["X", "US", 9e6, 1], ["Xa", "CN", 5e6, 2], ["X", "CN", 1e3, 3], ["X", "CN", 2e3, 4]], 4],
            [[["X", "US", 9e6, 1], ["Xa", "CN", 5e6, 2], ["Xb", "CN", 6e6, 3]], 3],
            [[["Xa", "JP", 9e6, 1], ["X", "JP", 1, 2]], 2], [[["X", "CN", 9e6, 91], ["Xa", "JP", 1, 2]], 2]])")) {
        Json results = Json::array();
        for (const Json& m : row[0]) {
            results.push_back(
                {{"name", m[0]}, {"country_code", m[1]}, {"population", m[2]}, {"latitude", m[3]}, {"longitude", 100}});
        }
        GeocodeAnswer g = parseGeocode(200, Json{{"results", results}}.dump(), "X");
        EXPECT_TRUE(g.status == GeocodeStatus::Found && g.place.latitude == row[1]) << row;
    }
    const std::tuple<long, const char*, GeocodeStatus> answers[] = {
        {200, R"({"results":[]})", GeocodeStatus::NotFound},
        {500, R"({"results":[]})", GeocodeStatus::Bad},
        {200, "busy", GeocodeStatus::Bad},
        {200, R"({"results":[{"name":"X","latitude":null,"longitude":1}]})", GeocodeStatus::Bad}};
    for (const auto& [status, body, want] : answers) EXPECT_EQ(parseGeocode(status, body, "X").status, want) << body;
}

TEST(LiveParse, OnlyANameOfThreeOrMoreCharactersLosesItsSuffix) {
    const std::pair<std::string, std::string> rows[] = {
        {"\xB3\xAF\xD1\xF4\xC7\xF8", "\xB3\xAF\xD1\xF4"},                                  // 朝阳区 -> 朝阳
        {"\xB4\xF3\xD0\xCB\xB0\xB2\xC1\xEB\xCF\xD8", "\xB4\xF3\xD0\xCB\xB0\xB2\xC1\xEB"},  // 大兴安岭县
        {"\xCE\xDE\xCE\xFD\xCA\xD0", "\xCE\xDE\xCE\xFD"},                                  // 无锡市 -> 无锡
        {"\xC9\xB3\xCA\xD0", ""},  // 沙市: one character would be left
        {"\xB1\xB1\xBE\xA9", ""},  // 北京
        {"ab\xCA\xD0", "ab"},
    };
    for (const auto& [name, stem] : rows) EXPECT_EQ(nameWithoutSuffix(name), stem) << name;
}

TEST(LiveCache, ServesWhatCoversThePlacesTodayAndAsksOncePerPeriod) {
    const long long t0 = kNoonUtc;  // policy: 30 min, 1 min after a failure, a day for unknown names
    auto held = [](int offset, long long fetched, long long attempted, bool failed) {  // a forecast from today on
        CityCache c;
        c.placeState = CityCache::PlaceState::Known, c.hasForecast = true;
        c.utcOffset = offset, c.firstDay = 20000 + (offset > 12 * 3600);
        c.fetchedAt = fetched, c.attemptedAt = attempted, c.lastFailed = failed;
        return c;
    };
    const CityCache now = held(0, t0, t0, false), failed = held(0, t0, t0 + 1800, true),
                    far = held(14 * 3600, t0 - 7200, t0 - 7200, false);  // its today began at 10:00 UTC
    CityCache unknown;
    unknown.placeState = CityCache::PlaceState::Unknown;
    unknown.unknownUntil = t0 + 86400, unknown.attemptedAt = t0;
    const std::tuple<const char*, CityCache, long long, bool, bool> rows[] = {
        // ..., serve, fetch
        {"never asked", CityCache{}, t0, false, true},
        {"within the period", now, t0 + 1799, true, false},
        {"period over", now, t0 + 1800, true, true},
        {"stale but valid, retry waits", failed, t0 + 1859, true, false},
        {"stale, retry due", failed, t0 + 1860, true, true},
        {"the next day: never a past day", now, t0 + 12 * 3600, false, true},
        {"failed and past", failed, t0 + 12 * 3600, false, true},
        {"clock set back", now, t0 - 10, true, true},
        {"far zone, its own today", far, t0 - 7199, true, false},
        {"far zone, before its day began", far, t0 - 7201, false, true},
        {"an unknown name within the day", unknown, t0 + 86399, false, false},
        {"an unknown name after the day", unknown, t0 + 86400, false, true},
    };
    for (const auto& [what, city, at, serve, fetch] : rows) {
        CacheDecision d = decide(city, at, CachePolicy{});
        EXPECT_TRUE(d.serve == serve && d.fetch == fetch) << what;
    }
    EXPECT_EQ(decide(far, t0, CachePolicy{}).today, 20001);
}

TEST(LiveCache, TheBudgetRefusesPastItsLimitAndSaysSoOnceADay) {
    DailyBudget budget(2);
    bool reached = false;
    const long long lastSecond = 20001LL * 86400 - 1;
    EXPECT_TRUE(budget.take(kNoonUtc, reached) && budget.take(kNoonUtc, reached) && !reached);
    EXPECT_TRUE(!budget.take(kNoonUtc, reached) && reached && !budget.take(lastSecond, reached) && !reached);
    EXPECT_TRUE(budget.take(lastSecond + 1, reached));
}

// Written and read back the service's own way is seen by the restart in the process test.
TEST(LiveCache, PlacesThatDoNotFitAreSkippedAndABrokenFileRefused) {
    KnownPlaces back;
    std::string why;
    ASSERT_TRUE(readPlaces(R"({"places":{"A":[91,0],"B":[1],"CCCCCCCCCCCCCCCC":[1,1],"D":[1,2]}})", back, why));
    EXPECT_TRUE(back.places.size() == 1 && back.places.count("D"));
    EXPECT_FALSE(readPlaces("{\"places\":", back, why));
}
