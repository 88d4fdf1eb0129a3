// The menu, the tray icon, the commands, the settings load and save and the day check,
// driven by messages to the real main window in a temporary current directory. The
// colour dialog, the tray calls and the clock go through seams that the test replaces;
// the forecast host is a closed loopback port, so every refresh fails at once, or one that
// records the queries. The tests share the window and run in the order written.

#include "app/color_dialog.h"
#include "app/commands.h"
#include "app/shell.h"
#include "settings/settings.h"
#include "settings/settings_store.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

#define BEIJING "\xB1\xB1\xBE\xA9"  // 北京
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

std::string folder;
std::string settingsText() {
    char buffer[settings_line::kLineSize] = {};
    return settingsStore.readFile(buffer) ? buffer : "(none)";
}
void removeSettings() {
    const std::string path = folder + settings_store::kFileName;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

LRESULT command(UINT id, WORD code = 0) { return SendMessageA(mainWindow, WM_COMMAND, MAKEWPARAM(id, code), 0); }

bool runValuePresent() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRun, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const bool present = RegQueryValueExA(key, "quorvan", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return present;
}

class Window : public ::testing::Environment {
public:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "pellumo-commands-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
        SetCurrentDirectoryA(folder.c_str());
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
        removeSettings();
        SetCurrentDirectoryA("..");
        RemoveDirectoryA(folder.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\PellumoVolatile");
    }
};
const auto* const window = ::testing::AddGlobalTestEnvironment(new Window);

TEST(Loading, TheFirstTickAppliesTheStoredLineAndNothingIsSavedBefore) {
    ASSERT_TRUE(mainWindow);
    const std::string stored = "/1/0/40,-10,1,2,3,4,5/6,270,7," BEIJING;
    ASSERT_TRUE(settingsStore.writeFile(stored.c_str()));
    SendMessageA(mainWindow, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(settingsText(), stored) << "the defaults never replace settings not yet loaded";

    SendMessageA(mainWindow, WM_TIMER, kStartupTimer, 0);
    EXPECT_EQ(std::make_pair(autostartEnabled, trayIconShown), std::make_pair(1, 0));
    EXPECT_EQ(trayCalls, std::vector<DWORD>{}) << "no icon is wanted";
    const CalendarPanel& c = calendarPanel;
    EXPECT_EQ(std::make_tuple(c.originX, c.originY, c.colors[0], c.colors[1], c.colors[2], c.colors[3], c.colors[4]),
              std::make_tuple(40, -10, 1ul, 2ul, 3ul, 4ul, 5ul));
    EXPECT_EQ(std::make_pair(c.viewYear, c.viewMonth), std::make_pair(clockDate.wYear, clockDate.wMonth));
    const WeatherPanel& w = weatherPanel;
    EXPECT_EQ(std::make_tuple(w.originX, w.originY, w.textColor, std::string(w.city)),
              std::make_tuple(6, 270, 7ul, std::string(BEIJING)));
}

TEST(Menu, HoldsTheFourteenEntriesWithTheFlagsAsCheckMarks) {
    ASSERT_TRUE(buildPopupMenu());
    const std::pair<UINT, const char*> entries[] = {
        {2000, "\xC8\xD5\xC0\xFA\xB1\xEA\xCC\xE2\xC9\xAB"},  // 日历标题色
        {2001, "\xC8\xD5\xC0\xFA\xB9\xAB\xC0\xFA\xC9\xAB"},  // 日历公历色
        {2002, "\xC8\xD5\xC0\xFA\xC5\xA9\xC0\xFA\xC9\xAB"},  // 日历农历色
        {2003, "\xC8\xD5\xC0\xFA\xB5\xB1\xC7\xB0\xC9\xAB"},  // 日历当前色
        {2004, "\xC8\xD5\xC0\xFA\xBD\xF1\xCC\xEC\xC9\xAB"},  // 日历今天色
        {0, nullptr},
        {2005, "\xCC\xEC\xC6\xF8\xCE\xC4\xB1\xBE\xC9\xAB"},  // 天气文本色
        {2007, "\xD4\xA4\xB1\xA8\xB3\xC7\xCA\xD0"},          // 预报城市
        {0, nullptr},
        {2006, "\xBF\xAA\xBB\xFA\xC6\xF4\xB6\xAF"},   // 开机启动
        {2010, "\xCF\xD4\xCA\xBE\xCD\xBC\xB1\xEA "},  // 显示图标
        {0, nullptr},
        {16, " \xB9\xD8 \xB1\xD5 "},    // 关 闭
        {2009, " \xB9\xD8 \xD3\xDA "},  // 关 于
    };
    ASSERT_EQ(GetMenuItemCount(popupMenu), 14);
    for (int i = 0; i < 14; ++i) {
        const auto [id, text] = entries[i];
        char read[32] = {};
        GetMenuStringA(popupMenu, i, read, sizeof read, MF_BYPOSITION);
        const UINT state = GetMenuState(popupMenu, i, MF_BYPOSITION);
        if (!text) {
            EXPECT_TRUE(state & MF_SEPARATOR) << "position " << i;
            continue;
        }
        EXPECT_EQ(GetMenuItemID(popupMenu, i), id);
        EXPECT_STREQ(read, text) << "position " << i;
        const bool checked = (id == 2006 && autostartEnabled) || (id == 2010 && trayIconShown);
        EXPECT_EQ((state & MF_CHECKED) != 0, checked) << "item " << id;
        EXPECT_FALSE(state & (MF_GRAYED | MF_DISABLED)) << "item " << id;
    }
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

// Right button up on the window and on the tray icon: the menu opens at the cursor with
// the window in the foreground, and a message is posted to it once the menu has closed.
TEST(Menu, OpensAtTheCursorFromTheWindowAndTheTray) {
    // Another window has the foreground, as when the user clicks the tray icon.
    const HWND other = CreateWindowExA(0, "static", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
    for (bool fromTray : {false, true}) {
        SetForegroundWindow(other);
        ASSERT_EQ(GetForegroundWindow(), other);
        SetCursorPos(500, 300);
        menuShown = RECT{};
        menuForeground = nullptr;
        SetTimer(nullptr, 0, 300, closeMenu);
        if (fromTray) {
            SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
        } else {
            SendMessageA(mainWindow, WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
        }
        EXPECT_EQ(std::make_pair(menuShown.left, menuShown.top), std::make_pair(500L, 300L)) << "tray: " << fromTray;
        EXPECT_EQ(menuForeground, mainWindow);
        MSG msg;
        bool posted = false;
        while (PeekMessageA(&msg, mainWindow, 0, 0, PM_REMOVE)) posted |= msg.message == WM_NULL;
        EXPECT_TRUE(posted);
    }
    DestroyWindow(other);
}

TEST(Commands, AConfirmedColourShowsACancelledOneChangesNothing) {
    dialogConfirms = TRUE;
    dialogChoice = 0x123456;
    command(2001, BN_CLICKED);  // the notification code is not looked at
    EXPECT_EQ(calendarPanel.colors[1], 0x123456ul);
    dialogChoice = 0x00AA00;
    command(2005);
    EXPECT_EQ(weatherPanel.textColor, 0x00AA00ul);

    dialogConfirms = FALSE;
    for (UINT id = 2000; id <= 2005; ++id) command(id);
    EXPECT_EQ(std::make_tuple(calendarPanel.colors[0], calendarPanel.colors[1], calendarPanel.colors[4],
                              weatherPanel.textColor),
              std::make_tuple(1ul, 0x123456ul, 5ul, 0x00AA00ul));
}

TEST(Commands, TheTrayIconComesAndGoesAndNeverStrandsTheWindow) {
    trayCalls.clear();
    command(2010);
    EXPECT_EQ(trayIconShown, 1);
    SendMessageA(mainWindow, taskbarCreatedMessage, 0, 0);  // the taskbar restarted
    EXPECT_EQ(trayCalls, (std::vector<DWORD>{NIM_ADD, NIM_ADD}));

    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(mainWindow));
    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId + 1, WM_LBUTTONDBLCLK);
    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId, WM_LBUTTONDOWN);
    EXPECT_FALSE(IsWindowVisible(mainWindow)) << "another icon's or another click's notification";

    command(2010);  // the icon goes while the window is hidden: the window comes back
    EXPECT_EQ(trayIconShown, 0);
    EXPECT_TRUE(IsWindowVisible(mainWindow));
    SendMessageA(mainWindow, taskbarCreatedMessage, 0, 0);
    EXPECT_EQ(trayCalls, (std::vector<DWORD>{NIM_ADD, NIM_ADD, NIM_DELETE})) << "not wanted: not added again";
}

TEST(Commands, TheAutostartFlagFollowsTheRunValueOnly) {
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

    command(2006);
    EXPECT_EQ(std::make_pair(autostartEnabled, runValuePresent()), std::make_pair(1, true));
    command(2006);
    EXPECT_EQ(std::make_pair(autostartEnabled, runValuePresent()), std::make_pair(0, false));
}

TEST(Commands, TheCityEntryKeepsWholeCharacters) {
    command(2007);
    const HWND edit = cityEdit, button = cityButton;
    ASSERT_TRUE(edit && button);
    command(2007);
    EXPECT_EQ(std::make_pair(cityEdit, cityButton), std::make_pair(edit, button)) << "one entry at a time";
    char text[16] = {};
    GetWindowTextA(button, text, sizeof text);
    EXPECT_STREQ(text, " \xC9\xE8\xD6\xC3 ");  // 设置
    EXPECT_EQ(GetDlgCtrlID(button), 2008);
    RECT box{};
    GetWindowRect(edit, &box);
    MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&box), 2);
    EXPECT_EQ(std::make_tuple(box.left, box.top, box.right, box.bottom), std::make_tuple(15L, 255L, 95L, 275L));

    // Nine characters, 18 bytes: the 15-byte cut would keep half of the eighth.
    SetWindowTextA(edit, BEIJING "\xCA\xD0\xBA\xA3\xB5\xED\xC7\xF8\xD6\xD0\xB9\xD8\xB4\xE5");  // 北京市海淀区中关村
    command(2008, BN_CLICKED);
    EXPECT_FALSE(IsWindow(edit) || IsWindow(button) || cityEdit || cityButton);
    EXPECT_STREQ(weatherPanel.city, BEIJING "\xCA\xD0\xBA\xA3\xB5\xED\xC7\xF8\xD6\xD0");  // 北京市海淀区中
}

// Takes connections on a loopback port and keeps the first line of each request, then
// drops the connection, so every query fails at once. Each wait is bounded.
class RequestRecorder {
public:
    RequestRecorder() {
        thread = std::thread([this] { run(); });
    }
    ~RequestRecorder() {
        stop = true;
        thread.join();
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> hold(lock);
        return std::exchange(lines, {});
    }
    std::string host() const { return listener.host(); }

private:
    void run() {
        while (!stop) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(listener.socket, &ready);
            timeval wait{0, 50000};
            if (select(0, &ready, nullptr, nullptr, &wait) != 1) continue;
            const SOCKET connection = accept(listener.socket, nullptr, nullptr);
            if (connection == INVALID_SOCKET) continue;
            const DWORD timeout = 2000;
            setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
            std::string line;
            char c = 0;
            while (line.size() < 1000 && recv(connection, &c, 1, 0) == 1 && c != '\r') line += c;
            closesocket(connection);
            std::lock_guard<std::mutex> hold(lock);
            lines.push_back(line);
        }
    }
    test_support::LoopbackListener listener;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<std::string> lines;
    std::thread thread;
};

TEST(Today, MovesOnWhenTheDateChangesAndQueriesTheStoredCityAgain) {
    ASSERT_FALSE(weatherPanel.ready);
    RequestRecorder service;
    ASSERT_TRUE(setWeatherHost(weatherHosts.search, service.host().c_str()));
    // 北京市海淀区中, as the city entry left it, in both halves of the query.
    const std::string query = "GET /s?bs=%CC%EC%C6%F8%D4%A4%B1%A8+%B1%B1%BE%A9%CA%D0%BA%A3%B5%ED%C7%F8%D6%D0&f=8&wd=";
    const auto queried = [&] {
        const std::vector<std::string> lines = service.take();
        return lines.size() == 1 && lines[0].compare(0, query.size(), query) == 0;
    };
    SendMessageA(mainWindow, WM_TIMER, kStartupTimer, 0);
    EXPECT_TRUE(queried()) << "the retry queries the stored city, not the empty one";
    SendMessageA(mainWindow, WM_TIMER, kDayTimer, 0);
    EXPECT_EQ(service.take(), std::vector<std::string>{}) << "the same day: nothing to do";

    // The first of next month: today's month was on show, so the new one is.
    const WORD month = clockDate.wMonth % 12 + 1;
    const WORD year = clockDate.wYear + (month == 1 ? 1 : 0);
    clockDate.wYear = year, clockDate.wMonth = month, clockDate.wDay = 1;
    SendMessageA(mainWindow, WM_TIMER, kDayTimer, 0);
    const CalendarPanel& c = calendarPanel;
    EXPECT_EQ(std::make_tuple(c.todayYear, c.todayMonth, c.todayDay), std::make_tuple(year, month, WORD{1}));
    EXPECT_EQ(std::make_pair(c.viewYear, c.viewMonth), std::make_pair(year, month));
    char line[32];
    std::snprintf(line, sizeof line, "\xBD\xF1\xCC\xEC: %04d\xC4\xEA %02d\xD4\xC2 01\xC8\xD5", year, month);
    EXPECT_STREQ(c.todayText, line);  // 今天: YYYY年 MM月 01日
    EXPECT_TRUE(queried()) << "the forecast of the new today, for the same city";

    // A clock set forward by hand, with another month on show: that month stays.
    calendarPanel.nextMonth();
    clockDate.wDay = 2;
    SendMessageA(mainWindow, WM_TIMECHANGE, 0, 0);
    EXPECT_EQ(c.todayDay, 2);
    EXPECT_EQ(c.viewMonth, month % 12 + 1);
    EXPECT_TRUE(queried());
    setWeatherHost(weatherHosts.search, "127.0.0.1:1");
}

TEST(Ending, TheSessionsEndAndCloseSaveCloseEndsTheProgram) {
    removeSettings();
    SendMessageA(mainWindow, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(settingsText(), "(none)") << "the session goes on";
    SendMessageA(mainWindow, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(settingsText(),
              "/0/0/40,-10,1,1193046,3,4,5/6,270,43520," BEIJING "\xCA\xD0\xBA\xA3\xB5\xED\xC7\xF8\xD6\xD0");

    removeSettings();
    dialogConfirms = TRUE;
    dialogChoice = 0x0000FF;
    command(2000);
    trayCalls.clear();
    command(16);
    EXPECT_EQ(settingsText().substr(0, 16), "/0/0/40,-10,255,");
    MSG msg{};
    for (int i = 0; i < 100 && msg.message != WM_QUIT; ++i) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message != WM_QUIT) DispatchMessageA(&msg);
        } else {
            Sleep(10);
        }
    }
    EXPECT_EQ(std::make_pair(msg.message, msg.wParam), std::make_pair(UINT{WM_QUIT}, WPARAM{0}));
    EXPECT_EQ(trayCalls, std::vector<DWORD>{NIM_DELETE});
    DestroyWindow(mainWindow);
}

}  // namespace
