// The live source's pure parts: wording, upstream answers, cache decisions by a clock, the budget.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "service/conditions.h"
#include "service/live_cache.h"
#include "service/live_parse.h"
#include "service/live_tables.h"

using namespace forecast;
using Json = nlohmann::json;

namespace {

constexpr long long kNoonUtc = 20000LL * 86400 + 12 * 3600;  // 2024-10-04 12:00 UTC
const std::string kCalm = "\xCE\xA2\xB7\xE7", kLevel = "\xBC\xB6", kUnclear = "\xCC\xEC\xC6\xF8\xB2\xBB\xC3\xF7";

std::string iso(int day) {
    int y = 0, m = 0, d = 0;
    civilDate(day, y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

Json goodForecast(int offset = 0, int firstDay = 20000) {
    return {{"utc_offset_seconds", offset},
            {"daily",
             {{"time", {iso(firstDay), iso(firstDay + 1), iso(firstDay + 2)}},
              {"weather_code", {0, 63, 96}},
              {"temperature_2m_max", {21.5, 18.4, -0.4}},
              {"temperature_2m_min", {10.5, 9.0, -3.5}},
              {"wind_speed_10m_max", {11.9, 19.8, 40.0}},
              {"wind_direction_10m_dominant", {10, 315, 180}}}}};
}

}  // namespace

TEST(LiveTables, EveryDocumentedCodeHasWordsThatFitThePageAndAnUnknownOneIsUnclear) {
    const std::set<int> documented = {0,  1,  2,  3,  45, 48, 51, 53, 55, 56, 57, 61, 63, 65,
                                      66, 67, 71, 73, 75, 77, 80, 81, 82, 85, 86, 95, 96, 99};
    for (int code = -1; code <= 100; ++code) {
        WeatherWords w = weatherWords(code);
        std::string why;
        EXPECT_TRUE(checkDay(DayForecast{w.icon, w.icon, 1, 0, w.description, kCalm}, why)) << code << why;
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
        EXPECT_EQ(windWords(degrees, kmh), words == kCalm ? words : words + kLevel) << degrees << " " << kmh;
    }
    EXPECT_LE(windWords(337.5, 300).size(), kMaxTextBytes);
}

TEST(LiveTables, TemperaturesRoundHalvesAwayFromZero) {
    const std::pair<double, int> rows[] = {{2.4, 2}, {2.5, 3}, {0.49, 0}, {-0.5, -1}, {-2.4, -2}, {-2.5, -3}};
    for (auto [celsius, whole] : rows) EXPECT_EQ(roundDegrees(celsius), whole) << celsius;
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
        EXPECT_EQ(std::vector<int>({f.days[0].high, f.days[0].low, f.days[2].high, f.days[2].low}),
                  std::vector<int>({22, 11, 0, -4}));
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
    EXPECT_FALSE(parseForecast(200, "<html>busy</html>", kNoonUtc).ok);
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
        {200, R"({"generationtime_ms":0.5})", GeocodeStatus::NotFound},
        {200, R"({"results":[]})", GeocodeStatus::NotFound},
        {500, R"({"results":[]})", GeocodeStatus::Bad},
        {200, "busy", GeocodeStatus::Bad},
        {200, R"({"results":{}})", GeocodeStatus::Bad},
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
        {"a\xCA\xD0", ""},
        {"ab\xCA\xD0", "ab"},
    };
    for (const auto& [name, stem] : rows) EXPECT_EQ(nameWithoutSuffix(name), stem) << name;
}

TEST(LiveCache, ServesWhatCoversThePlacesTodayAndAsksOncePerPeriod) {
    const long long t0 = kNoonUtc;  // policy: 30 min, 1 min after a failure, a day for unknown names
    auto held = [](int offset, long long fetched, long long attempted, bool failed) {
        CityCache c;
        c.placeState = CityCache::PlaceState::Known;
        c.hasForecast = true;
        c.utcOffset = offset;
        c.firstDay = 20000 + (offset > 12 * 3600);
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
