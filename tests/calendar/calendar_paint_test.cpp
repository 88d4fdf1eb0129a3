// The month grid painted into a DIB section whose pixels the checks read; navigation; pointing.

#include "calendar/calendar_grid.h"
#include "calendar/calendar_panel.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {

using namespace calendar_grid;

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
