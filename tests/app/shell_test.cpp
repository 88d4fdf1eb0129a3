// The real main window driven by messages in a temporary current directory. The colour dialog,
// the tray calls and the clock are replaced through seams; the forecast host is a closed
// loopback port or a scripted site. The tests share the window and run in the order written.

#include "app/app_settings.h"
#include "app/color_dialog.h"
#include "app/commands.h"
#include "app/day_tip.h"
#include "app/shell.h"
#include "calendar/calendar_grid.h"
#include "settings/settings_store.h"
#include "weather/picture_folder.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"
#include "weather/weather_worker.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

#define BEIJING "\xB1\xB1\xBE\xA9"                               // 北京
#define CITY BEIJING "\xCA\xD0\xBA\xA3\xB5\xED\xC7\xF8\xD6\xD0"  // 北京市海淀区中
#define CITY_WIDE L"\u5317\u4EAC\u5E02\u6D77\u6DC0\u533A\u4E2D"
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
std::string runValue() {  // its bytes but the terminator
    char data[MAX_PATH + 8] = {};
    DWORD type = REG_NONE, size = sizeof data;
    if (SHGetValueA(HKEY_CURRENT_USER, kRun, "quorvan", &type, data, &size) != ERROR_SUCCESS) return "(none)";
    return type == REG_SZ ? std::string(data, size > 0 && data[size - 1] == 0 ? size - 1 : size) : "(not REG_SZ)";
}
auto corners(const RECT& b) { return std::make_tuple(b.left, b.top, b.right, b.bottom); }

test_support::TempFolder* folder;
class Window : public ::testing::Environment {
public:
    void SetUp() override {
        // Named in Chinese and with ő, of no ANSI code page: the settings and icons go by wide paths.
        folder = new test_support::TempFolder("pellumo-shell-\xE5\xB7\xA5\xE5\x85\xB7\xC5\x91");  // UTF-8 of 工具ő
        SetCurrentDirectoryW(folder->path.c_str());
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
        SetCurrentDirectoryW(L"..");
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
    tick(kStartupTimer);  // today's month on show, which the Keys test starts from
    EXPECT_EQ(trayCalls, std::vector<DWORD>{}) << "no icon is wanted";
    ASSERT_TRUE(saveSettings());
    EXPECT_EQ(settingsText(), stored) << "each panel took its record";
}

TEST(Keys, MoveTheMonthOnShowAndHomeBringsTodaysBack) {
    const std::pair<WPARAM, int> rows[] = {{VK_DOWN, 1}, {VK_UP, 0},     {VK_RIGHT, 12}, {VK_LEFT, 0},
                                           {VK_UP, -1},  {VK_LEFT, -13}, {'A', -13},     {VK_HOME, 0}};
    for (const auto& [key, months] : rows) {
        SendMessageA(mainWindow, WM_KEYDOWN, key, 0);
        const int want = clockDate.wYear * 12 + clockDate.wMonth - 1 + months;
        EXPECT_EQ(calendarPanel.viewYear * 12 + calendarPanel.viewMonth - 1, want) << key;
    }
}

// The menu read back ("id text", "-" a separator, "*" a check mark), then opened from the tray while
// another window has the foreground: at the cursor, the window in the foreground, a message posted
// after it. What it showed is read from a timer inside the menu's loop, which ends it.
RECT menuShown;
HWND menuForeground;
void CALLBACK closeMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (HWND menu = FindWindowA("#32768", nullptr); menu && IsWindowVisible(menu)) GetWindowRect(menu, &menuShown);
    menuForeground = GetForegroundWindow();
    EndMenu();
}
TEST(Menu, HoldsTheFourteenEntriesAndOpensAtTheCursorFromTheTray) {
    ASSERT_TRUE(buildPopupMenu());
    std::wstring all;
    for (int i = 0; i < GetMenuItemCount(popupMenu.get()); ++i) {
        wchar_t text[32] = {};
        GetMenuStringW(popupMenu.get(), i, text, 32, MF_BYPOSITION);
        const UINT state = GetMenuState(popupMenu.get(), i, MF_BYPOSITION);
        all += state & MF_SEPARATOR ? L"-|"
                                    : std::to_wstring(GetMenuItemID(popupMenu.get(), i)) + L" " + text +
                                          (state & MF_CHECKED ? L"*" : L"") + (state & MF_GRAYED ? L"!" : L"") + L"|";
    }
    EXPECT_EQ(all,
              L"2000 日历标题色|2001 日历公历色|2002 日历农历色|2003 日历当前色|2004 日历今天色|-|"
              L"2005 天气文本色|2007 预报城市|-|2006 开机启动*|2010 显示图标 |-|16  关 闭 |2009  关 于 |");

    const HWND other = CreateWindowExA(0, "static", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                       GetModuleHandleA(nullptr), nullptr);
    SetForegroundWindow(other);
    ASSERT_EQ(GetForegroundWindow(), other);
    SetCursorPos(500, 300);
    SetTimer(nullptr, 0, 300, closeMenu);
    SendMessageA(mainWindow, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONUP);
    MSG msg;
    bool posted = false;
    while (PeekMessageA(&msg, mainWindow, 0, 0, PM_REMOVE)) posted |= msg.message == WM_NULL;
    EXPECT_EQ(std::make_tuple(menuShown.left, menuShown.top, menuForeground, posted),
              std::make_tuple(500L, 300L, mainWindow, true));
    DestroyWindow(other);
}

TEST(Commands, AConfirmedColourShowsACancelledOneChangesNothing) {
    // Each side of the calendar's last colour and the weather's; the notification code is not looked at.
    dialogConfirms = TRUE;
    const std::pair<UINT, COLORREF> chosen[] = {{2001, 0x123456}, {2004, 0xAA}, {2005, 0xAA00}};
    for (const auto& [id, colour] : chosen) dialogChoice = colour, command(id, BN_CLICKED);
    dialogConfirms = FALSE;
    for (UINT id = 2000; id <= 2005; ++id) command(id);
    EXPECT_EQ(std::make_tuple(calendarPanel.colors[0], calendarPanel.colors[1], calendarPanel.colors[4],
                              weatherPanel.textColor),
              std::make_tuple(1ul, 0x123456ul, 0xAAul, 0xAA00ul));
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
    HKEY volatileKey = nullptr;  // a Run key below a volatile one cannot be made
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\PellumoVolatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                    nullptr, &volatileKey, nullptr);
    RegCloseKey(volatileKey);
    settings_store::runKeyPath = "Software\\PellumoVolatile\\Run";
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
    command(2007);
    ASSERT_TRUE(edit && button && GetDlgCtrlID(button) == 2008);
    EXPECT_EQ(std::make_pair(cityEdit, cityButton), std::make_pair(edit, button)) << "one entry at a time";
    // Nine characters, 18 bytes: the 15-byte cut would keep half of the eighth.
    SetWindowTextW(edit, CITY_WIDE L"\u5173\u6751");  // 北京市海淀区中关村
    command(2008, BN_CLICKED);
    EXPECT_FALSE(IsWindow(edit) || IsWindow(button) || cityEdit || cityButton);
    EXPECT_STREQ(weatherPanel.city, CITY);
}

// Over the cell of 7 December 2026 its almanac and the cell's box; a pixel higher, an empty cell.
TEST(DayTip, HoldsTheAlmanacOfTheDayUnderThePointer) {
    ASSERT_TRUE(calendarPanel.setViewMonth(2026, 12));
    using namespace calendar_grid;
    const Box cell = cellArea(calendarPanel.originX, calendarPanel.originY, cellOfDay(calendarPanel.firstWeekday, 7));
    const auto hover = [](int x, int y) {
        SendMessageW(mainWindow, WM_MOUSEMOVE, 0, MAKELPARAM(x, y));
        wchar_t text[256] = {};
        TTTOOLINFOW tool{TTTOOLINFOW_V2_SIZE, 0, mainWindow, kDayTipTool, {}, nullptr, text, 0, nullptr};
        SendMessageW(dayTipWindow(), TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(dayTipWindow(), TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
        return std::make_tuple(std::wstring(text), corners(tool.rect));
    };
    EXPECT_EQ(hover(cell.right - 1, cell.top),
              std::make_tuple(std::wstring(L"2026年12月7日 星期一\r\n农历丙午年 (马) 十月廿九\r\n大雪"),
                              std::make_tuple(LONG{cell.left}, LONG{cell.top}, LONG{cell.right}, LONG{cell.bottom})));
    EXPECT_EQ(std::get<0>(hover(cell.right - 1, cell.top - 1)), L"");
    calendarPanel.showCurrentMonth();
}

// Runs the window's messages until `done` or `ms` have passed; whether `done` came.
template <class Done>
bool pumpUntil(Done done, DWORD ms) {
    for (const DWORD start = GetTickCount(); !done(); MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT)) {
        if (GetTickCount() - start > ms) return false;
        for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&msg);
    }
    return true;
}

// The taskbar to the top, another setting's change (nothing moves), the display's change with the
// taskbar at the right; then DPI changes with the city entry open: the window takes the suggested
// rectangle; panels, font, entry and region scale.
TEST(Placement, TheWindowKeepsToTheWorkAreaAndFollowsTheDpi) {
    RECT before{}, placed{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &before, 0));
    const LONG width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    const struct {
        RECT workArea;
        UINT message;
        WPARAM wParam;
        LONG wantRight, wantTop;
    } rows[] = {{{0, 40, width, height}, WM_SETTINGCHANGE, SPI_SETWORKAREA, width, 25},
                {{0, 0, width - 60, height}, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, width, 25},
                {{0, 0, width - 60, height}, WM_DISPLAYCHANGE, 32, width - 60, -15}};
    for (const auto& r : rows) {
        ASSERT_TRUE(SystemParametersInfoA(SPI_SETWORKAREA, 0, const_cast<RECT*>(&r.workArea), 0));
        SendMessageA(mainWindow, r.message, r.wParam, MAKELPARAM(width, height));
        GetWindowRect(mainWindow, &placed);
        EXPECT_EQ(std::make_tuple(placed.right, placed.top, placed.right - placed.left, placed.bottom - placed.top),
                  std::make_tuple(r.wantRight, r.wantTop, 320L, 450L))
            << r.message << " " << r.wParam;
    }
    SystemParametersInfoA(SPI_SETWORKAREA, 0, &before, 0);

    command(kCommandCityEntry);
    ASSERT_TRUE(cityEdit);
    const struct {
        int dpi;
        RECT suggested, region, entry;  // the region's right and bottom from the client's
        LONG fontHeight;
    } steps[] = {{144, {100, 50, 580, 725}, {8, 30, 0, 8}, {23, 383, 143, 413}, 24},
                 {96, placed, {5, 20, 0, 5}, {15, 255, 95, 275}, 16}};
    for (const auto& r : steps) {
        SendMessageA(mainWindow, kDpiChangedMessage, MAKEWPARAM(r.dpi, r.dpi), reinterpret_cast<LPARAM>(&r.suggested));
        RECT got{}, client{}, region{}, entry{};
        GetWindowRect(mainWindow, &got);
        GetClientRect(mainWindow, &client);
        GetWindowRgnBox(mainWindow, &region);
        GetWindowRect(cityEdit, &entry);
        MapWindowPoints(nullptr, mainWindow, reinterpret_cast<POINT*>(&entry), 2);
        LOGFONTW font{};
        GetObjectW(textFont(), sizeof font, &font);
        EXPECT_EQ(std::make_tuple(corners(got), corners(entry), calendarPanel.dpi, weatherPanel.dpi, font.lfHeight,
                                  SendMessageW(cityEdit, WM_GETFONT, 0, 0)),
                  std::make_tuple(corners(r.suggested), corners(r.entry), r.dpi, r.dpi, r.fontHeight,
                                  reinterpret_cast<LRESULT>(textFont())));
        EXPECT_EQ(corners(region),
                  std::make_tuple(r.region.left, r.region.top, client.right, client.bottom - r.region.bottom));
    }
    DestroyWindow(cityEdit);
    DestroyWindow(cityButton);
    cityEdit = cityButton = nullptr;
}

#define WORDS "%CC%EC%C6%F8%D4%A4%B1%A8+"  // 天气预报 and a blank
std::string query(const std::string& city) { return "<GET /s?bs=" WORDS + city + "&f=8&wd=" WORDS + city + " "; }
const std::string kCityQuery = query("%B1%B1%BE%A9%CA%D0%BA%A3%B5%ED%C7%F8%D6%D0");
const std::string kShanghaiQuery = query("%C9%CF%BA%A3");
#define ONE_TO_MINUS_FIVE "1\xA1\xE6\xA1\xAB-5\xA1\xE6"  // 1℃～-5℃
// The forecast page, its icons `icon` on the same site.
std::string forecast(const std::string& host, const std::string& icon) {
    std::string page = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\"><br>";
    for (int day = 0; day < 3; ++day) {
        page += "<img src=\"http://" + host + "/vip/baidu/imag/day/" + icon + ".gif\"><img src=\"http://" + host +
                "/vip/baidu/imag/night/" + icon +
                ".gif\"><td>" ONE_TO_MINUS_FIVE "</td><td>\xC7\xE7</td><td><span>\xB1\xB1\xB7\xE7</span></td>";
    }
    return test_support::ok(page);
}
using Scripts = std::vector<test_support::Script>;
Scripts nothing(const std::string&) { return {}; }
Scripts dropping(const std::string&) { return Scripts{{"<GET ", "|"}}; }
Scripts answering(const std::string& host) {
    const std::string gif = ">" + test_support::ok(test_support::iconFile(8, 8, 0xFF, 0xFF00, 4));
    return Scripts{{kCityQuery, ">" + forecast(host, "qing")},
                   {"<GET /vip/baidu/imag/day/qing.gif ", gif, "<GET /vip/baidu/imag/night/qing.gif ", gif}};
}
Scripts closing(const std::string&) { return Scripts{{kCityQuery, "|"}}; }  // asked, not answered
// An empty forecast after 3 s: a refresh on the window's thread would hold it that long.
Scripts slow(const std::string&) {
    return Scripts{{kShanghaiQuery, "~3000", ">" + test_support::ok("<table cellspacing=\"0\" class=\"al_wt\">")}};
}
Scripts silent(const std::string&) { return Scripts{{kShanghaiQuery}}; }  // taken, never answered
void typeCity(const wchar_t* city) { command(2007), SetWindowTextW(cityEdit, city), command(2008); }

// Midnight brings the first of next month at once and its forecast a few minutes later, retried
// until it comes; a city typed again after a failure and a wake from sleep ask again, the city on
// show does not. All the while another thread probes the window: it never waits on the network.
TEST(Today, MovesOnAtMidnightItsForecastRetriedUntilItComesAndFailuresAskAgain) {
    pumpUntil([] { return !weatherWorker.busy(); }, 20000);
    makePictureFolder(weatherPanel.pictureFolder);
    std::atomic<bool> stop{false}, stopped{false};
    std::atomic<double> worst{0};
    std::thread prober([&] {
        for (DWORD_PTR result = 0; !stop; Sleep(10)) {
            const auto before = std::chrono::steady_clock::now();
            SendMessageTimeoutA(mainWindow, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - before;
            worst = std::max(worst.load(), took.count());
        }
        stopped = true;
    });
    const WORD month = clockDate.wMonth % 12 + 1, year = clockDate.wYear + (month == 1 ? 1 : 0);
    clockDate.wYear = year, clockDate.wMonth = month, clockDate.wDay = 1;
    const struct {
        Scripts (*site)(const std::string& host);
        void (*act)();
        int timerLeft;  // whether a weather refresh is then scheduled; -1: either
    } steps[] = {{nothing, [] { tick(kDayTimer); }, 1},
                 {dropping, [] { tick(kWeatherTimer); }, 1},
                 {dropping, [] { tick(kWeatherTimer); }, 1},
                 {answering, [] { tick(kWeatherTimer); }, 0},
                 // 上海, and again: the city on show is still 北京's; then 北京's, not asked again; a wake asks.
                 {dropping, [] { typeCity(L"\u4E0A\u6D77"); }, -1},
                 {dropping, [] { typeCity(L"\u4E0A\u6D77"); }, -1},
                 {nothing, [] { typeCity(CITY_WIDE); }, -1},
                 {closing, [] { SendMessageA(mainWindow, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0); }, -1},
                 {slow, [] { typeCity(L"\u4E0A\u6D77"); }, -1},
                 {silent, [] { tick(kWeatherTimer); }, -1}};  // the retry of a city that never answers
    for (const auto& step : steps) {
        test_support::ScriptedServer site([&](const std::string& host) {
            setWeatherHost(weatherHosts.search, host.c_str());
            setWeatherHost(weatherHosts.icon, host.c_str());
            return step.site(host);
        });
        step.act();
        pumpUntil([] { return !weatherWorker.busy(); }, 20000);
        setWeatherHost(weatherHosts.search, "127.0.0.1:1");
        EXPECT_TRUE(site.finished()) << &step - steps;
        const int left = KillTimer(mainWindow, kWeatherTimer);
        EXPECT_TRUE(step.timerLeft < 0 || left == step.timerLeft)
            << "a refresh scheduled: " << left << ", step " << &step - steps;
    }
    stop = true;
    pumpUntil([&] { return stopped.load(); }, 30000);  // the last probe may wait for this thread
    prober.join();
    // Well under 50 ms on an idle machine, but a loaded one can stretch any message's to most of a second.
    std::printf("worst message latency during the refreshes: %.1f ms\n", worst.load());
    EXPECT_LT(worst, 1000.0);
    const CalendarPanel& c = calendarPanel;
    EXPECT_EQ(std::make_tuple(c.todayYear, c.todayMonth, c.todayDay, c.viewYear, c.viewMonth),
              std::make_tuple(year, month, WORD{1}, year, month));
    char line[32];
    std::snprintf(line, sizeof line, "\xBD\xF1\xCC\xEC: %04d\xC4\xEA %02d\xD4\xC2 01\xC8\xD5", year, month);
    EXPECT_STREQ(c.todayText, line);  // 今天: YYYY年 MM月 01日
    SendMessageA(mainWindow, kWeatherDoneMessage, 0, 1);  // a stray or forged one finds no result
    EXPECT_FALSE(KillTimer(mainWindow, kWeatherTimer)) << "a stray done message is no failure to retry";
    EXPECT_STREQ(weatherPanel.days[0].temperature, ONE_TO_MINUS_FIVE);
    EXPECT_STREQ(weatherPanel.forecastCity, CITY);
    EXPECT_TRUE(weatherPanel.iconBitmaps[5] != nullptr);
}

int cached(const char* pattern) {  // download leftovers and icons in the picture folder
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((std::string(weatherPanel.pictureFolder) + pattern).c_str(), &found);
    int count = search != INVALID_HANDLE_VALUE;
    while (count && FindNextFileA(search, &found)) ++count;
    if (count) FindClose(search);
    return count;
}

// The session's end saves (one that goes on does not); a line that wants the tray icon gets it,
// loaded as a new run would load it; its refresh stalls in the middle of an icon, where Close comes.
TEST(Ending, TheSessionsEndAndCloseSaveCloseStopsARefreshAtOnceAndEndsTheProgram) {
    const std::string before = settingsText();
    SendMessageA(mainWindow, WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(settingsText(), before) << "the session goes on";
    SendMessageA(mainWindow, WM_ENDSESSION, TRUE, 0);
    const std::string line = "/0/0/40,-10,1,1193046,3,4,170/6,270,43520,\xC9\xCF\xBA\xA3";  // 上海
    EXPECT_EQ(settingsText(), line);

    test_support::ScriptedServer site([](const std::string& host) {
        setWeatherHost(weatherHosts.search, host.c_str());
        setWeatherHost(weatherHosts.icon, host.c_str());
        return Scripts{
            {kShanghaiQuery, ">" + forecast(host, "stall")},
            {"<GET /vip/baidu/imag/day/stall.gif ", ">HTTP/1.1 200 OK\r\nContent-Length: 900\r\n\r\nGIF89a"}};
    });
    const std::string wanted = "/0/1" + line.substr(4);
    ASSERT_TRUE(settingsStore.writeFile(wanted.c_str()));
    trayCalls.clear();
    loadSettings();
    ASSERT_TRUE(pumpUntil([] { return cached("pel*.tmp") == 1; }, 20000)) << "the icon is on its way";
    ASSERT_TRUE(DeleteFileW((folder->path.wstring() + settings_store::kFileName).c_str()));
    const DWORD closing = GetTickCount();
    command(16);
    EXPECT_EQ(settingsText(), wanted);
    MSG msg{};  // the posted destruction, then the quit it posts
    for (int i = 0; i < 100 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && msg.message != WM_QUIT; ++i) {
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(std::make_pair(msg.message, msg.wParam), std::make_pair(UINT{WM_QUIT}, WPARAM{0}));
    EXPECT_LT(GetTickCount() - closing, 2000u);
    EXPECT_EQ(cached("pel*.tmp") + cached("*stall*"), 0) << "no partial icon left";
    EXPECT_EQ(trayCalls, (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    DestroyWindow(mainWindow);
}

}  // namespace
