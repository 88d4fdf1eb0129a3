// Decoding of the year words: month lists, leap months, the new-year window.

#include "calendar/calendar_panel.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> list(const uint8_t* values, int count) { return std::vector<int>(values, values + count); }

TEST(LoadLunarYear, DecodesMonthsLeapMonthAndNewYear) {
    CalendarPanel panel;
    ASSERT_TRUE(panel.loadLunarYear(1900));
    EXPECT_EQ(panel.newYearMonth, 1);
    EXPECT_EQ(panel.newYearDay, 31);
    EXPECT_EQ(panel.leapMonth, 8);
    EXPECT_EQ(panel.leapMonthDays, 29);
    EXPECT_EQ(list(panel.lunarMonthDays, 13), (std::vector<int>{29, 30, 29, 29, 30, 29, 30, 30, 29, 30, 30, 29, 30}));
    EXPECT_EQ(list(panel.lunarMonthNumber, 13), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 0x88, 9, 10, 11, 12}));
    EXPECT_EQ(list(panel.boundaryMonthDays, 4), (std::vector<int>{29, 30, 29, 30}));
    EXPECT_EQ(list(panel.boundaryMonthNumber, 4), (std::vector<int>{11, 12, 1, 2}));

    // A year without a leap month empties the thirteenth entry and leaves the old leap size.
    panel.loadLunarYear(2100);
    EXPECT_EQ(panel.leapMonth, 0);
    EXPECT_EQ(panel.lunarMonthDays[12], 0);
    EXPECT_EQ(panel.lunarMonthNumber[12], 0);
    EXPECT_EQ(panel.leapMonthDays, 29);
    EXPECT_EQ(panel.newYearDay, 9);
}

TEST(LoadLunarYear, WindowStartsWithThePreviousLeapElevenOnlyWhenMarked) {
    CalendarPanel panel;
    panel.loadLunarYear(2034);
    EXPECT_EQ(list(panel.boundaryMonthDays, 4), (std::vector<int>{29, 30, 29, 30}));
    EXPECT_EQ(list(panel.boundaryMonthNumber, 4), (std::vector<int>{0x8B, 12, 1, 2}));
    panel.loadLunarYear(2033);  // its corrected word puts the leap month after month 11
    EXPECT_EQ(list(panel.lunarMonthNumber + 10, 3), (std::vector<int>{11, 0x8B, 12}));

    panel.loadLunarYear(1901);  // low bits 8: not a marker
    EXPECT_EQ(panel.prevLeapMonth, 8);
    EXPECT_EQ(list(panel.boundaryMonthNumber, 2), (std::vector<int>{11, 12}));
    EXPECT_EQ(list(panel.boundaryMonthDays, 2), (std::vector<int>{29, 30}));
}

TEST(GregorianMonths, FebruaryFollowsTheLoadedYear) {
    const std::pair<uint16_t, unsigned> rows[] = {{1900, 28}, {2100, 28}, {2000, 29}, {2024, 29}, {2023, 28}};
    CalendarPanel panel;
    for (const auto& [year, february] : rows) {
        panel.loadLunarYear(year);
        EXPECT_EQ(panel.daysInGregorianMonth(2), february) << year;
        EXPECT_EQ(panel.daysInGregorianMonth(12), 31u);
    }
}

}  // namespace
