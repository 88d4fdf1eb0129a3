// Decoding of the year words: month lists, leap months, the new-year window.

#include "calendar/calendar_panel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> months(const uint8_t* values, int count) { return std::vector<int>(values, values + count); }

TEST(LoadLunarYear, Decodes1900WithLeapMonthAfterEight) {
    CalendarPanel panel;
    ASSERT_TRUE(panel.loadLunarYear(1900));
    EXPECT_EQ(panel.newYearMonth, 1);
    EXPECT_EQ(panel.newYearDay, 31);
    EXPECT_EQ(panel.leapMonth, 8);
    EXPECT_EQ(panel.leapMonthDays, 29);
    EXPECT_EQ(panel.yearWordHigh, 0x4BD8);
    EXPECT_EQ(panel.yearWordLow, 0x3F50);
    EXPECT_EQ(months(panel.lunarMonthDays, 13), (std::vector<int>{29, 30, 29, 29, 30, 29, 30, 30, 29, 30, 30, 29, 30}));
    EXPECT_EQ(months(panel.lunarMonthNumber, 13), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 0x88, 9, 10, 11, 12}));
    EXPECT_EQ(months(panel.boundaryMonthDays, 4), (std::vector<int>{29, 30, 29, 30}));
    EXPECT_EQ(months(panel.boundaryMonthNumber, 4), (std::vector<int>{11, 12, 1, 2}));
}

TEST(LoadLunarYear, Reads2034WindowWithPreviousLeapElevenAndFollowsCorrected2033) {
    CalendarPanel panel;
    panel.loadLunarYear(2034);
    EXPECT_EQ(panel.prevLeapMonth, 11);
    EXPECT_EQ(months(panel.boundaryMonthDays, 4), (std::vector<int>{29, 30, 29, 30}));
    EXPECT_EQ(months(panel.boundaryMonthNumber, 4), (std::vector<int>{0x8B, 12, 1, 2}));
    EXPECT_EQ(panel.newYearMonth, 2);
    EXPECT_EQ(panel.newYearDay, 19);

    // 2033 must itself announce the leap month after month 11 that 2034's window starts with.
    panel.loadLunarYear(2033);
    EXPECT_EQ(panel.leapMonth, 11);
    EXPECT_EQ(panel.lunarMonthNumber[11], 0x8B);
    EXPECT_EQ(panel.lunarMonthNumber[12], 12);
}

TEST(LoadLunarYear, YearWithoutLeapMonthLeavesThirteenthEntryEmptyAndKeepsLeapSize) {
    CalendarPanel panel;
    panel.loadLunarYear(1900);  // leap month of 29 days
    panel.loadLunarYear(2100);
    EXPECT_EQ(panel.leapMonth, 0);
    EXPECT_EQ(panel.lunarMonthDays[12], 0);
    EXPECT_EQ(panel.lunarMonthNumber[12], 0);
    EXPECT_EQ(panel.leapMonthDays, 29);  // untouched: nothing reads it in a year without one
    EXPECT_EQ(panel.newYearMonth, 2);
    EXPECT_EQ(panel.newYearDay, 9);
}

TEST(LoadLunarYear, LowBitsOtherThanElevenChangeNothing) {
    CalendarPanel panel;
    panel.loadLunarYear(1901);  // word 4AE05358: bits 3..0 are 8, bit 5 clear, bit 4 set
    EXPECT_EQ(panel.prevLeapMonth, 8);
    EXPECT_EQ(months(panel.boundaryMonthNumber, 2), (std::vector<int>{11, 12}));
    EXPECT_EQ(months(panel.boundaryMonthDays, 2), (std::vector<int>{29, 30}));
}

TEST(LoadLunarYear, EveryYearHasWellFormedMonths) {
    CalendarPanel panel;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        SCOPED_TRACE(year);
        panel.loadLunarYear(year);
        const int count = panel.leapMonth ? 13 : 12;
        for (int i = 0; i < count; ++i) {
            EXPECT_TRUE(panel.lunarMonthDays[i] == 29 || panel.lunarMonthDays[i] == 30);
        }
        if (panel.leapMonth) {
            EXPECT_EQ(panel.lunarMonthNumber[panel.leapMonth - 1], panel.leapMonth);
            EXPECT_EQ(panel.lunarMonthNumber[panel.leapMonth], 0x80 + panel.leapMonth);
        }
        EXPECT_TRUE(panel.newYearMonth == 1 || panel.newYearMonth == 2);
        EXPECT_TRUE(panel.newYearMonth == 2 || panel.newYearDay >= 20);  // never before 20 January
        EXPECT_TRUE(panel.newYearMonth == 1 || panel.newYearDay <= 20);  // never after 20 February
    }
}

TEST(GregorianMonths, LeapFlagFollowsTheLoadedYear) {
    struct Row {
        uint16_t year;
        unsigned february;
    };
    const Row rows[] = {{1900, 28}, {2100, 28}, {2000, 29}, {2024, 29}, {2023, 28}};
    CalendarPanel panel;
    for (const Row& row : rows) {
        panel.loadLunarYear(row.year);
        EXPECT_EQ(panel.daysInGregorianMonth(2), row.february) << row.year;
        EXPECT_EQ(panel.daysInGregorianMonth(1), 31u);
        EXPECT_EQ(panel.daysInGregorianMonth(4), 30u);
        EXPECT_EQ(panel.daysInGregorianMonth(12), 31u);
    }
}

}  // namespace
