// Painting and navigation of the month grid. Painting goes into a memory device context
// over a DIB section the size of the window, and the checks read its real pixels.

#include "calendar/calendar_grid.h"
#include "calendar/calendar_panel.h"
#include "common/unique.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace {

using calendar_grid::Cell;
using calendar_grid::cellOfDay;
using calendar_grid::columnLeft;
using calendar_grid::rowTop;

constexpr int kWidth = 320;
constexpr int kHeight = 450;

// Five colours that no anti-aliased edge of another can produce exactly.
constexpr COLORREF kColors[5] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF};

struct Area {
    int left, top, right, bottom;  // right and bottom exclusive
};

class Canvas {
public:
    Canvas() {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;  // top-down: row 0 is the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        selected.emplace(dc.get(), bitmap.get());
    }
    bool valid() const { return dc && bitmap && bits; }
    HDC get() const { return dc.get(); }

    // The DIB holds 0x00RRGGBB; a COLORREF is 0x00BBGGRR.
    COLORREF at(int x, int y) const {
        GdiFlush();
        const uint32_t v = static_cast<const uint32_t*>(bits)[y * kWidth + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
    // Pixels of `color` or of a darker shade of it: anti-aliased glyph edges blend it
    // with the black background, scaling every channel alike.
    int count(Area a, COLORREF color) const {
        return countIf(a, [color](COLORREF p) { return isShadeOf(p, color); });
    }
    int exact(Area a, COLORREF color) const {
        return countIf(a, [color](COLORREF p) { return p == color; });
    }
    int ink(Area a) const {
        return countIf(a, [](COLORREF p) { return p != 0; });
    }
    int inkOutside(Area a) const { return ink({0, 0, kWidth, kHeight}) - ink(a); }

private:
    // The test colours have channels of 0 or 255 only, so a shade keeps the zero channels
    // at zero and the others equal to each other.
    static bool isShadeOf(COLORREF p, COLORREF color) {
        if (p == 0) return false;
        int level = -1;
        for (int shift = 0; shift < 24; shift += 8) {
            const int want = (color >> shift) & 0xFF, got = (p >> shift) & 0xFF;
            if (want == 0 && got != 0) return false;
            if (want != 0 && level >= 0 && got != level) return false;
            if (want != 0) level = got;
        }
        return true;
    }
    template <class Predicate>
    int countIf(Area a, Predicate predicate) const {
        int n = 0;
        for (int y = clampY(a.top); y < clampY(a.bottom); ++y) {
            for (int x = clampX(a.left); x < clampX(a.right); ++x) n += predicate(at(x, y));
        }
        return n;
    }
    static int clampX(int x) { return x < 0 ? 0 : x > kWidth ? kWidth : x; }
    static int clampY(int y) { return y < 0 ? 0 : y > kHeight ? kHeight : y; }

    UniqueMemoryDc dc{CreateCompatibleDC(nullptr)};
    UniqueGdi bitmap;
    void* bits = nullptr;
    std::optional<SelectGuard> selected;  // last member: deselects before the bitmap goes
};

// The number sits in the top 14 pixels of a cell, the lunar label in the 22 below.
Area numberArea(const CalendarPanel& p, Cell c) {
    const int left = columnLeft(p.originX, c.column), top = rowTop(p.originY, c.row);
    return {left, top, left + 36, top + 14};
}
Area labelArea(const CalendarPanel& p, Cell c) {
    const int left = columnLeft(p.originX, c.column), top = rowTop(p.originY, c.row);
    return {left, top + 14, left + 36, top + 36};
}
Area captionArea(const CalendarPanel& p) { return {p.originX + 45, p.originY, p.originX + 252, p.originY + 16}; }
Area todayLineArea(const CalendarPanel& p) {
    return {p.originX + 90, p.originY + 226, p.originX + 252, p.originY + 244};
}
Area calendarArea(const CalendarPanel& p) {
    const calendar_grid::Box b = calendar_grid::panelArea(p.originX, p.originY);
    return {b.left, b.top, b.right, b.bottom};
}

// A panel whose "today" is 29 February 2024, whatever the clock says, in the test colours.
CalendarPanel& testPanel(CalendarPanel& p, int originX, int originY) {
    p.todayYear = 2024;
    p.todayMonth = 2;
    p.todayDay = 29;
    for (int i = 0; i < 5; ++i) p.colors[i] = kColors[i];
    p.originX = originX;
    p.originY = originY;
    return p;
}

struct PaintCase {
    uint16_t year, month;
    int originX, originY;
    uint16_t today;  // day of the month that is today; 0: today lies in another month
};

void PrintTo(const PaintCase& c, std::ostream* out) {
    *out << c.year << "-" << c.month << " at (" << c.originX << ", " << c.originY << "), today " << c.today;
}

class CalendarPaint : public ::testing::TestWithParam<PaintCase> {};

TEST_P(CalendarPaint, DrawsEveryPartInItsPlaceAndColour) {
    const PaintCase c = GetParam();
    CalendarPanel p;
    testPanel(p, c.originX, c.originY);
    if (c.today) {
        p.todayYear = c.year;
        p.todayMonth = c.month;
        p.todayDay = c.today;
    }
    ASSERT_TRUE(p.setViewMonth(c.year, c.month));
    Canvas canvas;
    ASSERT_TRUE(canvas.valid());
    const HWND window = reinterpret_cast<HWND>(0x1234);  // only recorded, never used here
    ASSERT_TRUE(p.paint(window, canvas.get()));
    EXPECT_EQ(p.hwnd, window);

    for (int i = 0; i < 7; ++i) {
        const int left = columnLeft(p.originX, i);
        EXPECT_GT(canvas.count({left, p.originY + 18, left + 36, p.originY + 36}, kColors[0]), 0) << "weekday " << i;
    }
    for (unsigned d = 1; d <= p.daysInMonth; ++d) {
        const Cell cell = cellOfDay(p.firstWeekday, d);
        EXPECT_GT(canvas.count(numberArea(p, cell), kColors[1]), 0) << "number of day " << d;
        EXPECT_EQ(canvas.count(numberArea(p, cell), kColors[2]), 0) << "number of day " << d;
        EXPECT_GT(canvas.count(labelArea(p, cell), kColors[2]), 0) << "label of day " << d;
        EXPECT_EQ(canvas.count(labelArea(p, cell), kColors[1]), 0) << "label of day " << d;
    }
    // Cells outside the month stay empty (row 5 is left out: the today line crosses it).
    for (int k = 0; k < 35; ++k) {
        const unsigned day = static_cast<unsigned>(k + 1 - p.firstWeekday);
        if (k >= p.firstWeekday && day <= p.daysInMonth) continue;
        const Cell cell{k % 7, k / 7};
        // Today's box may reach two pixels into the cell on its left.
        const int text = canvas.ink(numberArea(p, cell)) + canvas.ink(labelArea(p, cell)) -
                         canvas.count(numberArea(p, cell), kColors[3]) - canvas.count(labelArea(p, cell), kColors[3]);
        EXPECT_EQ(text, 0) << "empty cell " << k;
    }

    // Glyph cores carry the colour itself, not only blended edges.
    const Area grid{p.originX, rowTop(p.originY, 0), p.originX + 252, rowTop(p.originY, 6)};
    EXPECT_GT(canvas.exact({p.originX, p.originY + 18, p.originX + 252, p.originY + 36}, kColors[0]), 0);
    EXPECT_GT(canvas.exact(grid, kColors[1]), 0);
    EXPECT_GT(canvas.exact(grid, kColors[2]), 0);
    EXPECT_GT(canvas.exact(todayLineArea(p), kColors[4]), 0);
    const int caption = canvas.count(captionArea(p), kColors[3]);
    const int allOfColor3 = canvas.count({0, 0, kWidth, kHeight}, kColors[3]);
    if (c.today) {
        EXPECT_EQ(caption, 0) << "no caption in today's month";
        const calendar_grid::Box box =
            calendar_grid::todayBox(p.originX, p.originY, cellOfDay(p.firstWeekday, c.today));
        const int midX = (box.left + box.right) / 2, midY = (box.top + box.bottom) / 2;
        // The 2-pixel pen straddles each edge; look one pixel either side of it.
        EXPECT_GT(canvas.count({midX, box.top - 1, midX + 1, box.top + 2}, kColors[3]), 0) << "top edge";
        EXPECT_GT(canvas.count({midX, box.bottom - 1, midX + 1, box.bottom + 2}, kColors[3]), 0) << "bottom edge";
        EXPECT_GT(canvas.count({box.left - 1, midY, box.left + 2, midY + 1}, kColors[3]), 0) << "left edge";
        EXPECT_GT(canvas.count({box.right - 1, midY, box.right + 2, midY + 1}, kColors[3]), 0) << "right edge";
        // Nothing of the box's colour beyond its outline.
        EXPECT_EQ(canvas.count({box.left + 2, box.top + 2, box.right - 1, box.bottom - 1}, kColors[3]), 0);
        EXPECT_EQ(canvas.count({box.left - 2, box.top - 2, box.right + 3, box.bottom + 3}, kColors[3]), allOfColor3);
    } else {
        EXPECT_GT(caption, 0) << "caption of another month";
        EXPECT_EQ(caption, allOfColor3) << "no box outside today's month";
    }
    EXPECT_EQ(canvas.inkOutside(calendarArea(p)), 0) << "everything stays in the calendar's own rectangle";
}

INSTANTIATE_TEST_SUITE_P(Months, CalendarPaint,
                         ::testing::Values(PaintCase{2024, 2, 30, 0, 29},    // today's month, default origin
                                           PaintCase{2024, 2, 12, 60, 1},    // today's month, moved origin
                                           PaintCase{2025, 3, 30, 0, 31},    // today in the sixth row
                                           PaintCase{2024, 3, 30, 0, 0},     // another month
                                           PaintCase{2025, 3, 30, 0, 0},     // 1st a Saturday: six rows
                                           PaintCase{2015, 2, 40, 100, 0},   // Sunday the 1st, 28 days: four rows
                                           PaintCase{1900, 1, 30, 0, 0},     // first month of the range
                                           PaintCase{2100, 12, 30, 0, 0}));  // last month of the range

TEST(CalendarPaintBeforeFirstMonth, DrawsNothingAndRecordsNoWindow) {
    CalendarPanel p;
    Canvas canvas;
    ASSERT_TRUE(canvas.valid());
    EXPECT_FALSE(p.paint(reinterpret_cast<HWND>(0x1234), canvas.get()));
    EXPECT_EQ(canvas.ink({0, 0, kWidth, kHeight}), 0);
    EXPECT_EQ(p.hwnd, nullptr);
    EXPECT_FALSE(p.moveTo(50, 50)) << "no window recorded yet";
    EXPECT_EQ(p.originX, 30);
    EXPECT_EQ(p.originY, 0);
}

// A one-digit day keeps a zero second byte, which draws nothing either way; a visible
// byte there shows whether the second byte is drawn at all.
TEST(CalendarPaint, DaysOneToNineDrawOneByteAndLaterDaysTwo) {
    CalendarPanel p;
    testPanel(p, 30, 0);
    ASSERT_TRUE(p.setViewMonth(2024, 3));
    for (int i = 0; i < 9; ++i) p.dayNumberText[i][1] = '8';
    Canvas canvas;
    ASSERT_TRUE(canvas.valid());
    ASSERT_TRUE(p.paint(nullptr, canvas.get()));
    SIZE digit{};
    ASSERT_TRUE(GetTextExtentPoint32A(canvas.get(), "8", 1, &digit));
    for (unsigned d = 1; d <= p.daysInMonth; ++d) {
        Area second = numberArea(p, cellOfDay(p.firstWeekday, d));
        second.left += 9 + digit.cx;
        if (d < 10) {
            EXPECT_EQ(canvas.ink(second), 0) << "day " << d;
        } else {
            EXPECT_GT(canvas.ink(second), 0) << "day " << d;
        }
    }
}

TEST(CalendarPaint, ColourIndexWrapsAtFive) {
    CalendarPanel p;
    p.setColor(7, 0x123456);  // no window recorded: only the colour changes
    EXPECT_EQ(p.colors[2], COLORREF{0x123456});
    EXPECT_EQ(p.colors[0], COLORREF{0xC95E3F});
}

TEST(CalendarGrid, PlacesDaysAndTodaysBox) {
    struct Row {
        unsigned firstWeekday, day;
        int column, row;
    };
    const Row rows[] = {
        {0, 1, 0, 0},  {6, 1, 6, 0},  {6, 2, 0, 1},
        {6, 30, 0, 5}, {6, 31, 1, 5},  // a Saturday the 1st with 30 or 31 days: six rows
        {5, 31, 0, 5},                 // a Friday the 1st with 31 days: six rows
        {5, 30, 6, 4}, {0, 28, 6, 3},  // five rows, and a four-row February
    };
    for (const Row& r : rows) {
        const Cell c = cellOfDay(r.firstWeekday, r.day);
        EXPECT_EQ(c.column, r.column) << r.firstWeekday << "/" << r.day;
        EXPECT_EQ(c.row, r.row) << r.firstWeekday << "/" << r.day;
    }
    EXPECT_EQ(rowTop(7, 5) + 14, 7 + 230) << "the lowest lunar labels";
    const calendar_grid::Box box = calendar_grid::todayBox(30, 0, Cell{4, 4});
    EXPECT_EQ(box.left, 30 + 144 - 1);
    EXPECT_EQ(box.top, 36 + 144);
    EXPECT_EQ(box.right - box.left, 34);
    EXPECT_EQ(box.bottom - box.top, 36);
}

struct Step {
    const char* name;
    void (CalendarPanel::*go)();
};
const Step previousYear{"previous year", &CalendarPanel::previousYear};
const Step previousMonth{"previous month", &CalendarPanel::previousMonth};
const Step nextYear{"next year", &CalendarPanel::nextYear};
const Step nextMonth{"next month", &CalendarPanel::nextMonth};

TEST(CalendarNavigation, StepsAndStopsAtTheRangeEnds) {
    struct Row {
        uint16_t year, month;
        Step step;
        uint16_t wantYear, wantMonth;
    };
    const Row rows[] = {
        {1900, 1, previousMonth, 1900, 1}, {1900, 1, previousYear, 1900, 1},  {1900, 7, previousYear, 1900, 7},
        {1901, 3, previousYear, 1900, 3},  {2100, 12, nextMonth, 2100, 12},   {2100, 12, nextYear, 2100, 12},
        {2100, 1, nextYear, 2100, 1},      {2099, 12, nextMonth, 2100, 1},    {2024, 1, previousMonth, 2023, 12},
        {2024, 12, nextMonth, 2025, 1},    {2024, 5, previousMonth, 2024, 4}, {2024, 5, nextMonth, 2024, 6},
        {2024, 2, nextYear, 2025, 2},      {2024, 2, previousYear, 2023, 2},
    };
    for (const Row& r : rows) {
        CalendarPanel p;
        ASSERT_TRUE(p.setViewMonth(r.year, r.month));
        (p.*r.step.go)();
        EXPECT_EQ(p.viewYear, r.wantYear) << r.year << "-" << r.month << " " << r.step.name;
        EXPECT_EQ(p.viewMonth, r.wantMonth) << r.year << "-" << r.month << " " << r.step.name;
    }
}

TEST(CalendarNavigation, OnlyHomeBringsUpTheFirstMonth) {
    for (Step s : {previousYear, previousMonth, nextYear, nextMonth}) {
        CalendarPanel p;
        (p.*s.go)();
        EXPECT_FALSE(p.ready) << s.name;
        EXPECT_EQ(p.viewYear, 0) << s.name;
        EXPECT_EQ(p.viewMonth, 0) << s.name;
    }
    CalendarPanel p;
    SYSTEMTIME now;
    GetLocalTime(&now);
    p.showCurrentMonth();
    EXPECT_TRUE(p.ready);
    EXPECT_EQ(p.viewYear, now.wYear);
    EXPECT_EQ(p.viewMonth, now.wMonth);
}

TEST(CalendarNavigation, HomeFollowsTheClockNotTheStartDay) {
    CalendarPanel p;
    p.todayYear = 1999;  // the day the program started, long ago
    p.todayMonth = 3;
    ASSERT_TRUE(p.setViewMonth(1999, 3));
    SYSTEMTIME now;
    GetLocalTime(&now);
    p.showCurrentMonth();
    EXPECT_EQ(p.viewYear, now.wYear);
    EXPECT_EQ(p.viewMonth, now.wMonth);
}

}  // namespace
