// The main window driven in-process: its creation, the records it fills, the start-up
// timer, key routing and the end of the message loop. Needs an X display under Wine.
// The tests share the process-wide shell state and run in the order written.

#include "app/color_dialog.h"
#include "app/paint_route.h"
#include "app/shell.h"
#include "common/unique.h"

#include <gtest/gtest.h>

#include <cstring>

// In the global namespace, where argument-dependent lookup finds them for RECT.
static bool operator==(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

static std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}

namespace {

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::strncpy(windowClassName, "szWindowClass", sizeof windowClassName - 1);
        registerWindowClass(GetModuleHandleA(nullptr));
        ASSERT_TRUE(createMainWindow(GetModuleHandleA(nullptr), SW_SHOWNA));
    }
    static void TearDownTestSuite() {
        if (IsWindow(mainWindow)) DestroyWindow(mainWindow);
    }

    // The update rectangle now pending, then none.
    static RECT takeUpdate() {
        RECT r{};
        GetUpdateRect(mainWindow, &r, FALSE);
        ValidateRect(mainWindow, nullptr);
        return r;
    }
};

TEST_F(MainWindow, IsALayeredToolWindowAtTheTopRight) {
    ASSERT_NE(mainWindow, nullptr);
    char className[32] = {};
    GetClassNameA(mainWindow, className, sizeof className);
    EXPECT_STREQ(className, "szWindowClass");

    const LONG exStyle = GetWindowLongA(mainWindow, GWL_EXSTYLE);
    EXPECT_EQ(exStyle & (WS_EX_LAYERED | WS_EX_TOOLWINDOW), WS_EX_LAYERED | WS_EX_TOOLWINDOW);
    EXPECT_EQ(GetWindowLongA(mainWindow, GWL_STYLE) & WS_OVERLAPPEDWINDOW, LONG{WS_OVERLAPPEDWINDOW});
    EXPECT_EQ(GetClassLongA(mainWindow, GCL_HBRBACKGROUND), reinterpret_cast<DWORD>(GetStockObject(BLACK_BRUSH)));

    RECT window{};
    GetWindowRect(mainWindow, &window);
    const int screen = GetSystemMetrics(SM_CXSCREEN);
    EXPECT_EQ(window, (RECT{screen - 320, -15, screen, 435}));

    COLORREF key = 1;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(mainWindow, &key, &alpha, &flags));
    EXPECT_EQ(key, COLORREF{0});
    EXPECT_EQ(alpha, 200);
    EXPECT_EQ(flags, DWORD{LWA_COLORKEY | LWA_ALPHA});

    // The region counts from the window's corner but takes its size from the client area.
    RECT client{};
    GetClientRect(mainWindow, &client);
    UniqueGdi region(CreateRectRgn(0, 0, 0, 0));
    ASSERT_EQ(GetWindowRgn(mainWindow, static_cast<HRGN>(region.get())), SIMPLEREGION);
    RECT box{};
    GetRgnBox(static_cast<HRGN>(region.get()), &box);
    EXPECT_EQ(box, (RECT{5, 20, client.right, client.bottom - 5}));
}

TEST_F(MainWindow, FillsTheTrayAndColourDialogRecords) {
    EXPECT_EQ(trayIconData.cbSize, DWORD{88});
    EXPECT_EQ(trayIconData.hWnd, mainWindow);
    EXPECT_EQ(trayIconData.uID, UINT{10000});
    EXPECT_EQ(trayIconData.uFlags, UINT{7});
    EXPECT_EQ(trayIconData.uCallbackMessage, UINT{1033});
    EXPECT_NE(trayIconData.hIcon, nullptr) << "icon 101 of the module";
    EXPECT_STREQ(trayIconData.szTip, "Pellumo");

    EXPECT_EQ(colorDialogData.lStructSize, DWORD{36});
    EXPECT_EQ(colorDialogData.hwndOwner, mainWindow);
    EXPECT_EQ(colorDialogData.hInstance, nullptr);
    EXPECT_EQ(colorDialogData.rgbResult, COLORREF{0});
    EXPECT_EQ(colorDialogData.lpCustColors, customColors);
    EXPECT_EQ(colorDialogData.Flags, DWORD{0x103});
    for (COLORREF c : customColors) EXPECT_EQ(c, COLORREF{0xFFFFFF});
    EXPECT_EQ(currentColor, COLORREF{0});
}

TEST_F(MainWindow, FirstTickShowsTheMonthLaterTicksStopTheTimer) {
    ASSERT_TRUE(firstTick);
    ASSERT_FALSE(calendarPanel.ready);
    takeUpdate();

    EXPECT_EQ(SendMessageA(mainWindow, WM_TIMER, kStartupTimer, 0), 0);
    EXPECT_FALSE(firstTick);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_TRUE(calendarPanel.ready);
    EXPECT_EQ(calendarPanel.viewYear, now.wYear);
    EXPECT_EQ(calendarPanel.viewMonth, now.wMonth);
    // The whole window is to be repainted, and its visible part is tall enough to be
    // routed to both panels.
    RECT whole{};
    GetUpdateRect(mainWindow, &whole, FALSE);
    EXPECT_EQ(routePaint(whole.top, whole.bottom), PaintRoute::both) << whole;

    UpdateWindow(mainWindow);  // the paint that records the window in the calendar
    EXPECT_EQ(calendarPanel.hwnd, mainWindow);

    EXPECT_EQ(SendMessageA(mainWindow, WM_TIMER, kStartupTimer, 0), 0);
    EXPECT_FALSE(KillTimer(mainWindow, kStartupTimer)) << "both panels ready: the timer is gone";
    EXPECT_EQ(takeUpdate(), (RECT{})) << "and nothing was invalidated";
}

TEST_F(MainWindow, CalendarInvalidatesOnlyItsOwnRectangle) {
    ASSERT_EQ(calendarPanel.hwnd, mainWindow);
    takeUpdate();
    calendarPanel.setColor(1, 0x00FF00);
    const RECT own = takeUpdate();
    EXPECT_EQ(own, (RECT{28, 0, 282, 253}));
    EXPECT_EQ(routePaint(own.top, own.bottom), PaintRoute::calendar);

    ASSERT_TRUE(calendarPanel.moveTo(40, 10));
    EXPECT_EQ(takeUpdate(), (RECT{28, 0, 292, 263})) << "the old and the new rectangle";
    calendarPanel.moveTo(30, 0);
    takeUpdate();
}

TEST_F(MainWindow, KeysMoveTheMonthAndEveryKeyIsTaken) {
    struct Row {
        WPARAM key;
        uint16_t wantYear, wantMonth;
    };
    const Row rows[] = {
        {VK_DOWN, 2024, 7}, {VK_UP, 2024, 5},    {VK_RIGHT, 2025, 6}, {VK_LEFT, 2023, 6},
        {VK_END, 2024, 6},  {VK_PRIOR, 2024, 6}, {'A', 2024, 6},      {VK_F5, 2024, 6},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(calendarPanel.setViewMonth(2024, 6));
        EXPECT_EQ(SendMessageA(mainWindow, WM_KEYDOWN, r.key, 1), 0) << r.key;
        EXPECT_EQ(calendarPanel.viewYear, r.wantYear) << r.key;
        EXPECT_EQ(calendarPanel.viewMonth, r.wantMonth) << r.key;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    SendMessageA(mainWindow, WM_KEYDOWN, VK_HOME, 1);
    EXPECT_EQ(calendarPanel.viewYear, now.wYear);
    EXPECT_EQ(calendarPanel.viewMonth, now.wMonth);
}

TEST_F(MainWindow, DestroyEndsTheLoopWithExitCodeZero) {
    MSG stale;
    while (PeekMessageA(&stale, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    ASSERT_TRUE(DestroyWindow(mainWindow));
    MSG quit{};
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, WPARAM{0});
}

}  // namespace
