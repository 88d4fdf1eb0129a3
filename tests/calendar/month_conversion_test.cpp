// What calendar_reference_test, which walks every month of 1900-2100, leaves out: the today
// line, the years either side of the range, months 0 and 13, the day numbers and the cells
// past a short month's end.

#include "calendar/calendar_panel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

namespace {

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
