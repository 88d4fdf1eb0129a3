// The real main window driven by messages, in a temporary current directory: the settings
// load and save, the menu, the commands and the day check. The colour dialog,
// the tray calls and the clock go through seams the test replaces; the forecast host is a
// closed loopback port, so every refresh fails at once, or one that records the queries.
// The tests share the window and run in the order written.

#include "app/color_dialog.h"
#include "app/commands.h"
#include "app/day_tip.h"
#include "app/shell.h"
#include "app/app_settings.h"
#include "calendar/calendar_grid.h"
#include "settings/settings_store.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

#define BEIJING "\xB1\xB1\xBE\xA9"                               // 北京
#define CITY BEIJING "\xCA\xD0\xBA\xA3\xB5\xED\xC7\xF8\xD6\xD0"  // 北京市海淀区中
constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::vector<DWORD> trayCalls;
BOOL WINAPI recordTrayCall(DWORD action, PNOTIFYICONDATAA data) {
    trayCalls.push_back(data == &trayIconData ? action : 0xBAD);
    return TRUE;
}
BOOL dialogConfirms = FALSE;
COLORREF dialogChoice = 0;
BOOL WINAPI answerDialog(LPCHOOSECOLORA record) {
    if (dialogConfirms) record->rgbResult = dialogChoice;
    return dialogConfirms;
}
SYSTEMTIME clockDate{};
void WINAPI readClock(LPSYSTEMTIME out) { *out = clockDate; }

LRESULT command(UINT id, WORD code = 0) { return SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(id, code), 0); }
void tick(UINT_PTR timer) { SendMessageA(mainWindow, WM_TIMER, timer, 0); }
std::string settingsText() {
    char buffer[settings_line::kLineSize] = {};
    return settingsStore.readFile(buffer) ? buffer : "(none)";
}
// The Run value as its bytes (a terminator the registry adds dropped), or "(none)".
std::string runValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRun, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "(none)";
    char data[MAX_PATH + 8] = {};
    DWORD type = REG_NONE, size = sizeof data;
    const LONG status = RegQueryValueExA(key, "quorvan", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return "(none)";
    if (type != REG_SZ) return "(not REG_SZ)";
    return std::string(data, size > 0 && data[size - 1] == 0 ? size - 1 : size);
}

test_support::TempFolder* folder;
class Window : public ::testing::Environment {
public:
    void SetUp() override {
        folder = new test_support::TempFolder("pellumo-shell");
        SetCurrentDirectoryA(folder->path.string().c_str());
        setWeatherHost(weatherHosts.search, "127.0.0.1:1");
        setWeatherHost(weatherHosts.icon, "127.0.0.1:1");
        notifyIcon = recordTrayCall;
        colorDialog = answerDialog;
        GetLocalTime(&clockDate);
        readLocalDate = readClock;
        std::strncpy(windowClassName, "szWindowClass", sizeof windowClassName - 1);
        registerWindowClass(GetModuleHandleA(nullptr));
        createMainWindow(GetModuleHandleA(nullptr), SW_SHOWNA);
    }
    void TearDown() override {
        SetCurrentDirectoryA("..");
        delete folder;
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PellumoVolatile");
    }
};
const auto* const window = ::testing::AddGlobalTestEnvironment(new Window);

TEST(Loading, TheFirstTickAppliesTheStoredLineAndNothingIsSavedBefore) {
    ASSERT_TRUE(mainWindow && trayIconData.hIcon && colorDialogData.hwndOwner == mainWindow);
    const std::string stored = "/1/0/40,-10,1,2,3,4,5/6,270,7," BEIJING;
    ASSERT_TRUE(settingsStore.writeFile(stored.c_str()));
    SendMessageA(mainWindow, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(settingsText(), stored) << "the defaults never replace settings not yet loaded";

    tick(kStartupTimer);
    EXPECT_EQ(std::make_pair(calendarPanel.viewYear, calendarPanel.viewMonth),
              std::make_pair(clockDate.wYear, clockDate.wMonth));
    EXPECT_EQ(trayCalls, std::vector<DWORD>{}) << "no icon is wanted";
    ASSERT_TRUE(saveSettings());
    EXPECT_EQ(settingsText(), stored) << "each panel took its record";
}

// The menu read back: "id text" per item, "-" for a separator, "*" after a check mark and
// "!" after an item that cannot be chosen.
std::string menuRead() {
    std::string all;
    for (int i = 0; i < GetMenuItemCount(popupMenu.get()); ++i) {
        char text[32] = {};
        GetMenuStringA(popupMenu.get(), i, text, sizeof text, MF_BYPOSITION);
        const UINT state = GetMenuState(popupMenu.get(), i, MF_BYPOSITION);
        if (state & MF_SEPARATOR) {
            all += "-|";
            continue;
        }
        all += std::to_string(GetMenuItemID(popupMenu.get(), i)) + " " + text + (state & MF_CHECKED ? "*" : "") +
               (state & (MF_GRAYED | MF_DISABLED) ? "!" : "") + "|";
    }
    return all;
}

TEST(Menu, HoldsTheFourteenEntriesWithTheFlagsAsCheckMarks) {
    ASSERT_TRUE(buildPopupMenu());
    // 日历标题色, 日历公历色, 日历农历色, 日历当前色, 日历今天色; 天气文本色, 预报城市; 开机启动 (checked),
    // "显示图标 "; " 关 闭 ", " 关 于 "
    EXPECT_EQ(menuRead(),
              "2000 \xC8\xD5\xC0\xFA\xB1\xEA\xCC\xE2\xC9\xAB|2001 \xC8\xD5\xC0\xFA\xB9\xAB\xC0\xFA\xC9\xAB|"
              "2002 \xC8\xD5\xC0\xFA\xC5\xA9\xC0\xFA\xC9\xAB|2003 \xC8\xD5\xC0\xFA\xB5\xB1\xC7\xB0\xC9\xAB|"
              "2004 \xC8\xD5\xC0\xFA\xBD\xF1\xCC\xEC\xC9\xAB|-|2005 \xCC\xEC\xC6\xF8\xCE\xC4\xB1\xBE\xC9\xAB|"
              "2007 \xD4\xA4\xB1\xA8\xB3\xC7\xCA\xD0|-|2006 \xBF\xAA\xBB\xFA\xC6\xF4\xB6\xAF*|"
              "2010 \xCF\xD4\xCA\xBE\xCD\xBC\xB1\xEA |-|16  \xB9\xD8 \xB1\xD5 |2009  \xB9\xD8 \xD3\xDA |");
}

// What the open menu showed, read from a timer inside the menu's loop, which it then ends.
RECT menuShown;
HWND menuForeground;
void CALLBACK closeMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (HWND menu = FindWindowA("#32768", nullptr); menu && IsWindowVisible(menu)) GetWindowRect(menu, &menuShown);
    menuForeground = GetForegroundWindow();
    EndMenu();
}

// From the tray icon, while another window has the foreground (the window's own right click
// is the end-to-end test's): the menu opens at the cursor with the window in the foreground,
// and a message follows once it closes.
TEST(Menu, OpensAtTheCursorFromTheTray) {
    const HWND other = CreateWindowExA(0, "static", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
    SetForegroundWindow(other);
    ASSERT_EQ(GetForegroundWindow(), other);
    SetCursorPos(500, 300);
    SetTimer(nullptr, 0, 300, closeMenu);
    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
    EXPECT_EQ(std::make_tuple(menuShown.left, menuShown.top, menuForeground), std::make_tuple(500L, 300L, mainWindow));
    MSG msg;
    bool posted = false;
    while (PeekMessageA(&msg, mainWindow, 0, 0, PM_REMOVE)) posted |= msg.message == WM_NULL;
    EXPECT_TRUE(posted);
    DestroyWindow(other);
}

TEST(Commands, AConfirmedColourShowsACancelledOneChangesNothing) {
    dialogConfirms = TRUE;
    dialogChoice = 0x123456;
    command(2001, BN_CLICKED);  // the notification code is not looked at
    dialogChoice = 0x00AA00;
    command(2005);
    dialogConfirms = FALSE;
    for (UINT id = 2000; id <= 2005; ++id) command(id);
    EXPECT_EQ(std::make_tuple(calendarPanel.colors[0], calendarPanel.colors[1], calendarPanel.colors[4],
                              weatherPanel.textColor),
              std::make_tuple(1ul, 0x123456ul, 5ul, 0x00AA00ul));
}

TEST(Commands, TheTrayIconComesAndGoesAndNeverStrandsTheWindow) {
    trayCalls.clear();
    command(2010);
    SendMessageA(mainWindow, taskbarCreatedMessage, 0, 0);  // the taskbar restarted
    EXPECT_EQ(trayCalls, (std::vector<DWORD>{NIM_ADD, NIM_ADD}));
    buildPopupMenu();
    EXPECT_EQ(GetMenuState(popupMenu.get(), 2010, MF_BYCOMMAND) & MF_CHECKED, UINT{MF_CHECKED});

    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(mainWindow));
    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId + 1, WM_LBUTTONDBLCLK);
    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDOWN);
    EXPECT_FALSE(IsWindowVisible(mainWindow)) << "another icon's or another click's notification";

    command(2010);  // the icon goes while the window is hidden: the window comes back
    EXPECT_TRUE(IsWindowVisible(mainWindow));
    SendMessageA(mainWindow, taskbarCreatedMessage, 0, 0);
    EXPECT_EQ(trayCalls, (std::vector<DWORD>{NIM_ADD, NIM_ADD, NIM_DELETE})) << "not wanted: not added again";
}

TEST(Commands, TheAutostartFlagFollowsTheRunValue) {
    ASSERT_EQ(autostartEnabled, 1);  // from the settings line, with no value behind it
    command(2006);
    EXPECT_EQ(autostartEnabled, 0) << "off, with nothing to delete";

    HKEY volatileKey = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\PellumoVolatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                    nullptr, &volatileKey, nullptr);
    RegCloseKey(volatileKey);
    settings_store::runKeyPath = "Software\\PellumoVolatile\\Run";  // a Run key that cannot be made
    command(2006);
    EXPECT_EQ(autostartEnabled, 0) << "the failure leaves the flag";
    settings_store::runKeyPath = kRun;

    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    command(2006);
    EXPECT_EQ(std::make_pair(autostartEnabled, runValue()), std::make_pair(1, std::string(program)));
    command(2006);
    EXPECT_EQ(std::make_pair(autostartEnabled, runValue()), std::make_pair(0, std::string("(none)")));
}

TEST(Commands, TheCityEntryKeepsWholeCharacters) {
    command(2007);
    const HWND edit = cityEdit, button = cityButton;
    ASSERT_TRUE(edit && button);
    command(2007);
    EXPECT_EQ(std::make_pair(cityEdit, cityButton), std::make_pair(edit, button)) << "one entry at a time";
    EXPECT_EQ(GetDlgCtrlID(button), 2008);

    // Nine characters, 18 bytes: the 15-byte cut would keep half of the eighth.
    SetWindowTextA(edit, CITY "\xB9\xD8\xB4\xE5");  // 北京市海淀区中关村
    command(2008, BN_CLICKED);
    EXPECT_FALSE(IsWindow(edit) || IsWindow(button) || cityEdit || cityButton);
    EXPECT_STREQ(weatherPanel.city, CITY);
}

// Hovering: the tip holds the almanac of the day under the pointer over that day's cell; one
// pixel higher lies an empty cell before the 1st, which has no tip.
TEST(DayTip, HoldsTheAlmanacOfTheDayUnderThePointer) {
    ASSERT_TRUE(calendarPanel.setViewMonth(2026, 12));
    using namespace calendar_grid;
    const Box cell = cellArea(calendarPanel.originX, calendarPanel.originY, cellOfDay(calendarPanel.firstWeekday, 7));
    const auto hover = [](int x, int y) {
        SendMessageW(mainWindow, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        wchar_t text[256] = {};
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = mainWindow;
        tool.uId = kDayTipTool;
        tool.lpszText = text;
        SendMessageW(dayTipWindow(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(dayTipWindow(), TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
        return std::make_tuple(std::wstring(text), tool.rect.left, tool.rect.top, tool.rect.right, tool.rect.bottom);
    };
    EXPECT_EQ(hover(cell.right - 1, cell.top),
              std::make_tuple(std::wstring(L"2026年12月7日 星期一\r\n农历丙午年 (马) 十月廿九\r\n大雪"), cell.left,
                              cell.top, cell.right, cell.bottom));
    EXPECT_EQ(std::get<0>(hover(cell.right - 1, cell.top - 1)), L"");
    calendarPanel.showCurrentMonth();
}

// The first line of each request that `act` sends to a search host on a loopback port,
// whose connection is then dropped so the query fails at once. Each wait is bounded.
std::vector<std::string> requestsDuring(void (*act)()) {
    test_support::LoopbackListener listener;
    setWeatherHost(weatherHosts.search, listener.host().c_str());
    std::vector<std::string> lines;
    std::atomic<bool> done{false};
    std::thread taker([&] {
        while (!done) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(listener.socket, &ready);
            timeval wait{0, 50000};
            if (select(0, &ready, nullptr, nullptr, &wait) != 1) continue;
            const SOCKET connection = accept(listener.socket, nullptr, nullptr);
            const DWORD timeout = 2000;
            setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
            std::string line;
            for (char c = 0; line.size() < 1000 && recv(connection, &c, 1, 0) == 1 && c != '\r';) line += c;
            closesocket(connection);
            lines.push_back(line);
        }
    });
    act();  // a refresh returns only once its connection is dropped
    done = true;
    taker.join();
    setWeatherHost(weatherHosts.search, "127.0.0.1:1");
    return lines;
}

// The taskbar moved to the top and to the right, and back: announced by a change of the
// work area setting or by a display change; another setting's change moves nothing.
TEST(Placement, TheWindowKeepsToTheWorkAreaOfItsMonitor) {
    RECT before{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &before, 0));
    const LONG width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const struct {
        RECT workArea;
        UINT message;
        WPARAM wParam;
        LONG wantRight, wantTop;
    } rows[] = {
        {{0, 40, width, height}, WM_SETTINGCHANGE, SPI_SETWORKAREA, width, 25},
        {{0, 0, width - 60, height}, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, width, 25},
        {{0, 0, width - 60, height}, WM_DISPLAYCHANGE, 32, width - 60, -15},
        {{0, 0, width, height}, WM_SETTINGCHANGE, SPI_SETWORKAREA, width, -15},
    };
    for (const auto& r : rows) {
        ASSERT_TRUE(SystemParametersInfoA(SPI_SETWORKAREA, 0, const_cast<RECT*>(&r.workArea), 0));
        SendMessageA(mainWindow, r.message, r.wParam, MAKELPARAM(width, height));
        RECT got{};
        GetWindowRect(mainWindow, &got);
        EXPECT_EQ(std::make_tuple(got.right, got.top, got.right - got.left, got.bottom - got.top),
                  std::make_tuple(r.wantRight, r.wantTop, 320L, 450L))
            << "message " << r.message << " " << r.wParam;
    }
    SystemParametersInfoA(SPI_SETWORKAREA, 0, &before, 0);
}

// Moved to a monitor at 144 DPI and back: the window takes the rectangle the system suggests,
// the panels the DPI and the region its scaled strips.
TEST(Placement, ADpiChangeTakesTheSuggestedRectangleAndScalesEverything) {
    RECT before{};
    GetWindowRect(mainWindow, &before);
    const struct {
        int dpi;
        RECT suggested;
        int regionLeft, regionTop, regionBottomStrip;
    } rows[] = {{144, {100, 50, 580, 725}, 8, 30, 8}, {96, before, 5, 20, 5}};
    for (const auto& r : rows) {
        SendMessageA(mainWindow, kDpiChangedMessage, MAKEWPARAM(r.dpi, r.dpi), reinterpret_cast<LPARAM>(&r.suggested));
        RECT got{}, client{}, region{};
        GetWindowRect(mainWindow, &got);
        GetClientRect(mainWindow, &client);
        GetWindowRgnBox(mainWindow, &region);
        EXPECT_TRUE(EqualRect(&got, &r.suggested)) << r.dpi;
        EXPECT_EQ(std::make_tuple(calendarPanel.dpi, weatherPanel.dpi), std::make_tuple(r.dpi, r.dpi));
        EXPECT_EQ(
            std::make_tuple(region.left, region.top, region.right, region.bottom),
            std::make_tuple(LONG{r.regionLeft}, LONG{r.regionTop}, client.right, client.bottom - r.regionBottomStrip));
    }
}

TEST(Today, MovesOnWhenTheDateChangesAndQueriesTheStoredCityAgain) {
    ASSERT_FALSE(weatherPanel.ready);
    const auto queried = [](const std::vector<std::string>& lines) {
        // 天气预报 and the city the entry left, twice.
        const std::string words = "%CC%EC%C6%F8%D4%A4%B1%A8+%B1%B1%BE%A9%CA%D0%BA%A3%B5%ED%C7%F8%D6%D0";
        return lines == std::vector<std::string>{"GET /s?bs=" + words + "&f=8&wd=" + words + " HTTP/1.1"};
    };
    EXPECT_TRUE(queried(requestsDuring([] { tick(kStartupTimer); }))) << "the retry queries the stored city";
    EXPECT_EQ(requestsDuring([] { tick(kDayTimer); }), std::vector<std::string>{}) << "the same day: nothing to do";

    // The first of next month: today's month was on show, so the new one is.
    const WORD month = clockDate.wMonth % 12 + 1;
    const WORD year = clockDate.wYear + (month == 1 ? 1 : 0);
    clockDate.wYear = year, clockDate.wMonth = month, clockDate.wDay = 1;
    EXPECT_TRUE(queried(requestsDuring([] { tick(kDayTimer); }))) << "the new today's forecast, for the same city";
    const CalendarPanel& c = calendarPanel;
    EXPECT_EQ(std::make_tuple(c.todayYear, c.todayMonth, c.todayDay, c.viewYear, c.viewMonth),
              std::make_tuple(year, month, WORD{1}, year, month));
    char line[32];
    std::snprintf(line, sizeof line, "\xBD\xF1\xCC\xEC: %04d\xC4\xEA %02d\xD4\xC2 01\xC8\xD5", year, month);
    EXPECT_STREQ(c.todayText, line);  // 今天: YYYY年 MM月 01日

    // A clock set forward by hand, with another month on show: that month stays.
    calendarPanel.nextMonth();
    clockDate.wDay = 2;
    EXPECT_TRUE(queried(requestsDuring([] { SendMessageA(mainWindow, WM_TIMECHANGE, 0, 0); })));
    EXPECT_EQ(std::make_pair(c.todayDay, c.viewMonth), std::make_pair(WORD{2}, WORD(month % 12 + 1)));
}

TEST(Ending, TheSessionsEndAndCloseSaveCloseEndsTheProgram) {
    const std::string before = settingsText();
    SendMessageA(mainWindow, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(settingsText(), before) << "the session goes on";
    SendMessageA(mainWindow, WM_ENDSESSION, TRUE, 0);
    const std::string line = "/0/0/40,-10,1,1193046,3,4,5/6,270,43520," CITY;
    EXPECT_EQ(settingsText(), line);

    // A line that wants the tray icon gets it, loaded here as a new run would load it.
    const std::string wanted = "/0/1" + line.substr(4);
    ASSERT_TRUE(settingsStore.writeFile(wanted.c_str()));
    trayCalls.clear();
    loadSettings();
    ASSERT_TRUE(DeleteFileA((folder->path.string() + settings_store::kFileName).c_str()));
    command(16);
    EXPECT_EQ(settingsText(), wanted);
    MSG msg{};  // the posted destruction, then the quit it posts
    for (int i = 0; i < 100 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_QUIT; ++i) {
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(std::make_pair(msg.message, msg.wParam), std::make_pair(UINT{WM_QUIT}, WPARAM{0}));
    EXPECT_EQ(trayCalls, (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    DestroyWindow(mainWindow);
}

}  // namespace
