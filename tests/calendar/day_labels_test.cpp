// The texts of each day cell: Gregorian numbers and two-character lunar labels.

#include "calendar/calendar_panel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The GBK label of day `day` as UTF-8, so that expectations read as Chinese.
std::string label(const CalendarPanel& panel, unsigned day) {
    wchar_t wide[4];
    const int wideLength = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, panel.lunarLabelText[day - 1], 4, wide, 4);
    char utf8[16];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, length > 0 ? length : 0);
}

std::vector<std::string> labels(const CalendarPanel& panel) {
    std::vector<std::string> all;
    for (unsigned day = 1; day <= panel.daysInMonth; ++day) all.push_back(label(panel, day));
    return all;
}

TEST(DayLabels, February2024) {
    CalendarPanel panel;
    ASSERT_TRUE(panel.setViewMonth(2024, 2));
    const std::vector<std::string> expected = {"廿二", "廿三", "廿四", "立春", "廿六", "廿七", "廿八", "廿九",
                                               "卅日", "一月", "初二", "初三", "初四", "初五", "初六", "初七",
                                               "初八", "初九", "雨水", "十一", "十二", "十三", "十四", "十五",
                                               "十六", "十七", "十八", "十九", "廿日"};
    EXPECT_EQ(labels(panel), expected);
}

TEST(DayLabels, MonthNamesTermsAndDayNames) {
    struct Row {
        uint16_t year, month, day;
        const char* text;
    };
    const Row rows[] = {
        {1900, 1, 1, "初一"},  // month 12 begins: no month name for 11 and 12
        {1900, 1, 6, "小寒"},   {1900, 1, 20, "大寒"},
        {1900, 1, 31, "一月"},  {2023, 3, 22, "闰二"},  // a leap month names its month after 闰
        {2020, 5, 23, "闰四"},  {1929, 11, 1, "十月"},  // the 1st itself begins month 10
        {2100, 12, 1, "初一"},  {2100, 12, 31, "初一"},
        {1900, 12, 22, "冬至"},  // both a term and the first day of month 11: the term wins
        {2033, 12, 22, "初一"},  // leap month 11 has no name either
        {2024, 3, 10, "二月"},  {2024, 3, 1, "廿一"},
        {2024, 2, 29, "廿日"},  {2024, 2, 9, "卅日"},
        {2024, 3, 19, "初十"},  {2024, 3, 20, "春分"},
        {2024, 3, 21, "十二"},
    };
    CalendarPanel panel;
    for (const Row& row : rows) {
        panel.setViewMonth(row.year, row.month);
        EXPECT_EQ(label(panel, row.day), row.text) << row.year << "-" << row.month << "-" << row.day;
    }
}

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

TEST(DayLabels, EveryLabelInRangeIsTwoValidGbkCharacters) {
    static CalendarPanel panel;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        for (uint16_t month = 1; month <= 12; ++month) {
            panel.setViewMonth(year, month);
            for (unsigned i = 0; i < panel.daysInMonth; ++i) {
                const unsigned char* bytes = reinterpret_cast<const unsigned char*>(panel.lunarLabelText[i]);
                const bool twoCharacters =
                    IsDBCSLeadByteEx(936, bytes[0]) && IsDBCSLeadByteEx(936, bytes[2]) &&
                    MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, panel.lunarLabelText[i], 4, nullptr, 0) == 2;
                ASSERT_TRUE(twoCharacters) << year << "-" << month << "-" << i + 1;
            }
        }
    }
}

}  // namespace
