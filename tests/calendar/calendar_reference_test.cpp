// Every month of 1900-2100 through setViewMonth against astronomical reference data (new
// moons and the sun's longitude in China Standard Time, computed apart from the calendar's
// tables): the lunar day and label of every day, the lunar months each month touches
// (0x80 marks a leap month) and the weekday of its 1st, counted from Monday 1 January 1900.

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

const char* const kDayNames[31] = {
    "",     "初一", "初二", "初三", "初四", "初五", "初六", "初七", "初八", "初九", "初十",
    "十一", "十二", "十三", "十四", "十五", "十六", "十七", "十八", "十九", "廿日", "廿一",
    "廿二", "廿三", "廿四", "廿五", "廿六", "廿七", "廿八", "廿九", "卅日",
};
const char* const kDigits[11] = {"日", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};

// Calls `take` with each row's date as yyyymmdd, its second column (the lunar year of a
// month start), its third (the lunar month, the term's index) and its fourth (the leap flag
// of a month start, the name of a term).
template <class Take>
int readRows(const char* text, Take take) {
    std::istringstream lines(text);
    int rows = 0;
    for (std::string line; std::getline(lines, line);) {
        int y, m, d, year, number;
        char word[16];
        if (std::sscanf(line.c_str(), "%d-%d-%d %d %d %15s", &y, &m, &d, &year, &number, word) == 6) {
            take(y * 10000 + m * 100 + d, year, number, std::string(word));
            ++rows;
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

// Months 1..10 are named on their first day (一月, or 闰四 for the leap month after 4);
// months 11 and 12 show 初一. A term day shows the term even when a lunar month begins on it.
TEST(CalendarReference, EveryDayShowsTheAstronomicalLunarDayAndLabel) {
    std::map<int, std::pair<char, std::string>> monthStart;  // month code and first-day label
    std::map<int, std::string> termName;
    const int starts = readRows(kMonthStartsTsv, [&](int date, int, int number, const std::string& leap) {
        const std::string label = number > 10   ? kDayNames[1]
                                  : leap == "1" ? std::string("闰") + kDigits[number]
                                                : std::string(kDigits[number]) + "月";
        monthStart[date] = {static_cast<char>(number | (leap == "1" ? 0x80 : 0)), label};
    });
    const int terms =
        readRows(kSolarTermsTsv, [&](int date, int, int, const std::string& name) { termName[date] = name; });
    ASSERT_EQ(starts, 2487);
    ASSERT_EQ(terms, 4824);

    CalendarPanel panel;
    int lunarDay = 0, weekday = 1, failures = 0, startsSeen = 0, termsSeen = 0;
    char lunarMonth = 0;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        for (uint16_t month = 1; month <= 12; ++month) {
            ASSERT_TRUE(panel.setViewMonth(year, month));
            const int first = year * 10000 + month * 100 + 1;
            if (panel.firstWeekday != weekday && ++failures <= 20) ADD_FAILURE() << first << ": weekday " << weekday;
            std::string inView;  // the codes of the lunar months touched, one byte each
            for (unsigned i = 0; i < panel.daysInMonth; ++i, weekday = (weekday + 1) % 7) {
                const auto start = monthStart.find(first + static_cast<int>(i));
                const auto term = termName.find(first + static_cast<int>(i));
                lunarDay = start != monthStart.end() ? 1 : lunarDay + 1;
                if (start != monthStart.end()) lunarMonth = start->second.first;
                if (i == 0 || lunarDay == 1) inView += lunarMonth;
                startsSeen += start != monthStart.end();
                termsSeen += term != termName.end();
                const std::string expected = term != termName.end() ? term->second
                                             : lunarDay == 1        ? start->second.second
                                             : lunarDay <= 30       ? kDayNames[lunarDay]
                                                                    : "?";
                const std::string actual = utf8Label(panel.lunarLabelText[i]);
                if ((actual != expected || panel.lunarDayOf[i] != lunarDay) && ++failures <= 20) {
                    ADD_FAILURE() << first + static_cast<int>(i) << ": shows " << actual << " (lunar day "
                                  << int{panel.lunarDayOf[i]} << "), expected " << expected << " (lunar day "
                                  << lunarDay << ")";
                }
            }
            // A month that ends with a lunar month lists the next one too, which nothing reads.
            const auto next = monthStart.find(month < 12 ? first + 100 : (year + 1) * 10000 + 101);
            if (next != monthStart.end()) inView += next->second.first;
            inView.resize(4, '\0');
            if (inView.compare(0, 4, reinterpret_cast<const char*>(panel.lunarMonthsInView), 4) != 0 &&
                ++failures <= 20) {
                ADD_FAILURE() << first << ": lunar months in view differ from " << testing::PrintToString(inView);
            }
        }
    }
    EXPECT_EQ(startsSeen, starts) << "month starts on days that were never shown";
    EXPECT_EQ(termsSeen, terms) << "term days on days that were never shown";
    EXPECT_EQ(failures, 0);
}

// The almanac of every day, by rule from the reference: each festival on its lunar date and
// never in a leap month, 除夕 on the eve of each 春节 (so the 29th or 30th of month 12),
// 清明 on its term day; the lunar year turning on new year's day; the year's cycle stepping
// on at each 春节 only, the month's at each term that opens a Gregorian month only, the
// day's every day. almanac_test pins each cycle to known dates.
TEST(CalendarReference, TheAlmanacFollowsTheLunarDatesAndTerms) {
    struct Start {
        int lunarYear, code;
    };
    std::map<int, Start> starts;
    std::map<int, int> terms;
    readRows(kMonthStartsTsv, [&](int date, int year, int number, const std::string& leap) {
        starts[date] = {year, number | (leap == "1" ? 0x80 : 0)};
    });
    readRows(kSolarTermsTsv, [&](int date, int, int index, const std::string&) { terms[date] = index; });
    using namespace almanac;
    // Keyed by month << 8 | day, so a leap month (0x80 + n) finds none.
    const std::map<int, Festival> byLunarDate = {
        {0x101, kSpringFestival}, {0x10F, kLanternFestival}, {0x202, kDragonHead}, {0x505, kDragonBoat},
        {0x707, kQixi},           {0x70F, kGhostFestival},   {0x80F, kMidAutumn},  {0x909, kDoubleNinth},
        {0xC08, kLaba},           {0xC17, kLittleNewYear},
    };

    CalendarPanel panel;
    Start lunar{};
    int lunarDay = 0, weekday = 1, yearCycle = 0, monthCycle = 0, dayCycle = 0, failures = 0, springs = 0, eves = 0;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        for (uint16_t month = 1; month <= 12; ++month) {
            ASSERT_TRUE(panel.setViewMonth(year, month));
            Day days[31];
            ASSERT_EQ(describeMonth(panel, days), panel.daysInMonth);
            for (unsigned i = 0; i < panel.daysInMonth; ++i, weekday = (weekday + 1) % 7) {
                const Day& d = days[i];
                const int date = year * 10000 + month * 100 + static_cast<int>(i) + 1;
                const int next = i + 1 < panel.daysInMonth ? date + 1
                                 : month < 12              ? date - static_cast<int>(i) + 100
                                                           : (year + 1) * 10000 + 101;
                const auto start = starts.find(date), nextStart = starts.find(next);
                const auto term = terms.find(date);
                lunarDay = start != starts.end() ? 1 : lunarDay + 1;
                if (start != starts.end()) lunar = start->second;
                const bool spring = lunarDay == 1 && lunar.code == 1;
                const bool eve = nextStart != starts.end() && nextStart->second.code == 1;
                const auto byDate = byLunarDate.find(lunar.code << 8 | lunarDay);
                const unsigned festival = byDate != byLunarDate.end()                ? byDate->second
                                          : lunar.code == 12 && eve                  ? kNewYearsEve
                                          : term != terms.end() && term->second == 6 ? kQingming
                                                                                     : kNoFestival;
                const bool opensMonth = term != terms.end() && term->second % 2 == 0;
                // Each cycle steps on from the day before; the first day's are pinned in almanac_test.
                if (date == 19000101) {
                    yearCycle = d.yearCycle, monthCycle = d.monthCycle, dayCycle = d.dayCycle;
                } else {
                    yearCycle = (yearCycle + spring) % 60, monthCycle = (monthCycle + opensMonth) % 60;
                    dayCycle = (dayCycle + 1) % 60;
                }
                const auto actual = std::make_tuple(int{d.weekday}, int{d.lunarYear}, int{d.lunarMonth},
                                                    int{d.lunarDay}, int{d.solarTerm}, unsigned{d.festival},
                                                    int{d.yearCycle}, int{d.monthCycle}, int{d.dayCycle});
                const auto expected = std::make_tuple(weekday, lunar.lunarYear, lunar.code, lunarDay,
                                                      term != terms.end() ? term->second : int{kNoTerm}, festival,
                                                      yearCycle, monthCycle, dayCycle);
                if (actual != expected && ++failures <= 20) {
                    ADD_FAILURE() << date << ": " << testing::PrintToString(actual) << " expected "
                                  << testing::PrintToString(expected);
                }
                springs += d.festival == kSpringFestival;
                eves += d.festival == kNewYearsEve && lunarDay >= 29;
            }
        }
    }
    EXPECT_EQ(std::make_pair(springs, eves), std::make_pair(201, 201)) << "春节 1900..2100, 除夕 1899..2099";
    EXPECT_EQ(failures, 0);
}

}  // namespace
