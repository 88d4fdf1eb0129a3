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
