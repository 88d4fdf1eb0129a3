// The texts of each day cell beyond what calendar_reference_test compares day by day: the
// Gregorian numbers and the cells past the month's end.

#include "calendar/calendar_panel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DayLabels, DayNumbersHaveOneOrTwoDigits) {
    CalendarPanel panel;
    panel.setViewMonth(2024, 1);
    EXPECT_EQ(std::string(panel.dayNumberText[4], 2), std::string("5\0", 2));
    EXPECT_EQ(std::string(panel.dayNumberText[16], 2), "17");
    EXPECT_EQ(std::string(panel.dayNumberText[30], 2), "31");
}

TEST(DayLabels, ShortMonthLeavesLaterCellsAlone) {
    CalendarPanel panel;
    for (unsigned i = 28; i < 32; ++i) EXPECT_EQ(std::string(panel.lunarLabelText[i], 4), "0000");
    panel.setViewMonth(2023, 2);
    for (unsigned i = 28; i < 32; ++i) EXPECT_EQ(std::string(panel.lunarLabelText[i], 4), "0000") << i;
    EXPECT_EQ(panel.dayNumberText[28][0], 0);
}

}  // namespace
