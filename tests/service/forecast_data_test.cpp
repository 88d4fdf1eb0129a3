#include "service/forecast_data.h"

#include <gtest/gtest.h>

#include "service/demo.h"
#include "service/gbk.h"

using namespace forecast;

namespace {

// One city, one day, with `field` replaced by `value` (raw JSON) when given.
std::string dataFile(const std::string& field = "", const std::string& value = "") {
    std::string day = R"({"date": "2024-07-03", "condition": "qing", "night": "duoyun", "high": 31, "low": 22,)"
                      R"( "text": "晴转多云", "wind": "南风3-4级"})";
    if (!field.empty()) {
        std::size_t at = day.find("\"" + field + "\"");
        std::size_t end = day.find_first_of(",}", day.find(':', at));
        if (value.front() == '"') end = day.find('"', day.find('"', day.find(':', at)) + 1) + 1;
        day.replace(at, end - at, "\"" + field + "\": " + value);
    }
    return R"({"cities": [{"name": "北京", "days": [)" + day + "]}]}";
}

}  // namespace

TEST(Dates, DayNumbersRoundTrip) {
    EXPECT_EQ(dayNumber(1970, 1, 1), 0);
    EXPECT_EQ(dayNumber(2000, 3, 1), 11017);
    EXPECT_EQ(dayNumber(1969, 12, 31), -1);
    for (int n = dayNumber(1899, 1, 1); n < dayNumber(2101, 1, 1); n += 7) {
        int y = 0, m = 0, d = 0;
        civilDate(n, y, m, d);
        ASSERT_EQ(dayNumber(y, m, d), n);
    }
}

TEST(DataFile, ReadsADayInUtf8IntoGbk) {
    Dataset data;
    std::string error;
    ASSERT_TRUE(parseDataset(dataFile(), data, error)) << error;
    const DayForecast* days[3] = {};
    int day = dayNumber(2024, 7, 3);
    const auto& city = data.cities.at("\xB1\xB1\xBE\xA9");  // 北京
    const DayForecast& d = city.at(day);
    EXPECT_EQ(d.dayIcon, "qing");
    EXPECT_EQ(d.nightIcon, "duoyun");
    EXPECT_EQ(d.high, 31);
    EXPECT_EQ(d.low, 22);
    EXPECT_EQ(d.description, "\xC7\xE7\xD7\xAA\xB6\xE0\xD4\xC6");  // 晴转多云
    EXPECT_EQ(d.wind,
              "\xC4\xCF\xB7\xE7"
              "3-4\xBC\xB6");  // 南风3-4级
    // One day is no forecast: the two days after today are missing.
    EXPECT_FALSE(data.threeDays("\xB1\xB1\xBE\xA9", day, days));
}

TEST(DataFile, RejectsEveryEntryThatCouldNotBeServedSafely) {
    struct Row {
        std::string text;
        const char* reason;
    } rows[] = {
        {"{", "not valid JSON"},
        {R"({"towns": []})", "\"cities\""},
        {dataFile("date", R"("2023-02-29")"), "days[0].date"},
        {dataFile("date", R"("2024-7-3")"), "days[0].date"},
        {dataFile("condition", R"("sunny")"), "condition: unknown"},
        {dataFile("night", R"("../qing")"), "night: unknown"},
        {dataFile("high", "3.5"), "high: want an integer"},
        {dataFile("low", "-100"), "low: out of"},
        {dataFile("low", "32"), "high/low"},
        {dataFile("text", R"("晴转多云转阴转小雨")"), "text: want"},  // 18 GBK bytes
        {dataFile("text", R"("A晴")"), "text: want"},
        {dataFile("text", R"("晴<b>")"), "text: want"},
        {dataFile("text", R"("晴☀")"), "text: missing or not representable"},
        {dataFile("wind", R"("北风<3级")"), "wind: want"},
        {dataFile("wind", R"("")"), "wind: want"},
        {R"({"cities": [{"name": "乌鲁木齐市郊区县", "days": []}]})", ".name: want"},  // 16 GBK bytes
        {R"({"cities": [{"name": "北京", "days": []}, {"name": "北京", "days": []}]})", "twice"},
    };
    for (const Row& r : rows) {
        Dataset data;
        std::string error;
        EXPECT_FALSE(parseDataset(r.text, data, error)) << r.text;
        EXPECT_NE(error.find(r.reason), std::string::npos) << error;
    }
}

TEST(DemoData, CoversEveryCityWithValidDeterministicDays) {
    int first = dayNumber(2024, 1, 1);
    Dataset a = makeDemoDataset(first, 366);
    Dataset b = makeDemoDataset(first + 100, 3);
    ASSERT_EQ(a.cities.size(), static_cast<std::size_t>(kDemoCityCount));
    EXPECT_GE(kDemoCityCount, 30);
    int wet = 0;
    for (int c = 0; c < kDemoCityCount; ++c) {
        std::string utf8, back;
        ASSERT_TRUE(gbkToUtf8(kDemoCities[c], utf8) && utf8ToGbk(utf8, back)) << c;
        EXPECT_EQ(back, kDemoCities[c]);
        EXPECT_LE(std::string(kDemoCities[c]).size(), kMaxCityBytes);
        for (const auto& [n, day] : a.cities.at(kDemoCities[c])) {
            std::string why;
            ASSERT_TRUE(checkDay(day, why)) << c << " day " << n << ": " << why;
            wet += day.dayIcon != "qing" && day.dayIcon != "duoyun" && day.dayIcon != "yin";
        }
        const auto& later = b.cities.at(kDemoCities[c]).at(first + 101);
        const auto& same = a.cities.at(kDemoCities[c]).at(first + 101);
        EXPECT_EQ(later.description + later.wind, same.description + same.wind);
        EXPECT_EQ(later.high * 1000 + later.low, same.high * 1000 + same.low);
    }
    // Neither always fair nor always wet.
    EXPECT_GT(wet, kDemoCityCount * 366 / 10);
    EXPECT_LT(wet, kDemoCityCount * 366 * 7 / 10);
}
