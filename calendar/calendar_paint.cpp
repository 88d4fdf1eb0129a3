// The calendar's window side: painting the month grid, navigation and invalidation.

#include "calendar/calendar_panel.h"

void CalendarPanel::invalidate() {
    if (!hwnd) return;
    RECT area{originX - 2, originY, originX + 252, originY + 252};
    InvalidateRect(hwnd, &area, TRUE);
}
