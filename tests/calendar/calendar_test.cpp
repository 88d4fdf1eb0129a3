// Every day of 1900-2100 against astronomical data (new moons and the sun's longitude in China
// Standard Time, computed apart from the calendar's tables), the almanac at known dates; the month
// grid painted into a DIB section whose pixels the checks read, navigation and pointing.

#include "calendar/almanac.h"
#include "calendar/calendar_grid.h"
#include "calendar/calendar_panel.h"
#include "tests/test_support.h"

#include "month-starts.h"
#include "solar-terms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using almanac::Layout;
using namespace calendar_grid;

const char* const kDigits[11] = {"日", "一", "二", "三", "四", "五", "六", "七", "八", "九", "十"};
// 初一..初十, 十一..十九, 廿日, 廿一..廿九, 卅日.
std::string dayName(int d) {
    return std::string(d <= 10 ? "初" : d < 20 ? "十" : d < 30 ? "廿" : "卅") + kDigits[d == 10 ? 10 : d % 10];
}

// Rows by yyyymmdd: a month start's lunar year, month, leap flag, length; a term's year, index, name.
struct Row {
    int year, number;
    std::string word;
    int days;
};
std::map<int, Row> readRows(const char* text) {
    std::map<int, Row> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        int y, m, d, year, number, days = 0;
        char word[16];
        if (std::sscanf(line.c_str(), "%d-%d-%d %d %d %15s %d", &y, &m, &d, &year, &number, word, &days) >= 6) {
            rows[y * 10000 + m * 100 + d] = {year, number, word, days};
        }
    }
    return rows;
}

// GBK to UTF-8: `size` bytes, or up to the terminator.
std::string utf8(const char* gbk, int size = -1) {
    wchar_t wide[256];
    const int wideLength = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk, size, wide, 256);
    char text[512];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, text, sizeof text, nullptr, nullptr);
    return length > 0 ? std::string(text, length - (size < 0)) : "(not GBK)";
}

// A term day's label is the term; a month's first day names months 1..10 (一月, 闰四). Festivals
// by rule, never in a leap month. Weekdays count on from Monday 1 January 1900, the cycles from
// their values then: the year's at each 春节, the month's at each term that opens a month.
TEST(CalendarReference, EveryDayFollowsTheAstronomicalMonthsAndTerms) {
    const std::map<int, Row> starts = readRows(kMonthStartsTsv), terms = readRows(kSolarTermsTsv);
    using namespace almanac;
    // Keyed by month << 8 | day, so a leap month (0x80 + n) finds none.
    const std::map<int, Festival> byLunarDate = {
        {0x101, kSpringFestival}, {0x10F, kLanternFestival}, {0x202, kDragonHead}, {0x505, kDragonBoat},
        {0x707, kQixi},           {0x70F, kGhostFestival},   {0x80F, kMidAutumn},  {0x909, kDoubleNinth},
        {0xC08, kLaba},           {0xC17, kLittleNewYear},
    };

    CalendarPanel panel;
    Row lunar{};
    int code = 0, lunarDay = 0, weekday = 1, yearCycle = 0, monthCycle = 0, dayCycle = 0;
    std::string startLabel;
    for (uint16_t year = 1900; year <= 2100; ++year) {
        for (uint16_t month = 1; month <= 12; ++month) {
            ASSERT_TRUE(panel.setViewMonth(year, month));
            Day days[31];
            ASSERT_EQ(describeMonth(panel, days), panel.daysInMonth);
            for (unsigned i = 0; i < panel.daysInMonth; ++i, weekday = (weekday + 1) % 7) {
                const Day& d = days[i];
                const int date = year * 10000 + month * 100 + static_cast<int>(i) + 1;
                const auto start = starts.find(date), term = terms.find(date);
                const int termIndex = term != terms.end() ? term->second.number : int{kNoTerm};
                lunarDay = start != starts.end() ? 1 : lunarDay + 1;
                if (start != starts.end()) {
                    lunar = start->second, code = lunar.number | (lunar.word == "1" ? 0x80 : 0);
                    startLabel = lunar.number > 10 ? dayName(1)
                                 : code > 0x80     ? std::string("闰") + kDigits[lunar.number]
                                                   : std::string(kDigits[lunar.number]) + "月";
                }
                const auto byDate = byLunarDate.find(code << 8 | lunarDay);
                const unsigned festival = byDate != byLunarDate.end()            ? byDate->second
                                          : code == 12 && lunarDay == lunar.days ? kNewYearsEve
                                          : termIndex == 6                       ? kQingming
                                                                                 : kNoFestival;
                if (date == 19000101) {  // named, through the walk, by the rows of DescribesADayInWords
                    yearCycle = d.yearCycle, monthCycle = d.monthCycle, dayCycle = d.dayCycle;
                } else {
                    yearCycle = (yearCycle + (lunarDay == 1 && code == 1)) % 60, dayCycle = (dayCycle + 1) % 60;
                    monthCycle = (monthCycle + (termIndex >= 0 && termIndex % 2 == 0)) % 60;
                }
                const std::string label = term != terms.end() ? term->second.word
                                          : lunarDay == 1     ? startLabel
                                                              : dayName(lunarDay);
                const auto actual =
                    std::make_tuple(utf8(panel.lunarLabelText[i], 4), int{d.weekday}, int{d.lunarYear},
                                    int{d.lunarMonth}, int{d.lunarDay}, int{d.solarTerm}, unsigned{d.festival},
                                    int{d.yearCycle}, int{d.monthCycle}, int{d.dayCycle});
                const auto expected = std::make_tuple(label, weekday, lunar.year, code, lunarDay, termIndex, festival,
                                                      yearCycle, monthCycle, dayCycle);
                ASSERT_EQ(actual, expected) << date;  // one failing day says enough
            }
        }
    }
}

// What the walk leaves out: years beside the range, months 0 and 13, cells past the month.
TEST(MonthConversion, TodayLineRangeEdgesOddMonthsAndShortMonths) {
    CalendarPanel panel;
    almanac::Day described[31], out{};
    EXPECT_EQ(almanac::describeMonth(panel, described), 0u) << "no month shown yet";

    ASSERT_TRUE(panel.setViewMonth(2023, 2));
    EXPECT_FALSE(almanac::describeDay(panel, 0, out) || almanac::describeDay(panel, 29, out));
    for (unsigned i = 28; i < 32; ++i) EXPECT_EQ(std::string(panel.lunarLabelText[i], 4), "0000") << i;
    EXPECT_EQ(panel.dayNumberText[28][0], 0);
    EXPECT_FALSE(panel.setViewMonth(1899, 12) || panel.setViewMonth(2101, 1));
    EXPECT_EQ(std::make_pair(panel.viewYear, panel.viewMonth), (std::make_pair<uint16_t, uint16_t>(2023, 2)));

    for (uint16_t month : {0, 13}) {  // taken as December
        ASSERT_TRUE(panel.setViewMonth(2024, month));
        EXPECT_EQ(std::make_pair(panel.viewMonth, panel.daysInMonth), (std::make_pair<uint16_t, uint16_t>(12, 31)));
    }
}

// The names of what the walk counts (cycles, 除夕 on a 29th and a 30th, a leap month, days 20 and 30, a term
// that is a festival), cut at a whole character; the tooltip and pellumo-cal tests read 2026-12-07, 2027-02-06.
TEST(Almanac, DescribesADayInWords) {
    const std::tuple<uint16_t, uint16_t, uint16_t, Layout, size_t, const char*> rows[] = {
        // date, layout, room, text
        {2027, 2, 5, Layout::oneLine, 256, "2027年2月5日 星期五  农历丙午年 (马) 腊月廿九  壬寅月 乙卯日  除夕"},
        {1900, 1, 30, Layout::oneLine, 256, "1900年1月30日 星期二  农历己亥年 (猪) 腊月三十  丁丑月 癸卯日  除夕"},
        {1949, 10, 1, Layout::oneLine, 256, "1949年10月1日 星期六  农历己丑年 (牛) 八月初十  癸酉月 甲子日"},
        {2023, 3, 22, Layout::tipLines, 256, "2023年3月22日 星期三\r\n农历癸卯年 (兔) 闰二月初一"},
        {2024, 2, 29, Layout::tipLines, 256, "2024年2月29日 星期四\r\n农历甲辰年 (龙) 正月二十"},
        {2026, 4, 5, Layout::tipLines, 256, "2026年4月5日 星期日\r\n农历丙午年 (马) 二月十八\r\n清明"},
        {2038, 2, 4, Layout::tipLines, 256, "2038年2月4日 星期四\r\n农历戊午年 (马) 正月初一\r\n立春 春节"},
        {2026, 12, 7, Layout::tipLines, 6, "2026"},
        {2026, 12, 7, Layout::tipLines, 7, "2026年"},
        {2026, 12, 7, Layout::tipLines, 1, ""},
    };
    CalendarPanel panel;
    for (const auto& [year, month, date, layout, size, expected] : rows) {
        almanac::Day day{};
        char text[256] = {};
        std::fill_n(text, 255, 'x');
        ASSERT_TRUE(panel.setViewMonth(year, month) && almanac::describeDay(panel, date, day));
        const size_t length = almanac::describe(day, layout, text, size);
        EXPECT_EQ(utf8(text), expected);
        EXPECT_EQ(length, std::strlen(text));
    }
}

constexpr Box kAll{0, 0, 640, 900};  // the panel at 192 DPI; boxes count pixels up to, not at, right and bottom
// Channels of 0 or 255 only, so no anti-aliased edge of one can pass for another.
constexpr COLORREF kColors[5] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF};

// Today in the month shown (moved origin; the sixth row), in another month or year, a four-row
// February; at 96 DPI and scaled. Each picture is held to the hash of one that passed part-by-part
// checks (today's box, the caption); the checks below keep the placing and colour rules in view.
const struct PaintCase {
    uint16_t year, month;
    int originX, originY;
    uint16_t todayYear, todayMonth, todayDay;
    int dpi;
    uint64_t hash;
} kCases[] = {
    {2024, 2, 12, 60, 2024, 2, 1, 96, 0x50ecc4f47c77ee50},   {2025, 3, 30, 0, 2025, 3, 31, 96, 0xd976bc94a5c52da8},
    {2024, 3, 30, 0, 2024, 2, 29, 96, 0x37e89abbb478b36e},   {2025, 3, 30, 0, 2024, 3, 31, 96, 0x845adab73ca702a8},
    {2015, 2, 40, 100, 2024, 2, 29, 96, 0x039cc6c2e7178f36}, {2025, 3, 30, 0, 2025, 3, 31, 144, 0x069743ec44f14ceb},
    {2024, 3, 12, 60, 2024, 2, 29, 120, 0xdbc255f5f7375b06}, {2024, 2, 12, 60, 2024, 2, 1, 192, 0x044d48b398f1ead0},
};

TEST(CalendarPaint, DrawsEveryPartInItsPlaceAndColourInsideItsRectangle) {
    for (const PaintCase& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.year << "-" << c.month << " at " << c.dpi);
        CalendarPanel p;
        std::tie(p.originX, p.originY, p.todayYear, p.todayMonth, p.todayDay, p.dpi) =
            std::tie(c.originX, c.originY, c.todayYear, c.todayMonth, c.todayDay, c.dpi);
        const auto at = [&c](Box a) { return scaled(a, c.dpi); };
        std::copy(std::begin(kColors), std::end(kColors), p.colors);
        ASSERT_TRUE(p.setViewMonth(c.year, c.month));
        for (int d = 0; d < 9; ++d) p.dayNumberText[d][1] = '8';     // shows if days 1 to 9 draw a second byte
        test_support::Canvas canvas(kAll.right, kAll.bottom, true);  // colours with their anti-aliased shades
        ASSERT_TRUE(canvas.get() && p.paint(nullptr, canvas.get()));
        EXPECT_EQ(canvas.hash(), c.hash) << std::hex << canvas.hash();

        // Day d in cell firstWeekday + d - 1, seven to a row from Sunday: its number above its label.
        for (int d = 1; d <= p.daysInMonth; ++d) {
            const Box b = cellArea(p.originX, p.originY, cellOfDay(p.firstWeekday, d));
            const Box number = at({b.left, b.top, b.right, b.top + 14}),
                      label = at({b.left, b.top + 14, b.right, b.bottom});
            EXPECT_TRUE(canvas.count(number, kColors[1]) && !canvas.count(number, kColors[2]) &&
                        canvas.count(label, kColors[2]) && !canvas.count(label, kColors[1]))
                << d;
        }
        EXPECT_EQ(canvas.count(kAll), canvas.count(at(panelArea(p.originX, p.originY)))) << "drawn outside the panel";
    }
}

using Step = void (CalendarPanel::*)();
const Step previousYear = &CalendarPanel::previousYear, previousMonth = &CalendarPanel::previousMonth,
           nextYear = &CalendarPanel::nextYear, nextMonth = &CalendarPanel::nextMonth;

TEST(CalendarNavigation, StepsAndStopsAtTheRangeEnds) {
    const std::tuple<uint16_t, uint16_t, Step, uint16_t, uint16_t> rows[] = {
        // from, step, to
        {1900, 1, previousMonth, 1900, 1}, {2100, 12, nextMonth, 2100, 12},    {1901, 3, previousYear, 1900, 3},
        {2024, 2, nextYear, 2025, 2},      {2024, 1, previousMonth, 2023, 12}, {2024, 12, nextMonth, 2025, 1},
        {2024, 2, previousMonth, 2024, 1}, {2024, 11, nextMonth, 2024, 12},
    };
    for (const auto& [year, month, step, wantYear, wantMonth] : rows) {
        CalendarPanel p;
        ASSERT_TRUE(p.setViewMonth(year, month));
        (p.*step)();
        EXPECT_EQ(std::make_pair(p.viewYear, p.viewMonth), std::make_pair(wantYear, wantMonth)) << year << "-" << month;
    }

    // Before the first month no step shows one and nothing is drawn.
    CalendarPanel p;
    p.todayYear = 1999;
    for (Step s : {previousYear, previousMonth, nextYear, nextMonth}) (p.*s)();
    test_support::Canvas canvas(kAll.right, kAll.bottom, true);
    EXPECT_FALSE(p.paint(reinterpret_cast<HWND>(0x1234), canvas.get()) || canvas.count(kAll));
    EXPECT_FALSE(p.moveTo(50, 50)) << "no window recorded to repaint";
    p.setColor(7, 0x123456);  // the index wraps at five
    EXPECT_EQ(p.colors[2], COLORREF{0x123456});
}

// The day under a point, from the grid's corner: each side of the header, of the first and last
// day, of the cells outside the month and of the grid's four sides.
TEST(Grid, FindsTheDayUnderThePointer) {
    constexpr int x0 = 30, y0 = 5;
    const std::tuple<unsigned, unsigned, int, int, unsigned> rows[] = {
        // first weekday, days in the month, x, y, the day found
        {6, 31, 216, 35, 0},  {6, 31, 216, 36, 1}, {6, 31, 215, 36, 0}, {6, 31, 251, 71, 1}, {6, 31, 0, 72, 2},
        {6, 31, 71, 251, 31}, {6, 31, 72, 216, 0}, {6, 31, 0, 251, 30}, {6, 31, 0, 252, 0},  {0, 28, 251, 179, 28},
        {0, 28, 0, 180, 0},   {0, 31, -1, 36, 0},  {0, 31, 0, 36, 1},   {0, 31, 251, 36, 7}, {0, 31, 252, 36, 0},
    };
    for (const auto& [first, days, x, y, day] : rows)
        EXPECT_EQ(dayAt(x0, y0, first, days, x0 + x, y0 + y), day) << x << "," << y;
}

}  // namespace
