// The day tip: one rectangle tool on the main window, moved to the cell of the day under the
// pointer and given that day's text whenever the pointer reaches another day.

#include "app/day_tip.h"

#include "calendar/almanac.h"
#include "calendar/calendar_grid.h"
#include "calendar/calendar_panel.h"
#include "common/gbk_wide.h"

#include <commctrl.h>
#include <windowsx.h>

#include <iterator>

namespace {

HWND tipWindow = nullptr;
unsigned describedDate = 0;  // YYYYMMDD of the day the tool holds, 0 for none

// Wide enough for the longest line, so that lines break only at their CR LF.
constexpr LPARAM kTipWidth = 400;

// The second layout: the one every common-controls version accepts.
TTTOOLINFOW toolOf(HWND window) {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window;
    tool.uId = kDayTipTool;
    return tool;
}

bool makeTip(HWND window) {
    if (tipWindow && IsWindow(tipWindow)) return true;
    const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    // Always shown, since the calendar's tool window is seldom the active one.
    tipWindow = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    if (!tipWindow) return false;
    describedDate = 0;
    TTTOOLINFOW tool = toolOf(window);
    tool.lpszText = const_cast<wchar_t*>(L"");  // an empty tool: no tip until a day is found
    SendMessageW(tipWindow, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tipWindow, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
    return true;
}

// Gives the tool the cell and text of `day`, or no area and no text for day 0. A tip still
// showing for the day before is taken down first.
void describeTool(const CalendarPanel& panel, HWND window, unsigned day) {
    TTTOOLINFOW tool = toolOf(window);
    wchar_t text[128] = L"";
    almanac::Day described;
    if (day != 0 && almanac::describeDay(panel, day, described)) {
        char lines[std::size(text)];
        const size_t length = almanac::describe(described, almanac::Layout::tipLines, lines, sizeof lines);
        gbk::toWide(lines, static_cast<int>(length), text, static_cast<int>(std::size(text)));
        const calendar_grid::Box cell = calendar_grid::scaled(
            calendar_grid::cellArea(panel.originX, panel.originY, calendar_grid::cellOfDay(panel.firstWeekday, day)),
            panel.dpi);
        tool.rect = RECT{cell.left, cell.top, cell.right, cell.bottom};
    }
    SendMessageW(tipWindow, TTM_POP, 0, 0);
    SendMessageW(tipWindow, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = text;
    SendMessageW(tipWindow, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

}  // namespace

LRESULT onDayTipMouse(const CalendarPanel& panel, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!makeTip(window)) return 0;
    // Back to the grid's 96-DPI lengths, so the pointer finds the cell that painting scaled.
    const int x = unscaleFromDpi(GET_X_LPARAM(lParam), panel.dpi);
    const int y = unscaleFromDpi(GET_Y_LPARAM(lParam), panel.dpi);
    const unsigned day =
        panel.ready ? calendar_grid::dayAt(panel.originX, panel.originY, panel.firstWeekday, panel.daysInMonth, x, y)
                    : 0;
    // The date, not the day alone: the same cell shows another day once the month changes.
    const unsigned date = day != 0 ? panel.viewYear * 10000u + panel.viewMonth * 100u + day : 0;
    if (date != describedDate) {
        describeTool(panel, window, day);
        describedDate = date;
    }
    MSG relayed{};
    relayed.hwnd = window;
    relayed.message = message;
    relayed.wParam = wParam;
    relayed.lParam = lParam;
    relayed.time = static_cast<DWORD>(GetMessageTime());
    const DWORD at = GetMessagePos();
    relayed.pt = POINT{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    SendMessageW(tipWindow, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    return 0;
}

HWND dayTipWindow() { return tipWindow; }
