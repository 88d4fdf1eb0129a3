// The live source's pure parts: wording tables, upstream answers read, cache decisions by a
// clock, the budget and the places file.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "service/conditions.h"
#include "service/live_cache.h"
#include "service/live_parse.h"
#include "service/live_tables.h"

using namespace forecast;
using Json = nlohmann::json;

namespace {

constexpr long long kNoonUtc = 20000LL * 86400 + 12 * 3600;  // 2024-10-04 12:00 UTC
const std::string kCalm = "\xCE\xA2\xB7\xE7";                // 微风

std::string iso(int day) {
    int y = 0, m = 0, d = 0;
    civilDate(day, y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

Json goodForecast(int offset, int firstDay) {
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

TEST(LiveTables, EveryDocumentedCodeHasWordsThatFitThePage) {
    const int documented[] = {0,  1,  2,  3,  45, 48, 51, 53, 55, 56, 57, 61, 63, 65,
                              66, 67, 71, 73, 75, 77, 80, 81, 82, 85, 86, 95, 96, 99};
    for (int code : documented) {
        WeatherWords w = weatherWords(code);
        DayForecast day{w.icon, w.icon, 1, 0, w.description, kCalm};
        std::string why;
        EXPECT_TRUE(checkDay(day, why)) << code << why;
        EXPECT_NE(std::string(w.description), "\xCC\xEC\xC6\xF8\xB2\xBB\xC3\xF7") << code;
    }
    const std::pair<int, const char*> rows[] = {{0, "qing"},    {3, "yin"},     {45, "wu"},
                                                {61, "xiaoyu"}, {65, "dayu"},   {67, "yujiaxue"},
                                                {75, "daxue"},  {82, "zhenyu"}, {99, "leizhenyu"}};
    for (auto [code, icon] : rows) EXPECT_STREQ(weatherWords(code).icon, icon) << code;
    for (int unknown : {4, 50, 98}) {
        EXPECT_STREQ(weatherWords(unknown).description, "\xCC\xEC\xC6\xF8\xB2\xBB\xC3\xF7");  // 天气不明
    }
}

TEST(LiveTables, WindIsTheEightPointDirectionAndTheForceOfTheDaysMaximum) {
    const std::string north = "\xB1\xB1\xB7\xE7", northEast = "\xB6\xAB\xB1\xB1\xB7\xE7",
                      northWest = "\xCE\xF7\xB1\xB1\xB7\xE7", south = "\xC4\xCF\xB7\xE7", level = "\xBC\xB6";
    const struct {
        double degrees, kmh;
        std::string words;
    } rows[] = {
        {0, 0, kCalm},
        {0, 12.0, kCalm},  // 3.3 m/s: force 2
        {0, 12.1, north + "3" + level},
        {0, 19.6, north + "3" + level},
        {0, 19.8, north + "4" + level},  // 5.5 m/s
        {22.4, 20, north + "4" + level},
        {22.5, 20, northEast + "4" + level},
        {337.4, 20, northWest + "4" + level},
        {337.5, 20, north + "4" + level},
        {360, 20, north + "4" + level},
        {180, 117.5, south + "11" + level},
        {180, 117.6, south + "12" + level},  // 32.7 m/s
        {180, 201.7, south + "16" + level},
        {180, 201.9, south + "17" + level},  // 56.1 m/s, the Chinese scale's top
    };
    for (const auto& r : rows) EXPECT_EQ(windWords(r.degrees, r.kmh), r.words) << r.degrees << " " << r.kmh;
    EXPECT_LE(windWords(337.5, 300).size(), kMaxTextBytes);
}

TEST(LiveTables, TemperaturesRoundHalvesAwayFromZero) {
    const std::pair<double, int> rows[] = {{2.4, 2}, {2.5, 3}, {0.49, 0}, {-0.5, -1}, {-2.4, -2}, {-2.5, -3}};
    for (auto [celsius, whole] : rows) EXPECT_EQ(roundDegrees(celsius), whole) << celsius;
}

TEST(LiveParse, AForecastBecomesThePlacesOwnThreeDays) {
    const int utcToday = 20000;
    // Beijing at noon UTC is on the same date; Kiritimati (+14 h) already on the next.
    for (int offset : {8 * 3600, 14 * 3600}) {
        const int placeToday = utcToday + (offset > 12 * 3600);
        ForecastAnswer f = parseForecast(200, goodForecast(offset, placeToday).dump(), kNoonUtc);
        ASSERT_TRUE(f.ok) << f.why;
        EXPECT_EQ(f.firstDay, placeToday);
        EXPECT_EQ(f.utcOffset, offset);
        EXPECT_EQ(f.days[0].dayIcon, "qing");
        EXPECT_EQ(f.days[0].high, 22);
        EXPECT_EQ(f.days[0].low, 11);
        EXPECT_EQ(f.days[0].wind, kCalm);
        EXPECT_EQ(f.days[1].description, "\xD6\xD0\xD3\xEA");  // 中雨
        EXPECT_EQ(f.days[1].wind,
                  "\xCE\xF7\xB1\xB1\xB7\xE7"
                  "4\xBC\xB6");
        EXPECT_EQ(f.days[2].high, 0);
        EXPECT_EQ(f.days[2].low, -4);
    }
}

TEST(LiveParse, AnyFaultInAForecastRefusesTheWholeAnswer) {
    const struct {
        const char* what;
        std::function<void(Json&)> spoil;
    } rows[] = {
        {"no offset", [](Json& j) { j.erase("utc_offset_seconds"); }},
        {"offset past 18 h", [](Json& j) { j["utc_offset_seconds"] = 18 * 3600 + 1; }},
        {"no daily", [](Json& j) { j.erase("daily"); }},
        {"a missing column", [](Json& j) { j["daily"].erase("wind_direction_10m_dominant"); }},
        {"a short column", [](Json& j) { j["daily"]["temperature_2m_min"].erase(2); }},
        {"a null", [](Json& j) { j["daily"]["temperature_2m_max"][1] = nullptr; }},
        {"a text for a number", [](Json& j) { j["daily"]["weather_code"][0] = "0"; }},
        {"yesterday first",
         [](Json& j) {
             j["daily"]["time"] = {iso(19999), iso(20000), iso(20001)};
         }},
        {"a gap in the dates", [](Json& j) { j["daily"]["time"][2] = iso(20003); }},
        {"no date", [](Json& j) { j["daily"]["time"][0] = "2024-10-4"; }},
        {"60.1 degrees", [](Json& j) { j["daily"]["temperature_2m_max"][0] = 60.1; }},
        {"-90.1 degrees", [](Json& j) { j["daily"]["temperature_2m_min"][0] = -90.1; }},
        {"low above high", [](Json& j) { j["daily"]["temperature_2m_min"][1] = 18.5; }},
        {"negative wind", [](Json& j) { j["daily"]["wind_speed_10m_max"][0] = -0.1; }},
        {"wind past 300 km/h", [](Json& j) { j["daily"]["wind_speed_10m_max"][0] = 300.1; }},
        {"direction past 360", [](Json& j) { j["daily"]["wind_direction_10m_dominant"][0] = 360.5; }},
        {"code 100", [](Json& j) { j["daily"]["weather_code"][0] = 100; }},
        {"code 2.5", [](Json& j) { j["daily"]["weather_code"][0] = 2.5; }},
    };
    ASSERT_TRUE(parseForecast(200, goodForecast(0, 20000).dump(), kNoonUtc).ok);
    const std::function<void(Json&)> kept[] = {  // each limit's own value
        [](Json& j) { j = goodForecast(18 * 3600, 20001); },
        [](Json& j) { j["daily"]["temperature_2m_max"][0] = 60, j["daily"]["temperature_2m_min"][2] = -90; },
        [](Json& j) { j["daily"]["wind_speed_10m_max"][0] = 300, j["daily"]["wind_direction_10m_dominant"][0] = 360; },
        [](Json& j) { j["daily"]["weather_code"][0] = 99; },
    };
    for (const auto& keep : kept) {
        Json j = goodForecast(0, 20000);
        keep(j);
        EXPECT_TRUE(parseForecast(200, j.dump(), kNoonUtc).ok) << j.dump();
    }
    for (const auto& r : rows) {
        Json j = goodForecast(0, 20000);
        r.spoil(j);
        EXPECT_FALSE(parseForecast(200, j.dump(), kNoonUtc).ok) << r.what;
    }
    EXPECT_FALSE(parseForecast(200, "<html>busy</html>", kNoonUtc).ok);
    ForecastAnswer refused = parseForecast(400, R"({"error":true,"reason":"Latitude\nmust be in range"})", kNoonUtc);
    EXPECT_EQ(refused.why, "HTTP 400: Latitude?must be in range");
    EXPECT_FALSE(parseForecast(503, goodForecast(0, 20000).dump(), kNoonUtc).ok);
    // An undocumented code is no fault: the day shows as weather unclear.
    Json odd = goodForecast(0, 20000);
    odd["daily"]["weather_code"][0] = 4;
    EXPECT_TRUE(parseForecast(200, odd.dump(), kNoonUtc).ok);
}

TEST(LiveParse, TheGeocoderPrefersAnExactNameInChinaThenThePopulous) {
    auto place = [](const char* name, const char* country, double population, double latitude) {
        return Json{{"name", name},
                    {"country_code", country},
                    {"population", population},
                    {"latitude", latitude},
                    {"longitude", 100}};
    };
    const struct {
        Json results;
        double latitude;  // of the one chosen
    } rows[] = {
        {Json::array(
             {place("X", "US", 9e6, 1), place("Xa", "CN", 5e6, 2), place("X", "CN", 1e3, 3), place("X", "CN", 2e3, 4)}),
         4},
        {Json::array({place("X", "US", 9e6, 1), place("Xa", "CN", 5e6, 2), place("Xb", "CN", 6e6, 3)}), 3},
        {Json::array({place("Xa", "JP", 9e6, 1), place("X", "JP", 1, 2)}), 2},
        {Json::array({place("X", "CN", 9e6, 91), place("Xa", "JP", 1, 2)}), 2},  // no usable coordinates
    };
    for (const auto& r : rows) {
        GeocodeAnswer g = parseGeocode(200, Json{{"results", r.results}}.dump(), "X");
        EXPECT_EQ(g.status, GeocodeStatus::Found) << r.results;
        EXPECT_EQ(g.place.latitude, r.latitude) << r.results;
    }
    EXPECT_EQ(parseGeocode(200, R"({"generationtime_ms":0.5})", "X").status, GeocodeStatus::NotFound);
    EXPECT_EQ(parseGeocode(200, R"({"results":[]})", "X").status, GeocodeStatus::NotFound);
    for (auto [status, body] : {std::pair<long, const char*>{500, R"({"results":[]})"},
                                {200, "busy"},
                                {200, R"({"results":{}})"},
                                {200, R"({"results":[{"name":"X","latitude":null,"longitude":1}]})"}}) {
        EXPECT_EQ(parseGeocode(status, body, "X").status, GeocodeStatus::Bad) << body;
    }
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
    const CachePolicy policy;  // 30 min, 1 min after a failure, a day for unknown names
    const long long t0 = kNoonUtc;
    CityCache held;
    held.placeState = CityCache::PlaceState::Known;
    held.hasForecast = true;
    held.firstDay = 20000;
    held.fetchedAt = held.attemptedAt = t0;
    CityCache failed = held;  // a refresh after the period failed
    failed.attemptedAt = t0 + 1800;
    failed.lastFailed = true;
    CityCache far = held;  // +14 h: its today began at 10:00 UTC
    far.utcOffset = 14 * 3600;
    far.firstDay = 20001;
    far.fetchedAt = far.attemptedAt = t0 - 2 * 3600;
    CityCache unknown;
    unknown.placeState = CityCache::PlaceState::Unknown;
    unknown.unknownUntil = t0 + 86400;
    unknown.attemptedAt = t0;
    const struct {
        const char* what;
        const CityCache& city;
        long long now;
        bool serve, fetch;
    } rows[] = {
        {"never asked", CityCache{}, t0, false, true},
        {"within the period", held, t0 + 1799, true, false},
        {"period over", held, t0 + 1800, true, true},
        {"stale but valid, retry waits", failed, t0 + 1859, true, false},
        {"stale, retry due", failed, t0 + 1860, true, true},
        {"the next day: never a past day", held, t0 + 12 * 3600, false, true},
        {"failed and past", failed, t0 + 12 * 3600, false, true},
        {"clock set back", held, t0 - 10, true, true},
        {"far zone, its own today", far, t0 - 2 * 3600 + 1, true, false},
        {"far zone, before its day began", far, t0 - 2 * 3600 - 1, false, true},
        {"an unknown name within the day", unknown, t0 + 86399, false, false},
        {"an unknown name after the day", unknown, t0 + 86400, false, true},
    };
    for (const auto& r : rows) {
        CacheDecision d = decide(r.city, r.now, policy);
        EXPECT_EQ(d.serve, r.serve) << r.what;
        EXPECT_EQ(d.fetch, r.fetch) << r.what;
    }
    EXPECT_EQ(decide(far, t0, policy).today, 20001);
}

TEST(LiveCache, TheBudgetRefusesPastItsLimitAndSaysSoOnceADay) {
    DailyBudget budget(2);
    bool reached = false;
    const long long lastSecond = 20001LL * 86400 - 1;
    EXPECT_TRUE(budget.take(kNoonUtc, reached) && !reached);
    EXPECT_TRUE(budget.take(kNoonUtc, reached) && !reached);
    EXPECT_FALSE(budget.take(kNoonUtc, reached));
    EXPECT_TRUE(reached);
    EXPECT_FALSE(budget.take(lastSecond, reached));
    EXPECT_FALSE(reached);
    EXPECT_TRUE(budget.take(lastSecond + 1, reached));
}

TEST(LiveCache, PlacesSurviveTheFileAndWhatDoesNotFitIsSkipped) {
    KnownPlaces known;
    known.places["\xB1\xB1\xBE\xA9"] = {39.9042, 116.4074};  // 北京
    known.unknownUntil["\xBB\xF0\xD0\xC7"] = 1700000000;     // 火星
    KnownPlaces back;
    std::string why;
    ASSERT_TRUE(readPlaces(writePlaces(known), back, why));
    EXPECT_EQ(back.places.size(), 1u);
    EXPECT_EQ(back.places["\xB1\xB1\xBE\xA9"].longitude, 116.4074);
    EXPECT_EQ(back.unknownUntil, known.unknownUntil);
    ASSERT_TRUE(readPlaces(R"({"places":{"A":[91,0],"B":[1],"CCCCCCCCCCCCCCCC":[1,1],"D":[1,2]}})", back, why));
    EXPECT_EQ(back.places.size(), 1u);
    EXPECT_EQ(back.places.count("D"), 1u);
    EXPECT_FALSE(readPlaces("{\"places\":", back, why));
}
