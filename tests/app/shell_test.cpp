// The main window driven in-process; needs an X display under Wine. The tests share the
// process-wide shell state and run in the order written.

#include "app/color_dialog.h"
#include "app/paint_route.h"
#include "app/shell.h"
#include "common/unique.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

std::tuple<long, long, long, long> edges(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

// The update rectangle now pending, then none.
RECT takeUpdate() {
    RECT r{};
    GetUpdateRect(mainWindow, &r, FALSE);
    ValidateRect(mainWindow, nullptr);
    return r;
}

TEST(MainWindow, IsATranslucentToolWindowWithoutChrome) {
    std::strncpy(windowClassName, "szWindowClass", sizeof windowClassName - 1);
    registerWindowClass(GetModuleHandleA(nullptr));
    ASSERT_TRUE(createMainWindow(GetModuleHandleA(nullptr), SW_SHOWNA));
    const LONG both = WS_EX_LAYERED | WS_EX_TOOLWINDOW;
    EXPECT_EQ(GetWindowLongA(mainWindow, GWL_EXSTYLE) & both, both);
    COLORREF key = 1;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(mainWindow, &key, &alpha, &flags));
    EXPECT_EQ(std::make_tuple(key, alpha, flags), std::make_tuple(0ul, BYTE{200}, DWORD{LWA_COLORKEY | LWA_ALPHA}));
    // The region counts from the window's corner but takes its size from the client area.
    RECT client{}, region{};
    GetClientRect(mainWindow, &client);
    UniqueGdi rgn(CreateRectRgn(0, 0, 0, 0));
    ASSERT_EQ(GetWindowRgn(mainWindow, static_cast<HRGN>(rgn.get())), SIMPLEREGION);
    GetRgnBox(static_cast<HRGN>(rgn.get()), &region);
    EXPECT_EQ(edges(region), std::make_tuple(5L, 20L, client.right, client.bottom - 5));
    EXPECT_EQ(trayIconData.hWnd, mainWindow);
    EXPECT_NE(trayIconData.hIcon, nullptr) << "icon 101 of the module";
    EXPECT_EQ(colorDialogData.hwndOwner, mainWindow);
}

TEST(MainWindow, FirstTickShowsTheMonthLaterTicksRetryTheWeatherUntilItIsShown) {
    ASSERT_TRUE(setWeatherHost(weatherHosts.search, "127.0.0.1:1"));  // refused at once: every query fails
    ASSERT_FALSE(calendarPanel.ready);
    takeUpdate();
    SendMessageA(mainWindow, WM_TIMER, kStartupTimer, 0);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::make_pair(calendarPanel.viewYear, calendarPanel.viewMonth), std::make_pair(now.wYear, now.wMonth));
    RECT whole{};
    GetUpdateRect(mainWindow, &whole, FALSE);
    EXPECT_EQ(routePaint(whole.top, whole.bottom), PaintRoute::both) << "the whole window is repainted";
    UpdateWindow(mainWindow);  // the paint that records the window in the calendar
    EXPECT_EQ(calendarPanel.hwnd, mainWindow);
    EXPECT_FALSE(weatherPanel.ready) << "no forecast came";

    std::strcpy(weatherPanel.city, "\xB1\xB1\xBE\xA9");  // 北京
    SendMessageA(mainWindow, WM_TIMER, kStartupTimer, 0);
    EXPECT_STREQ(weatherPanel.city, "\xB1\xB1\xBE\xA9") << "the retry queries the stored city, not the empty one";
    GetUpdateRect(mainWindow, &whole, FALSE);
    EXPECT_EQ(routePaint(whole.top, whole.bottom), PaintRoute::both);

    std::strcpy(weatherPanel.days[0].description, "x");  // as a forecast would leave it
    UpdateWindow(mainWindow);
    EXPECT_TRUE(weatherPanel.ready && weatherPanel.hwnd == mainWindow) << "the whole-window paint drew the weather";
    SendMessageA(mainWindow, WM_TIMER, kStartupTimer, 0);
    EXPECT_FALSE(KillTimer(mainWindow, kStartupTimer)) << "both panels ready: the timer is gone";
    EXPECT_EQ(edges(takeUpdate()), edges(RECT{})) << "and nothing was invalidated";

    weatherPanel.setColor(0x00FF00);
    const RECT weather = takeUpdate();
    EXPECT_EQ(std::make_pair(weather.left, weather.top), std::make_pair(4L, 260L));
    EXPECT_EQ(routePaint(weather.top, weather.bottom), PaintRoute::weather) << "the weather repaints only itself";

    calendarPanel.setColor(1, 0x00FF00);
    const RECT own = takeUpdate();
    EXPECT_EQ(edges(own), std::make_tuple(28L, 0L, 282L, 253L));
    EXPECT_EQ(routePaint(own.top, own.bottom), PaintRoute::calendar) << "the calendar repaints only itself";
    ASSERT_TRUE(calendarPanel.moveTo(40, 10));
    EXPECT_EQ(edges(takeUpdate()), std::make_tuple(28L, 0L, 292L, 263L)) << "the old and the new rectangle";
}

}  // namespace
