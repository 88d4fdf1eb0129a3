// The calendar's screen-facing state without drawing: navigation, colours, the origin and
// repaint requests. The only platform calls are the clock and InvalidateRect, so programs
// that never paint (the tests, pellumo-cal) link the engine without GDI.

#include "calendar/calendar_panel.h"

#include "calendar/calendar_grid.h"

#include <iterator>

// Before a month has been shown viewYear and viewMonth are 0: the requests below then
// name years outside 1900..2100 (or none at all), which setViewMonth refuses, so only
// showCurrentMonth can bring up the first month.

void CalendarPanel::showCurrentMonth() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    setViewMonth(now.wYear, now.wMonth);
}

void CalendarPanel::nextYear() {
    if (viewYear < kLastYear) setViewMonth(static_cast<uint16_t>(viewYear + 1), viewMonth);
}

void CalendarPanel::previousYear() {
    if (viewYear > kFirstYear) setViewMonth(static_cast<uint16_t>(viewYear - 1), viewMonth);
}

// At January 1900 and December 2100 the request leaves the range and setViewMonth refuses it.
void CalendarPanel::previousMonth() {
    if (viewMonth > 1) {
        setViewMonth(viewYear, static_cast<uint16_t>(viewMonth - 1));
    } else {
        setViewMonth(static_cast<uint16_t>(viewYear - 1), 12);
    }
}

void CalendarPanel::nextMonth() {
    if (viewMonth < 12) {
        setViewMonth(viewYear, static_cast<uint16_t>(viewMonth + 1));
    } else {
        setViewMonth(static_cast<uint16_t>(viewYear + 1), 1);
    }
}

void CalendarPanel::setColor(unsigned index, COLORREF color) {
    colors[index % std::size(colors)] = color;
    invalidate();
}

void CalendarPanel::invalidate() {
    if (!hwnd) return;
    const calendar_grid::Box box = calendar_grid::scaled(calendar_grid::panelArea(originX, originY), dpi);
    RECT area{box.left, box.top, box.right, box.bottom};
    InvalidateRect(hwnd, &area, TRUE);
}

bool CalendarPanel::moveTo(int x, int y) {
    if (!hwnd) return false;
    invalidate();
    originX = x;
    originY = y;
    invalidate();
    return true;
}
