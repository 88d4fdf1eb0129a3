// Every day from 1900 to 2100 against astronomical reference data (new moons and the
// sun's longitude in China Standard Time, computed apart from the calendar's tables):
// the lunar day and the label that each day shows.

#include "calendar/calendar_panel.h"

#include "month-starts.h"
#include "solar-terms.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct MonthStart {
    int date;  // yyyymmdd
    int number;
    int leap;
};

struct TermDay {
    int date;  // yyyymmdd
    std::string name;
};

int dateKey(int year, int month, int day) { return year * 10000 + month * 100 + day; }

std::vector<MonthStart> parseMonthStarts(const char* text) {
    std::vector<MonthStart> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        int y, m, d, lunarYear, number, leap, days;
        if (std::sscanf(line.c_str(), "%d-%d-%d\t%d\t%d\t%d\t%d", &y, &m, &d, &lunarYear, &number, &leap, &days) == 7) {
            rows.push_back({dateKey(y, m, d), number, leap});
        }
    }
    return rows;
}

std::vector<TermDay> parseTermDays(const char* text) {
    std::vector<TermDay> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        int y, m, d, year, index;
        char name[16];
        if (std::sscanf(line.c_str(), "%d-%d-%d\t%d\t%d\t%15s", &y, &m, &d, &year, &index, name) == 6) {
            rows.push_back({dateKey(y, m, d), name});
        }
    }
    return rows;
}

const char* const kDayNames[31] = {
    "",     "初一", "初二", "初三", "初四", "初五", "初六", "初七", "初八", "初九", "初十",
    "十一", "十二", "十三", "十四", "十五", "十六", "十七", "十八", "十九", "廿日", "廿一",
    "廿二", "廿三", "廿四", "廿五", "廿六", "廿七", "廿八", "廿九", "卅日",
};
const char* const kDigits[11] = {"日", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};

// Months 1..10 are named on their first day (一月, or 闰四 for the leap month after 4);
// months 11 and 12 show the day name.
std::string firstDayLabel(const MonthStart& month) {
    if (month.number > 10) return kDayNames[1];
    return month.leap ? std::string("闰") + kDigits[month.number] : std::string(kDigits[month.number]) + "月";
}

std::string utf8Label(const char* gbk) {
    wchar_t wide[4];
    const int wideLength = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, 4, wide, 4);
    char utf8[16];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, length > 0 ? length : 0);
}

// A term day shows the term even when a lunar month begins on it.
TEST(CalendarReference, EveryDayShowsTheAstronomicalLunarDayAndLabel) {
    const std::vector<MonthStart> starts = parseMonthStarts(kMonthStartsTsv);
    const std::vector<TermDay> terms = parseTermDays(kSolarTermsTsv);
    ASSERT_EQ(starts.size(), 2487u);
    ASSERT_EQ(terms.size(), 4824u);

    CalendarPanel panel;
    size_t nextStart = 0;
    size_t nextTerm = 0;
    MonthStart current{};
    int lunarDay = 0;
    int failures = 0;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        for (uint16_t month = 1; month <= 12; ++month) {
            ASSERT_TRUE(panel.setViewMonth(year, month));
            for (unsigned i = 0; i < panel.daysInMonth; ++i) {
                const int date = dateKey(year, month, static_cast<int>(i + 1));
                if (nextStart < starts.size() && starts[nextStart].date == date) {
                    current = starts[nextStart++];
                    lunarDay = 1;
                } else {
                    ++lunarDay;
                }
                std::string expected = lunarDay == 1    ? firstDayLabel(current)
                                       : lunarDay <= 30 ? kDayNames[lunarDay]
                                                        : "?";
                if (nextTerm < terms.size() && terms[nextTerm].date == date) expected = terms[nextTerm++].name;

                const std::string actual = utf8Label(panel.lunarLabelText[i]);
                if ((actual != expected || panel.lunarDayOf[i] != lunarDay) && ++failures <= 20) {
                    ADD_FAILURE() << year << "-" << month << "-" << i + 1 << ": shows " << actual << " (lunar day "
                                  << int{panel.lunarDayOf[i]} << "), expected " << expected << " (lunar day "
                                  << lunarDay << ")";
                }
            }
        }
    }
    EXPECT_EQ(nextStart, starts.size()) << "month starts left unvisited";
    EXPECT_EQ(nextTerm, terms.size()) << "term days left unvisited";
    EXPECT_EQ(failures, 0);
}

}  // namespace
