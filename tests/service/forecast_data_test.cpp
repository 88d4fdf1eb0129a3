#include "service/forecast_data.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "service/demo.h"
#include "service/gbk.h"

using namespace forecast;
using Json = nlohmann::json;

namespace {

const std::string kBeijing = "\xB1\xB1\xBE\xA9";  // 北京

// One city with one day, `field` of the day set to `value` when given.
std::string dataFile(const char* field = nullptr, const Json& value = nullptr, const char* city = "北京") {
    Json day = {{"date", "2024-07-03"}, {"condition", "qing"}, {"night", "duoyun"}, {"high", 31}, {"low", 22},
                {"text", "晴转多云"},   {"wind", "南风3-4级"}};
    if (field) day[field] = value;
    return Json{{"cities", Json::array({Json{{"name", city}, {"days", Json::array({day})}}})}}.dump();
}

}  // namespace

TEST(DataFile, DayNumbersRoundTripAndADayIsReadFromUtf8IntoGbk) {
    EXPECT_EQ(dayNumber(2000, 3, 1), 11017);
    for (int n = dayNumber(1899, 1, 1), y = 0, m = 0, d = 0; n < dayNumber(2101, 1, 1); n += 7) {
        civilDate(n, y, m, d);
        ASSERT_EQ(dayNumber(y, m, d), n);
    }
    Dataset data;
    std::string error;
    ASSERT_TRUE(parseDataset(dataFile(), data, error)) << error;
    const DayForecast& d = data.cities.at(kBeijing).at(dayNumber(2024, 7, 3));  // 晴转多云, 南风3-4级
    EXPECT_EQ(d.dayIcon + " " + d.nightIcon + " " + std::to_string(d.high) + " " + std::to_string(d.low) + " " +
                  d.description + " " + d.wind,
              "qing duoyun 31 22 \xC7\xE7\xD7\xAA\xB6\xE0\xD4\xC6 \xC4\xCF\xB7\xE7\x33-4\xBC\xB6");
}

// Each limit's last value is taken (no reason), the next one refused for its reason.
TEST(DataFile, TakesWhatCanBeServedSafelyAndNothingElse) {
    const std::string twice = R"({"cities": [{"name": "北京", "days": []}, {"name": "北京", "days": []}]})";
    const std::pair<std::string, const char*> rows[] = {
        {"{", "not valid JSON"},
        {R"({"towns": []})", "\"cities\""},
        {dataFile("date", "2023-02-29"), "days[0].date"},
        {dataFile("date", "2024-7-3"), "days[0].date"},
        {dataFile("condition", "sunny"), "condition: unknown"},
        {dataFile("night", "../qing"), "night: unknown"},
        {dataFile("high", 3.5), "high: want an integer"},
        {dataFile("low", -100), "low: out of"},
        {dataFile("low", -99), ""},
        {dataFile("high", 99), ""},
        {dataFile("high", 100), "high: out of"},
        {dataFile("low", 31), ""},
        {dataFile("low", 32), "high/low"},
        {dataFile("text", "晴转多云转阴小雨x"), "text: want"},  // 17 GBK bytes
        {dataFile("text", "晴转多云转阴小雨"), ""},
        {dataFile("wind", std::string(17, 'w')), "wind: want"},
        {dataFile("wind", std::string(16, 'w')), ""},
        {dataFile("text", "A晴"), "text: want"},
        {dataFile("text", "晴<b>"), "text: want"},
        {dataFile("text", "晴☀"), "text: missing or not representable"},
        {dataFile("wind", "北风<3级"), "wind: want"},
        {dataFile("wind", ""), "wind: want"},
        {dataFile(nullptr, nullptr, "乌鲁木齐市郊区县"), ".name: want"},  // 16 GBK bytes
        {dataFile(nullptr, nullptr, "乌鲁木齐市郊区x"), ""},
        {twice, "twice"}};
    for (const auto& [text, reason] : rows) {
        Dataset data;
        std::string error;
        EXPECT_EQ(parseDataset(text, data, error), !*reason) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(DemoData, CoversEveryCityWithValidDeterministicDays) {
    const int first = dayNumber(2024, 1, 1);
    Dataset year = makeDemoDataset(first, 366);
    Dataset later = makeDemoDataset(first + 100, 3);
    ASSERT_EQ(year.cities.size(), static_cast<std::size_t>(kDemoCityCount));
    for (const auto& [city, days] : year.cities) {
        std::string utf8, gbk;  // every name survives the round trip through UTF-8
        EXPECT_TRUE(city.size() <= kMaxCityBytes && gbkToUtf8(city, utf8) && utf8ToGbk(utf8, gbk) && gbk == city);
        for (const auto& [n, day] : days) {
            std::string why;
            ASSERT_TRUE(checkDay(day, why)) << n << ": " << why;
        }
        const DayForecast &a = days.at(first + 101), &b = later.cities.at(city).at(first + 101);
        EXPECT_EQ(a.description + a.wind + std::to_string(a.high * 1000 + a.low),
                  b.description + b.wind + std::to_string(b.high * 1000 + b.low));
    }
}
