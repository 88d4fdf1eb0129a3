// The month grid painted into a DIB section whose pixels the checks read; navigation; pointing.

#include "calendar/calendar_grid.h"
#include "calendar/calendar_panel.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace {

using namespace calendar_grid;
using test_support::Canvas;
using Area = Box;  // as an area to count pixels in, right and bottom exclusive

constexpr Area kAll{0, 0, 640, 900};  // the panel at 192 DPI
// Channels of 0 or 255 only, so no anti-aliased edge of one can pass for another.
constexpr COLORREF kColors[5] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF};

// Today in the month shown (moved origin; the sixth row), in another month or year, a four-row
// February; at 96 DPI and scaled. Each picture is held to the hash of one that passed
// part-by-part checks; the checks below say what a redrawn picture must still show.
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
        const auto at = [&c](Area a) { return scaled(a, c.dpi); };
        std::copy(std::begin(kColors), std::end(kColors), p.colors);
        ASSERT_TRUE(p.setViewMonth(c.year, c.month));
        for (int d = 0; d < 9; ++d) p.dayNumberText[d][1] = '8';  // shows if days 1 to 9 draw a second byte
        Canvas canvas(kAll.right, kAll.bottom, true);             // colours with their anti-aliased shades
        ASSERT_TRUE(canvas.get() && p.paint(nullptr, canvas.get()));
        EXPECT_EQ(canvas.hash(), c.hash) << std::hex << canvas.hash();

        // Day d in cell firstWeekday + d - 1, seven to a row from Sunday: its number above its label.
        for (int d = 1; d <= p.daysInMonth; ++d) {
            const Cell cell = cellOfDay(p.firstWeekday, d);
            const int x = columnLeft(p.originX, cell.column), y = rowTop(p.originY, cell.row);
            const Area number = at({x, y, x + kCell, y + 14}), label = at({x, y + 14, x + kCell, y + kCell});
            EXPECT_TRUE(canvas.count(number, kColors[1]) && !canvas.count(number, kColors[2])) << "number " << d;
            EXPECT_TRUE(canvas.count(label, kColors[2]) && !canvas.count(label, kColors[1])) << "label " << d;
        }
        // Today's box where today is shown, otherwise the caption; nothing outside the repainted area.
        const bool todayShown = c.todayYear == c.year && c.todayMonth == c.month;
        const Box b = at(todayBox(p.originX, p.originY, cellOfDay(p.firstWeekday, c.todayDay)));
        const int pen = scaleToDpi(2, c.dpi);
        const Area where = todayShown ? Area{b.left - pen, b.top - pen, b.right + pen + 1, b.bottom + pen + 1}
                                      : at({p.originX + 45, p.originY, p.originX + 252, p.originY + 16});
        EXPECT_EQ(canvas.count(where, kColors[3]), std::max(1, canvas.count(kAll, kColors[3])));  // all, and some
        EXPECT_EQ(canvas.count(kAll), canvas.count(at(panelArea(p.originX, p.originY))));
    }
}

using Step = void (CalendarPanel::*)();
const Step previousYear = &CalendarPanel::previousYear, previousMonth = &CalendarPanel::previousMonth,
           nextYear = &CalendarPanel::nextYear, nextMonth = &CalendarPanel::nextMonth;

TEST(CalendarNavigation, StepsAndStopsAtTheRangeEndsAndStartsAtHome) {
    const struct {
        uint16_t year, month;
        Step step;
        uint16_t wantYear, wantMonth;
    } rows[] = {
        {1900, 1, previousMonth, 1900, 1}, {2100, 12, nextMonth, 2100, 12},    {1901, 3, previousYear, 1900, 3},
        {2024, 2, nextYear, 2025, 2},      {2024, 1, previousMonth, 2023, 12}, {2024, 12, nextMonth, 2025, 1},
        {2024, 2, previousMonth, 2024, 1}, {2024, 11, nextMonth, 2024, 12},
    };
    for (const auto& row : rows) {
        CalendarPanel p;
        ASSERT_TRUE(p.setViewMonth(row.year, row.month));
        (p.*row.step)();
        EXPECT_EQ(std::make_pair(p.viewYear, p.viewMonth), std::make_pair(row.wantYear, row.wantMonth)) << row.year;
    }

    // Before the first month no step shows one and nothing is drawn; Home shows the clock's month.
    CalendarPanel p;
    p.todayYear = 1999;
    for (Step s : {previousYear, previousMonth, nextYear, nextMonth}) (p.*s)();
    Canvas canvas(kAll.right, kAll.bottom, true);
    EXPECT_FALSE(p.paint(reinterpret_cast<HWND>(0x1234), canvas.get()) || canvas.count(kAll));
    EXPECT_FALSE(p.moveTo(50, 50)) << "no window recorded to repaint";
    p.setColor(7, 0x123456);  // the index wraps at five
    EXPECT_EQ(p.colors[2], COLORREF{0x123456});
    SYSTEMTIME now;
    GetLocalTime(&now);
    p.showCurrentMonth();
    EXPECT_EQ(std::make_pair(p.viewYear, p.viewMonth), std::make_pair(now.wYear, now.wMonth));
}

// Each day's cell holds it corner to corner; the header, cells outside the month and the grid's edges none.
TEST(Grid, FindsTheDayUnderThePointer) {
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
