// From a Gregorian month to lunar days, lunar months and term days: worked months and the
// range edges. The day-by-day lunar days and term days of 1900-2100 are checked against
// astronomical data by calendar_reference_test; this file keeps what labels cannot show (the
// numbers of months 11 and 12, weekdays, clamping, the term instant itself).

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

}  // namespace
