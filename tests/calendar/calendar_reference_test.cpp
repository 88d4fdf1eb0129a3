// Every day of 1900-2100 against astronomical data (new moons and the sun's longitude in China
// Standard Time, computed apart from the calendar's tables), and the almanac at known dates.

#include "calendar/almanac.h"
#include "calendar/calendar_panel.h"

#include "month-starts.h"
#include "solar-terms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using almanac::Layout;

const char* const kDigits[11] = {"日", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};
// 初一..初十, 十一..十九, 廿日, 廿一..廿九, 卅日.
std::string dayName(int d) {
    return std::string(d <= 10 ? "初" : d < 20 ? "十" : d < 30 ? "廿" : "卅") + kDigits[d == 10 ? 10 : d % 10];
}

// Rows by yyyymmdd: a month start's lunar year, month, leap flag, length; a term's year, index, name.
struct Row {
    int year, number;
    std::string word;
    int days;
};
std::map<int, Row> readRows(const char* text) {
    std::map<int, Row> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        int y, m, d, year, number, days = 0;
        char word[16];
        if (std::sscanf(line.c_str(), "%d-%d-%d %d %d %15s %d", &y, &m, &d, &year, &number, word, &days) >= 6) {
            rows[y * 10000 + m * 100 + d] = {year, number, word, days};
        }
    }
    return rows;
}

// GBK to UTF-8: `size` bytes, or up to the terminator.
std::string utf8(const char* gbk, int size = -1) {
    wchar_t wide[256];
    const int wideLength = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, size, wide, 256);
    char text[512];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, text, sizeof text, nullptr, nullptr);
    return length > 0 ? std::string(text, length - (size < 0)) : "(not GBK)";
}

// A term day's label is the term; a month's first day names months 1..10 (一月, 闰四). Festivals
// by rule, never in a leap month. Weekdays count on from Monday 1 January 1900, the cycles from
// their values then: the year's at each 春节, the month's at each term that opens a month.
TEST(CalendarReference, EveryDayFollowsTheAstronomicalMonthsAndTerms) {
    const std::map<int, Row> starts = readRows(kMonthStartsTsv), terms = readRows(kSolarTermsTsv);
    using namespace almanac;
    // Keyed by month << 8 | day, so a leap month (0x80 + n) finds none.
    const std::map<int, Festival> byLunarDate = {
        {0x101, kSpringFestival}, {0x10F, kLanternFestival}, {0x202, kDragonHead}, {0x505, kDragonBoat},
        {0x707, kQixi},           {0x70F, kGhostFestival},   {0x80F, kMidAutumn},  {0x909, kDoubleNinth},
        {0xC08, kLaba},           {0xC17, kLittleNewYear},
    };

    CalendarPanel panel;
    Row lunar{};
    int code = 0, lunarDay = 0, weekday = 1, yearCycle = 0, monthCycle = 0, dayCycle = 0, failures = 0;
    std::string startLabel;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        for (uint16_t month = 1; month <= 12; ++month) {
            ASSERT_TRUE(panel.setViewMonth(year, month));
            Day days[31];
            ASSERT_EQ(describeMonth(panel, days), panel.daysInMonth);
            for (unsigned i = 0; i < panel.daysInMonth; ++i, weekday = (weekday + 1) % 7) {
                const Day& d = days[i];
                const int date = year * 10000 + month * 100 + static_cast<int>(i) + 1;
                const auto start = starts.find(date), term = terms.find(date);
                const int termIndex = term != terms.end() ? term->second.number : int{kNoTerm};
                lunarDay = start != starts.end() ? 1 : lunarDay + 1;
                if (start != starts.end()) {
                    lunar = start->second, code = lunar.number | (lunar.word == "1" ? 0x80 : 0);
                    startLabel = lunar.number > 10 ? dayName(1)
                                 : code > 0x80     ? std::string("闰") + kDigits[lunar.number]
                                                   : std::string(kDigits[lunar.number]) + "月";
                }
                const auto byDate = byLunarDate.find(code << 8 | lunarDay);
                const unsigned festival = byDate != byLunarDate.end()            ? byDate->second
                                          : code == 12 && lunarDay == lunar.days ? kNewYearsEve
                                          : termIndex == 6                       ? kQingming
                                                                                 : kNoFestival;
                if (date == 19000101) {  // named, through the walk, by the rows of DescribesADayInWords
                    yearCycle = d.yearCycle, monthCycle = d.monthCycle, dayCycle = d.dayCycle;
                } else {
                    yearCycle = (yearCycle + (lunarDay == 1 && code == 1)) % 60, dayCycle = (dayCycle + 1) % 60;
                    monthCycle = (monthCycle + (termIndex >= 0 && termIndex % 2 == 0)) % 60;
                }
                const std::string label = term != terms.end() ? term->second.word
                                          : lunarDay == 1     ? startLabel
                                                              : dayName(lunarDay);
                const auto actual =
                    std::make_tuple(utf8(panel.lunarLabelText[i], 4), int{d.weekday}, int{d.lunarYear},
                                    int{d.lunarMonth}, int{d.lunarDay}, int{d.solarTerm}, unsigned{d.festival},
                                    int{d.yearCycle}, int{d.monthCycle}, int{d.dayCycle});
                const auto expected = std::make_tuple(label, weekday, lunar.year, code, lunarDay, termIndex, festival,
                                                      yearCycle, monthCycle, dayCycle);
                if (actual != expected && ++failures <= 20)
                    ADD_FAILURE() << date << ": " << testing::PrintToString(actual) << " expected "
                                  << testing::PrintToString(expected);
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

// What the walk leaves out: years beside the range, months 0 and 13, day numbers, cells past the month.
TEST(MonthConversion, TodayLineRangeEdgesOddMonthsAndShortMonths) {
    CalendarPanel panel;
    almanac::Day described[31], out{};
    EXPECT_EQ(almanac::describeMonth(panel, described), 0u) << "no month shown yet";

    ASSERT_TRUE(panel.setViewMonth(2023, 2));
    EXPECT_FALSE(almanac::describeDay(panel, 0, out) || almanac::describeDay(panel, 29, out));
    EXPECT_TRUE(almanac::describeDay(panel, 28, out));
    for (unsigned i = 28; i < 32; ++i) EXPECT_EQ(std::string(panel.lunarLabelText[i], 4), "0000") << i;
    EXPECT_EQ(panel.dayNumberText[28][0], 0);
    EXPECT_FALSE(panel.setViewMonth(1899, 12) || panel.setViewMonth(2101, 1));
    EXPECT_EQ(std::make_pair(panel.viewYear, panel.viewMonth), (std::make_pair<uint16_t, uint16_t>(2023, 2)));

    for (uint16_t month : {0, 13}) {  // taken as December
        ASSERT_TRUE(panel.setViewMonth(2024, month));
        EXPECT_EQ(std::make_pair(panel.viewMonth, panel.daysInMonth), (std::make_pair<uint16_t, uint16_t>(12, 31)));
        EXPECT_EQ(std::string(panel.dayNumberText[8], 4), std::string("9\0", 2) + "10") << "days 9 and 10";
    }
}

// The names of what the walk counts (cycles, 除夕 on a 29th and a 30th, a leap month, days 20 and 30, a term
// that is a festival), cut at a whole character; the tooltip and pellumo-cal tests read 2026-12-07, 2027-02-06.
TEST(Almanac, DescribesADayInWords) {
    const std::tuple<uint16_t, uint16_t, uint16_t, Layout, size_t, const char*> rows[] = {
        // date, layout, room, text
        {2027, 2, 5, Layout::oneLine, 256, "2027年2月5日 星期五  农历丙午年 (马) 腊月廿九  壬寅月 乙卯日  除夕"},
        {1900, 1, 30, Layout::oneLine, 256, "1900年1月30日 星期二  农历己亥年 (猪) 腊月三十  丁丑月 癸卯日  除夕"},
        {1949, 10, 1, Layout::oneLine, 256, "1949年10月1日 星期六  农历己丑年 (牛) 八月初十  癸酉月 甲子日"},
        {2023, 3, 22, Layout::tipLines, 256, "2023年3月22日 星期三\r\n农历癸卯年 (兔) 闰二月初一"},
        {2024, 2, 29, Layout::tipLines, 256, "2024年2月29日 星期四\r\n农历甲辰年 (龙) 正月二十"},
        {2026, 4, 5, Layout::tipLines, 256, "2026年4月5日 星期日\r\n农历丙午年 (马) 二月十八\r\n清明"},
        {2038, 2, 4, Layout::tipLines, 256, "2038年2月4日 星期四\r\n农历戊午年 (马) 正月初一\r\n立春 春节"},
        {2026, 12, 7, Layout::tipLines, 6, "2026"},
        {2026, 12, 7, Layout::tipLines, 7, "2026年"},
        {2026, 12, 7, Layout::tipLines, 1, ""},
    };
    CalendarPanel panel;
    for (const auto& [year, month, date, layout, size, expected] : rows) {
        almanac::Day day{};
        char text[256] = {};
        std::fill_n(text, 255, 'x');
        ASSERT_TRUE(panel.setViewMonth(year, month) && almanac::describeDay(panel, date, day));
        const size_t length = almanac::describe(day, layout, text, size);
        EXPECT_EQ(utf8(text), expected);
        EXPECT_EQ(length, std::strlen(text));
    }
}

}  // namespace
