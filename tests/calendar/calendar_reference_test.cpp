// Every day of 1900-2100 through setViewMonth and the almanac, against astronomical reference
// data (new moons and the sun's longitude in China Standard Time, computed apart from the
// calendar's tables), weekdays counted from Monday 1 January 1900. almanac_test pins the
// cycles to known dates; here each steps on from the day before.

#include "calendar/almanac.h"
#include "calendar/calendar_panel.h"

#include "month-starts.h"
#include "solar-terms.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

namespace {

const char* const kDigits[11] = {"日", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};
// 初一..初十, 十一..十九, 廿日, 廿一..廿九, 卅日.
std::string dayName(int d) {
    return std::string(d <= 10 ? "初" : d < 20 ? "十" : d < 30 ? "廿" : "卅") + kDigits[d == 10 ? 10 : d % 10];
}

// A table's rows by date as yyyymmdd: a month start's lunar year, month, leap flag and length,
// or a term's year, index and name.
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

std::string utf8Label(const char* gbk) {
    wchar_t wide[4];
    const int wideLength = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, 4, wide, 4);
    char utf8[16];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, length > 0 ? length : 0);
}

// Labels: a term day shows the term, even when a lunar month begins on it; months 1..10 are
// named on their first day (一月, or 闰四 for the leap month after 4), 11 and 12 show 初一.
// Festivals by rule: each on its lunar date and never in a leap month, 除夕 on the last day of
// month 12, 清明 on its term. The lunar year turns on new year's day; the year's cycle steps on
// at each 春节 only, the month's at each term that opens a Gregorian month only.
TEST(CalendarReference, EveryDayFollowsTheAstronomicalMonthsAndTerms) {
    const std::map<int, Row> starts = readRows(kMonthStartsTsv), terms = readRows(kSolarTermsTsv);
    ASSERT_EQ(std::make_pair(starts.size(), terms.size()), std::make_pair(size_t{2487}, size_t{4824}));
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
                if (date == 19000101) {  // pinned in almanac_test
                    yearCycle = d.yearCycle, monthCycle = d.monthCycle, dayCycle = d.dayCycle;
                } else {
                    yearCycle = (yearCycle + (lunarDay == 1 && code == 1)) % 60, dayCycle = (dayCycle + 1) % 60;
                    monthCycle = (monthCycle + (termIndex >= 0 && termIndex % 2 == 0)) % 60;
                }
                const std::string label = term != terms.end() ? term->second.word
                                          : lunarDay == 1     ? startLabel
                                                              : dayName(lunarDay);
                const auto actual =
                    std::make_tuple(utf8Label(panel.lunarLabelText[i]), int{d.weekday}, int{d.lunarYear},
                                    int{d.lunarMonth}, int{d.lunarDay}, int{d.solarTerm}, unsigned{d.festival},
                                    int{d.yearCycle}, int{d.monthCycle}, int{d.dayCycle});
                const auto expected = std::make_tuple(label, weekday, lunar.year, code, lunarDay, termIndex, festival,
                                                      yearCycle, monthCycle, dayCycle);
                if (actual != expected && ++failures <= 20) {
                    ADD_FAILURE() << date << ": " << testing::PrintToString(actual) << " expected "
                                  << testing::PrintToString(expected);
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

// What the walk leaves out: the today line, the years either side of the range, months 0 and
// 13, the day numbers and the cells past a short month's end.
TEST(MonthConversion, TodayLineRangeEdgesOddMonthsAndShortMonths) {
    CalendarPanel panel;
    // 今天: YYYY年 MM月 DD日 with two-digit month and day, zero-filled to the field's end.
    char today[32] = {};
    std::snprintf(today, sizeof today, "\xBD\xF1\xCC\xEC: %04u\xC4\xEA %02u\xD4\xC2 %02u\xC8\xD5", panel.todayYear,
                  panel.todayMonth, panel.todayDay);
    EXPECT_EQ(std::string(panel.todayText, sizeof panel.todayText), std::string(today, sizeof today));

    ASSERT_TRUE(panel.setViewMonth(2023, 2));
    for (unsigned i = 28; i < 32; ++i) EXPECT_EQ(std::string(panel.lunarLabelText[i], 4), "0000") << i;
    EXPECT_EQ(panel.dayNumberText[28][0], 0);
    EXPECT_FALSE(panel.setViewMonth(1899, 12) || panel.setViewMonth(2101, 1));
    EXPECT_EQ(std::make_pair(panel.viewYear, panel.viewMonth), (std::make_pair<uint16_t, uint16_t>(2023, 2)));
    panel.lunarDayOf[0] = 99;  // the month on show again is not converted again
    EXPECT_TRUE(panel.setViewMonth(2023, 2) && panel.lunarDayOf[0] == 99);

    for (auto [month, shown, days] :
         {std::tuple<uint16_t, uint16_t, uint16_t>{0, 12, 31}, {1, 1, 31}, {11, 11, 30}, {12, 12, 31}, {13, 12, 31}}) {
        ASSERT_TRUE(panel.setViewMonth(2024, month));
        EXPECT_EQ(std::make_pair(panel.viewMonth, panel.daysInMonth), std::make_pair(shown, days)) << month;
        EXPECT_EQ(std::string(panel.dayNumberText[8], 4), std::string("9\0", 2) + "10") << "days 9 and 10";
    }
}

}  // namespace
