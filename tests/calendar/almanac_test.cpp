// The almanac's words and the cycles pinned to known dates (calendar_reference_test steps
// every cycle from day to day over the whole range), and where the grid finds the day under
// the pointer.

#include "calendar/almanac.h"
#include "calendar/calendar_grid.h"
#include "calendar/calendar_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using almanac::Layout;

std::string utf8(const char* gbk) {
    wchar_t wide[256];
    const int wideLength = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, -1, wide, 256);
    char text[512];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, text, sizeof text, nullptr, nullptr);
    return length > 0 ? std::string(text, length - 1) : "(not GBK)";
}

almanac::Day dayOf(uint16_t year, uint16_t month, unsigned day) {
    static CalendarPanel panel;
    almanac::Day out{};
    EXPECT_TRUE(panel.setViewMonth(year, month) && almanac::describeDay(panel, day, out));
    return out;
}

// 1 January 1900 was a 甲戌 day, 1 October 1949 a 甲子 day; 1984 is a 甲子 year whose start
// of spring opens a 丙寅 month; 除夕 on a 29th and a 30th; a leap month; days 20 and 30 in
// words; 清明 named once; 立春 and 春节 on one day. Text is cut
// between characters, never inside one, and always terminated.
TEST(Almanac, DescribesADayInWords) {
    const struct {
        uint16_t year, month, day;
        Layout layout;
        size_t size;
        const char* expected;
    } rows[] = {
        {2026, 12, 7, Layout::tipLines, 256, "2026年12月7日 星期一\r\n农历丙午年 (马) 十月廿九\r\n大雪"},
        {2027, 2, 5, Layout::oneLine, 256, "2027年2月5日 星期五  农历丙午年 (马) 腊月廿九  壬寅月 乙卯日  除夕"},
        {2027, 2, 6, Layout::oneLine, 256, "2027年2月6日 星期六  农历丁未年 (羊) 正月初一  壬寅月 丙辰日  春节"},
        {1900, 1, 1, Layout::oneLine, 256, "1900年1月1日 星期一  农历己亥年 (猪) 腊月初一  丙子月 甲戌日"},
        {1900, 1, 30, Layout::oneLine, 256, "1900年1月30日 星期二  农历己亥年 (猪) 腊月三十  丁丑月 癸卯日  除夕"},
        {1949, 10, 1, Layout::oneLine, 256, "1949年10月1日 星期六  农历己丑年 (牛) 八月初十  癸酉月 甲子日"},
        {1984, 2, 4, Layout::oneLine, 256, "1984年2月4日 星期六  农历甲子年 (鼠) 正月初三  丙寅月 戊辰日  立春"},
        {2023, 3, 22, Layout::tipLines, 256, "2023年3月22日 星期三\r\n农历癸卯年 (兔) 闰二月初一"},
        {2024, 2, 29, Layout::tipLines, 256, "2024年2月29日 星期四\r\n农历甲辰年 (龙) 正月二十"},
        {2026, 4, 5, Layout::tipLines, 256, "2026年4月5日 星期日\r\n农历丙午年 (马) 二月十八\r\n清明"},
        {2038, 2, 4, Layout::tipLines, 256, "2038年2月4日 星期四\r\n农历戊午年 (马) 正月初一\r\n立春 春节"},
        {2026, 12, 7, Layout::tipLines, 6, "2026"},
        {2026, 12, 7, Layout::tipLines, 7, "2026年"},
        {2026, 12, 7, Layout::tipLines, 1, ""},
    };
    for (const auto& c : rows) {
        char text[256] = {};
        std::fill_n(text, 255, 'x');
        const size_t length = almanac::describe(dayOf(c.year, c.month, c.day), c.layout, text, c.size);
        EXPECT_EQ(utf8(text), c.expected);
        EXPECT_EQ(length, std::strlen(text));
    }
    char words[32];
    almanac::lunarDateWords(dayOf(2026, 12, 7), false, words, sizeof words);
    EXPECT_EQ(utf8(words), "农历丙午年 十月廿九");

    // No day outside the month on show.
    CalendarPanel panel;
    almanac::Day days[31], out{};
    EXPECT_EQ(almanac::describeMonth(panel, days), 0u) << "no month shown yet";
    ASSERT_TRUE(panel.setViewMonth(2023, 2));
    EXPECT_FALSE(almanac::describeDay(panel, 0, out) || almanac::describeDay(panel, 29, out));
    EXPECT_TRUE(almanac::describeDay(panel, 28, out));
}

// Every day's cell holds that day from corner to corner; the header, the cells before the
// 1st and after the last day and the points just off the grid hold none.
TEST(Grid, FindsTheDayUnderThePointer) {
    using namespace calendar_grid;
    constexpr int x0 = 30, y0 = 5;
    for (unsigned first : {0u, 6u}) {
        for (unsigned day = 1; day <= 31; ++day) {
            const Box c = cellArea(x0, y0, cellOfDay(first, day));
            EXPECT_EQ(dayAt(x0, y0, first, 31, c.left, c.top), day) << first;
            EXPECT_EQ(dayAt(x0, y0, first, 31, c.right - 1, c.bottom - 1), day) << first;
        }
    }
    const struct {
        unsigned first, days;
        int x, y;
    } misses[] = {{6, 31, 216, 35}, {6, 31, 215, 36}, {6, 31, 72, 216}, {0, 28, 0, 180},
                  {0, 31, -1, 36},  {0, 31, 252, 36}, {0, 31, 0, 252}};  // from the grid's corner
    for (const auto& m : misses) EXPECT_EQ(dayAt(x0, y0, m.first, m.days, x0 + m.x, y0 + m.y), 0u) << m.x << "," << m.y;
}

}  // namespace
