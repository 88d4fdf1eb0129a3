// From a Gregorian month to lunar days, lunar months and term days: worked months, the
// range edges, and properties checked over every month from 1900 to 2100.

#include "calendar/calendar_panel.h"
#include "calendar/solar_term.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<int> bytes(const uint8_t* values, int count) { return std::vector<int>(values, values + count); }

TEST(Construction, DefaultsAndTheTodayLine) {
    CalendarPanel panel;
    EXPECT_FALSE(panel.ready);
    for (COLORREF color : panel.colors) EXPECT_EQ(color, 0x00C95E3Fu);
    EXPECT_EQ(std::string(panel.lunarLabelText[31], 4), "0000");

    // 今天: YYYY年 MM月 DD日 with two-digit month and day: 22 bytes and a terminator.
    char expected[32];
    std::snprintf(expected, sizeof expected, "\xBD\xF1\xCC\xEC: %04u\xC4\xEA %02u\xD4\xC2 %02u\xC8\xD5",
                  panel.todayYear, panel.todayMonth, panel.todayDay);
    EXPECT_STREQ(panel.todayText, expected);
    EXPECT_EQ(std::strlen(panel.todayText), 22u);
}

TEST(MonthConversion, WorkedMonths) {
    struct Row {
        uint16_t year, month;
        unsigned firstLunarDay, daysInMonth, firstWeekday;
        std::vector<int> monthsInView;
        std::vector<std::pair<unsigned, unsigned>> dayToLunar;  // Gregorian day, lunar day
    };
    const Row rows[] = {
        {1900, 1, 1, 31, 1, {12, 1, 0, 0}, {{1, 1}, {30, 30}, {31, 1}}},
        {2024, 2, 22, 29, 4, {12, 1, 0, 0}, {{9, 30}, {10, 1}, {29, 20}}},
        {2024, 3, 21, 31, 5, {1, 2, 0, 0}, {{10, 1}, {31, 22}}},
        {1908, 2, 29, 29, 6, {12, 1, 0, 0}, {{2, 1}, {29, 28}}},
        {2020, 5, 9, 31, 5, {4, 0x84, 0, 0}, {{22, 30}, {23, 1}}},
        {2100, 12, 1, 31, 3, {11, 12, 0, 0}, {{30, 30}, {31, 1}}},
        {2034, 1, 11, 31, 0, {0x8B, 12, 0, 0}, {{19, 29}, {20, 1}}},
        {2033, 12, 10, 31, 4, {11, 0x8B, 0, 0}, {{21, 30}, {22, 1}, {31, 10}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.year << "-" << row.month);
        CalendarPanel panel;
        ASSERT_TRUE(panel.setViewMonth(row.year, row.month));
        EXPECT_EQ(panel.firstLunarDay, row.firstLunarDay);
        EXPECT_EQ(panel.daysInMonth, row.daysInMonth);
        EXPECT_EQ(panel.firstWeekday, row.firstWeekday);
        EXPECT_EQ(bytes(panel.lunarMonthsInView, 4), row.monthsInView);
        for (const auto& [day, lunar] : row.dayToLunar) EXPECT_EQ(panel.lunarDayOf[day - 1], lunar) << "day " << day;
    }
}

TEST(MonthConversion, RangeEdgesAndOddMonths) {
    CalendarPanel panel;
    ASSERT_TRUE(panel.setViewMonth(2024, 5));
    EXPECT_FALSE(panel.setViewMonth(1899, 12));
    EXPECT_FALSE(panel.setViewMonth(2101, 1));
    EXPECT_EQ(panel.viewYear, 2024);
    EXPECT_EQ(panel.viewMonth, 5);

    for (uint16_t month : {0, 13}) {
        ASSERT_TRUE(panel.setViewMonth(2023, month));
        EXPECT_EQ(panel.viewYear, 2023);
        EXPECT_EQ(panel.viewMonth, 12) << month;
        EXPECT_EQ(panel.daysInMonth, 31);
    }
}

TEST(MonthConversion, SameMonthAgainRecomputesNothing) {
    CalendarPanel panel;
    ASSERT_TRUE(panel.setViewMonth(2024, 2));
    panel.lunarDayOf[0] = 99;
    EXPECT_TRUE(panel.setViewMonth(2024, 2));
    EXPECT_EQ(panel.lunarDayOf[0], 99);
}

TEST(NormalizeDate, ClampsAndFillsTheWeekday) {
    struct Row {
        uint16_t year, month, day;
        WORD wantYear, wantMonth, wantDay, wantWeekday;
    };
    const Row rows[] = {
        {2024, 2, 1, 2024, 2, 1, 4},   {1899, 5, 1, 1900, 5, 1, 2},    {2101, 1, 1, 1900, 1, 1, 1},
        {2023, 13, 1, 2023, 12, 1, 5}, {2023, 0, 31, 2023, 12, 31, 0}, {2023, 2, 29, 2023, 2, 1, 3},
        {2023, 6, 0, 2023, 6, 1, 4},
    };
    CalendarPanel panel;
    for (const Row& row : rows) {
        panel.loadLunarYear(row.year >= 1900 && row.year <= 2100 ? row.year : 1900);
        SYSTEMTIME out;
        ASSERT_TRUE(panel.normalizeDate(row.year, row.month, row.day, out));
        EXPECT_EQ(out.wYear, row.wantYear);
        EXPECT_EQ(out.wMonth, row.wantMonth);
        EXPECT_EQ(out.wDay, row.wantDay);
        EXPECT_EQ(out.wDayOfWeek, row.wantWeekday) << row.year << "-" << row.month << "-" << row.day;
        EXPECT_EQ(out.wHour + out.wMinute + out.wSecond + out.wMilliseconds, 0);
    }
}

TEST(SolarTerms, InstantIsSixtyFourBitExact) {
    // Start of spring 2024: 4 February 2024 14:39:00.8628 UTC.
    EXPECT_EQ(solarTermInstant(2024, 42467), 133515311408628000ULL);
}

TEST(SolarTerms, KnownTermDays) {
    struct Row {
        uint16_t year, month;
        unsigned first, second;
    };
    const Row rows[] = {
        {2017, 12, 7, 22},  // winter solstice 00:28 on the 22nd, China time
        {2023, 6, 6, 21},   // summer solstice on the 21st
        {2024, 2, 4, 19},  {2024, 4, 4, 19}, {2024, 12, 6, 21}, {1900, 12, 7, 22}, {2026, 12, 7, 22},
    };
    CalendarPanel panel;
    for (const Row& row : rows) {
        panel.setViewMonth(row.year, row.month);
        EXPECT_EQ(panel.solarTermDay[0], row.first) << row.year << "-" << row.month;
        EXPECT_EQ(panel.solarTermDay[1], row.second) << row.year << "-" << row.month;
    }
}

// Days since 1 January 1970 of a proleptic Gregorian date.
int daysFromCivil(int year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int>(dayOfEra) - 719468;
}

struct LunarMonth {
    int start;  // days since 1970
    int size;
    int number;
};

// Lays the table's lunar months end to end from each year's new year's day, checking that
// every year ends exactly where the next begins and matches the next year's window.
std::vector<LunarMonth> lunarMonthsEndToEnd() {
    CalendarPanel panel;
    std::vector<LunarMonth> all;
    panel.loadLunarYear(1900);
    const int firstNewYear = daysFromCivil(1900, panel.newYearMonth, panel.newYearDay);
    all.push_back({firstNewYear - panel.boundaryMonthDays[1], panel.boundaryMonthDays[1], 12});
    for (uint16_t year = 1900; year <= 2100; ++year) {
        panel.loadLunarYear(year);
        int start = daysFromCivil(year, panel.newYearMonth, panel.newYearDay);
        if (year > 1900) {
            EXPECT_EQ(all.back().start + all.back().size, start) << "lunar year " << year - 1 << " length";
            EXPECT_EQ(all[all.size() - 2].size, panel.boundaryMonthDays[0]) << year;
            EXPECT_EQ(all[all.size() - 2].number, panel.boundaryMonthNumber[0]) << year;
            EXPECT_EQ(all.back().size, panel.boundaryMonthDays[1]) << year;
        }
        for (int i = 0; i < (panel.leapMonth ? 13 : 12); ++i) {
            EXPECT_TRUE(panel.lunarMonthDays[i] == 29 || panel.lunarMonthDays[i] == 30) << year;
            all.push_back({start, panel.lunarMonthDays[i], panel.lunarMonthNumber[i]});
            start += panel.lunarMonthDays[i];
        }
    }
    return all;
}

TEST(WholeRange, EveryDayMatchesTheLunarMonthsLaidEndToEnd) {
    const std::vector<LunarMonth> months = lunarMonthsEndToEnd();
    static CalendarPanel panel;
    size_t current = 0;
    int mismatches = 0;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        for (uint16_t month = 1; month <= 12; ++month) {
            ASSERT_TRUE(panel.setViewMonth(year, month));
            std::vector<int> begun;
            for (unsigned i = 0; i < panel.daysInMonth; ++i) {
                const int day = daysFromCivil(year, month, i + 1);
                while (current + 1 < months.size() && months[current + 1].start <= day) ++current;
                const LunarMonth& lunar = months[current];
                if (i == 0 || day == lunar.start) begun.push_back(lunar.number);
                if (panel.lunarDayOf[i] != day - lunar.start + 1 && ++mismatches <= 10) {
                    ADD_FAILURE() << year << "-" << month << "-" << i + 1 << ": lunar day " << int(panel.lunarDayOf[i])
                                  << ", expected " << day - lunar.start + 1;
                }
            }
            for (size_t slot = 0; slot < begun.size(); ++slot) {
                EXPECT_EQ(panel.lunarMonthsInView[slot], begun[slot]) << year << "-" << month << " slot " << slot;
            }
            EXPECT_GE(panel.solarTermDay[0], 3);
            EXPECT_LE(panel.solarTermDay[0], 9);
            EXPECT_GE(panel.solarTermDay[1], 18);
            EXPECT_LE(panel.solarTermDay[1], 24);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(WholeRange, KnownLunarDates) {
    struct Row {
        uint16_t year, month, day;
        unsigned lunarDay;
    };
    const Row rows[] = {
        // Both sides of the year boundaries that the corrected words mend.
        {1931, 12, 31, 23},
        {1932, 1, 1, 24},
        {1940, 12, 31, 3},
        {1941, 1, 1, 4},
        {2017, 12, 31, 14},
        {2018, 1, 1, 15},
        {2033, 12, 31, 10},
        {2034, 1, 1, 11},
        // Chinese New Year.
        {1933, 1, 26, 1},
        {1996, 2, 19, 1},
        {2017, 1, 28, 1},
        {2018, 2, 16, 1},
        {2033, 1, 31, 1},
    };
    CalendarPanel panel;
    for (const Row& row : rows) {
        panel.setViewMonth(row.year, row.month);
        EXPECT_EQ(panel.lunarDayOf[row.day - 1], row.lunarDay) << row.year << "-" << row.month << "-" << row.day;
    }
}

}  // namespace
