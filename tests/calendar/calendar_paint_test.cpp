// Painting and navigation of the month grid, painted into a DIB section whose real pixels
// the checks read.

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

constexpr int kWidth = 320, kHeight = 450;  // at 96 DPI; a canvas twice as large holds 192
constexpr Area kAll{0, 0, 2 * kWidth, 2 * kHeight};
// Channels of 0 or 255 only, so no anti-aliased edge of one can pass for another.
constexpr COLORREF kColors[5] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF};

// A cell's rows from `top` to `bottom`, at the panel's DPI.
Area inCell(const CalendarPanel& p, Cell c, int top, int bottom) {
    const int x = columnLeft(p.originX, c.column), y = rowTop(p.originY, c.row);
    return scaled({x, y + top, x + kCell, y + bottom}, p.dpi);
}

struct PaintCase {
    uint16_t year, month;
    int originX, originY;
    uint16_t todayYear, todayMonth, todayDay;
    int dpi;
};
class CalendarPaint : public ::testing::TestWithParam<PaintCase> {};

TEST_P(CalendarPaint, DrawsEveryPartInItsPlaceAndColourInsideItsRectangle) {
    const PaintCase c = GetParam();
    CalendarPanel p;
    std::tie(p.originX, p.originY, p.todayYear, p.todayMonth, p.todayDay, p.dpi) =
        std::tie(c.originX, c.originY, c.todayYear, c.todayMonth, c.todayDay, c.dpi);
    const auto at = [&c](Area a) { return scaled(a, c.dpi); };
    std::copy(std::begin(kColors), std::end(kColors), p.colors);
    ASSERT_TRUE(p.setViewMonth(c.year, c.month));
    for (int d = 0; d < 9; ++d) p.dayNumberText[d][1] = '8';  // shows if days 1 to 9 draw a second byte
    Canvas canvas(kAll.right, kAll.bottom, true);             // colours with their anti-aliased shades
    ASSERT_TRUE(canvas.get() && p.paint(nullptr, canvas.get()));

    for (int i = 0; i < 7; ++i) EXPECT_GT(canvas.count(inCell(p, {i, -1}, 18, 36), kColors[0]), 0) << "weekday " << i;
    SIZE digit{};
    GetTextExtentPoint32A(canvas.get(), "8", 1, &digit);
    // Day d in cell firstWeekday + d - 1, seven to a row from Sunday. Cells outside the month
    // stay empty, but for today's box reaching in from the next cell; the today line crosses row 5.
    for (int k = 0; k < 42; ++k) {
        const int d = k - p.firstWeekday + 1;
        const Area number = inCell(p, {k % 7, k / 7}, 0, 14), label = inCell(p, {k % 7, k / 7}, 14, 36);
        if (d < 1 || d > p.daysInMonth) {
            const Area cell{number.left, number.top, label.right, label.bottom};
            EXPECT_TRUE(k >= 35 || canvas.count(cell) == canvas.count(cell, kColors[3])) << "empty cell " << k;
            continue;
        }
        EXPECT_TRUE(canvas.count(number, kColors[1]) && !canvas.count(number, kColors[2])) << "number " << d;
        EXPECT_TRUE(canvas.count(label, kColors[2]) && !canvas.count(label, kColors[1])) << "label " << d;
        const Area second{number.left + scaleToDpi(9, c.dpi) + digit.cx, number.top, number.right, number.bottom};
        EXPECT_EQ(canvas.count(second, kColors[1]) > 0, d >= 10) << "second digit of " << d;
    }
    EXPECT_GT(canvas.count(at({p.originX + 90, p.originY + 226, p.originX + 252, p.originY + 244}), kColors[4]), 0);

    const int caption = canvas.count(at({p.originX + 45, p.originY, p.originX + 252, p.originY + 16}), kColors[3]);
    const int allOfColour3 = canvas.count(kAll, kColors[3]);
    if (c.todayYear == c.year && c.todayMonth == c.month) {
        EXPECT_EQ(caption, 0);
        const Box b = at(todayBox(p.originX, p.originY, cellOfDay(p.firstWeekday, c.todayDay)));
        const int midX = (b.left + b.right) / 2, midY = (b.top + b.bottom) / 2, pen = scaleToDpi(2, c.dpi);
        // The pen (2 pixels at 96 DPI) straddles each edge: look half of it either side.
        const int in = pen / 2, out = pen / 2 + 1;
        for (Area edge :
             {Area{midX, b.top - in, midX + 1, b.top + out}, Area{midX, b.bottom - in, midX + 1, b.bottom + out},
              Area{b.left - in, midY, b.left + out, midY + 1}, Area{b.right - in, midY, b.right + out, midY + 1}})
            EXPECT_GT(canvas.count(edge, kColors[3]), 0) << "edge at " << edge.left << "," << edge.top;
        EXPECT_EQ(canvas.count({midX, b.top - pen, midX + 1, b.top + pen + 1}, kColors[3]), pen) << "pen width";
        EXPECT_EQ(canvas.count({b.left + pen, b.top + pen, b.right - pen + 1, b.bottom - pen + 1}, kColors[3]), 0);
        EXPECT_EQ(canvas.count({b.left - pen, b.top - pen, b.right + pen + 1, b.bottom + pen + 1}, kColors[3]),
                  allOfColour3);
    } else {
        EXPECT_GT(caption, 0);
        EXPECT_EQ(caption, allOfColour3) << "no box outside today's month";
    }
    EXPECT_EQ(canvas.count(kAll), canvas.count(at(panelArea(p.originX, p.originY))))
        << "ink outside the repainted area";
}

// Today in the month shown (moved origin; the sixth row), today in another month or in
// the same month of another year, and a four-row February; at 96 DPI and scaled.
const PaintCase kCases[] = {
    {2024, 2, 12, 60, 2024, 2, 1, 96},   {2025, 3, 30, 0, 2025, 3, 31, 96},   {2024, 3, 30, 0, 2024, 2, 29, 96},
    {2025, 3, 30, 0, 2024, 3, 31, 96},   {2015, 2, 40, 100, 2024, 2, 29, 96}, {2025, 3, 30, 0, 2025, 3, 31, 144},
    {2024, 3, 12, 60, 2024, 2, 29, 120}, {2024, 2, 12, 60, 2024, 2, 1, 192},
};
INSTANTIATE_TEST_SUITE_P(Months, CalendarPaint, ::testing::ValuesIn(kCases));

// At 96 DPI every pixel (today's box 34 x 36 from one pixel left of its cell among them) is
// where the build before the scaling put it.
TEST(CalendarPaint, At96DpiDrawsThePictureOfTheBuildBefore) {
    CalendarPanel p;
    p.rollToday(2025, 3, 31);
    std::copy(std::begin(kColors), std::end(kColors), p.colors);
    ASSERT_TRUE(p.setViewMonth(2025, 3));
    Canvas canvas(kWidth, kHeight, true);
    ASSERT_TRUE(canvas.get() && p.paint(nullptr, canvas.get()));
    EXPECT_EQ(canvas.hash(), 0xcd8054005dcbb19dull);
}

using Step = void (CalendarPanel::*)();
const Step previousYear = &CalendarPanel::previousYear, previousMonth = &CalendarPanel::previousMonth,
           nextYear = &CalendarPanel::nextYear, nextMonth = &CalendarPanel::nextMonth;

TEST(CalendarNavigation, StepsAndStopsAtTheRangeEnds) {
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
}

// Before the first month no step shows one and nothing is drawn; Home then shows the
// month of the clock, not of the day the program started.
TEST(CalendarNavigation, BeforeTheFirstMonthNothingIsDrawnAndOnlyHomeShowsOne) {
    CalendarPanel p;
    p.todayYear = 1999;
    for (Step s : {previousYear, previousMonth, nextYear, nextMonth}) (p.*s)();
    Canvas canvas(kAll.right, kAll.bottom, true);
    ASSERT_NE(canvas.get(), nullptr);
    EXPECT_FALSE(p.paint(reinterpret_cast<HWND>(0x1234), canvas.get()) || canvas.count(kAll));
    EXPECT_FALSE(p.moveTo(50, 50)) << "no window recorded to repaint";
    p.setColor(7, 0x123456);  // the index wraps at five
    EXPECT_EQ(p.colors[2], COLORREF{0x123456});
    SYSTEMTIME now;
    GetLocalTime(&now);
    p.showCurrentMonth();
    EXPECT_EQ(std::make_pair(p.viewYear, p.viewMonth), std::make_pair(now.wYear, now.wMonth));
}

}  // namespace
