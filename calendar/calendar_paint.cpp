// The calendar's drawing: the month grid, today's frame or the caption, and the today line.

#include "calendar/calendar_panel.h"

#include "calendar/calendar_grid.h"
#include "calendar/calendar_text.h"
#include "common/gbk_wide.h"
#include "common/unique.h"

#include <cstdio>
#include <cstring>
#include <iterator>

bool CalendarPanel::paint(HWND window, HDC dc) {
    if (!ready) return false;
    hwnd = window;
    SetBkMode(dc, TRANSPARENT);

    using namespace calendar_grid;
    const auto at = [this](int length) { return scaleToDpi(length, dpi); };
    SetTextColor(dc, colors[0]);
    for (int i = 0; i < kColumns; ++i) {
        gbk::textOut(dc, at(columnLeft(originX, i) + 4), at(originY + 18), calendar_text::kDigit[i], 2);
    }

    // The engine never gives more than 31 days; the bound only keeps a damaged count
    // from reading past the text arrays.
    unsigned days = daysInMonth;
    if (days > std::size(dayNumberText)) days = std::size(dayNumberText);

    SetTextColor(dc, colors[1]);
    for (unsigned d = 1; d <= days; ++d) {
        const Cell cell = cellOfDay(firstWeekday, d);
        gbk::textOut(dc, at(columnLeft(originX, cell.column) + 9), at(rowTop(originY, cell.row)), dayNumberText[d - 1],
                     d < 10 ? 1 : 2);
    }
    SetTextColor(dc, colors[2]);
    for (unsigned d = 1; d <= days; ++d) {
        const Cell cell = cellOfDay(firstWeekday, d);
        gbk::textOut(dc, at(columnLeft(originX, cell.column)), at(rowTop(originY, cell.row) + 14),
                     lunarLabelText[d - 1], 4);
    }

    paintTodayMarker(dc);

    SetTextColor(dc, colors[4]);
    gbk::textOutField(dc, at(originX + 90), at(originY + 226), todayText, sizeof todayText);
    return true;
}

bool CalendarPanel::paintTodayMarker(HDC dc) {
    if (todayYear == viewYear && todayMonth == viewMonth) {
        const calendar_grid::Box box = calendar_grid::scaled(
            calendar_grid::todayBox(originX, originY, calendar_grid::cellOfDay(firstWeekday, todayDay)), dpi);
        UniqueGdi pen(CreatePen(PS_SOLID, scaleToDpi(2, dpi), colors[3]));
        SelectGuard selected(dc, pen.get());
        MoveToEx(dc, box.left, box.top, nullptr);
        LineTo(dc, box.right, box.top);
        LineTo(dc, box.right, box.bottom);
        LineTo(dc, box.left, box.bottom);
        // One pixel (scaled) past the start, so the 2-pixel pen closes the top-left corner.
        LineTo(dc, box.left, box.top - scaleToDpi(1, dpi));
        return true;
    }

    char caption[32] = {};
    std::snprintf(caption, sizeof caption, calendar_text::kCaptionFormat, int{viewYear}, int{viewMonth});
    SetTextColor(dc, colors[3]);
    gbk::textOutField(dc, scaleToDpi(originX + 45, dpi), scaleToDpi(originY, dpi), caption, sizeof caption);
    return true;
}
