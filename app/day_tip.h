#pragma once
// The almanac of the day under the pointer, in a standard tooltip control over the calendar
// grid: the Gregorian date and weekday, the lunar date with the year's names and animal,
// and the solar term and festival of that day. The text is shown through the wide API,
// converted from GBK with code page 936 named, whatever the system's code page.

#include <windows.h>

class CalendarPanel;

// For a mouse message of `window` at the client point in `lParam`: points the tip at the
// day of `panel`'s grid under the pointer (none off the grid) and passes the message on to
// the tip, which shows itself after the usual pause. Makes the tip the first time. Returns 0.
LRESULT onDayTipMouse(const CalendarPanel& panel, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The tooltip control, null before the first mouse message. It belongs to the window that
// made it and goes with it.
HWND dayTipWindow();
// The identifier of the tip's one tool, kept on the window that made it.
constexpr UINT_PTR kDayTipTool = 1;
