// The main window: class, creation, the start-up timer, paint routing and the routing of
// every other message to its handler.

#include "app/shell.h"

#include "app/color_dialog.h"
#include "app/commands.h"
#include "app/day_tip.h"
#include "app/paint_route.h"
#include "app/window_geometry.h"
#include "app/resource.h"
#include "app/weather_schedule.h"
#include "common/unique.h"
#include "app/app_settings.h"
#include "settings/settings_store.h"
#include "weather/weather_panel.h"
#include "weather/weather_worker.h"

#include <cstring>

// The static objects are constructed in the order they are defined here, before WinMain
// runs, and destroyed in the reverse order after it returns.
SettingsStore settingsStore;
CalendarPanel calendarPanel;
WeatherPanel weatherPanel;

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
char windowClassName[32] = {};
bool firstTick = true;
NOTIFYICONDATAA trayIconData;
UINT taskbarCreatedMessage = 0;
void(WINAPI* readLocalDate)(LPSYSTEMTIME) = GetLocalTime;
int mainWindowDpi = kBaseDpi;

namespace {

unsigned weatherFailures = 0;  // failed refreshes in a row since the last new request
// The panels' texts are Chinese: a font with GBK's characters, the size a Chinese Windows
// draws by default, so that a Windows of another language draws them the same.
// Made at the window's DPI, again when it changes.
UniqueGdi chineseFont;
int chineseFontHeight = 0;

// Black is the colour key, so the black class background is fully transparent and only
// what the panels draw shows; alpha 200 of 255 makes that translucent.
constexpr COLORREF kColorKey = 0x000000;
constexpr BYTE kAlpha = 200;

using SetLayeredWindowAttributesFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);

// Looked up at run time so that the program still starts, opaque, where user32 lacks it.
void makeTranslucent(HWND window) {
    HMODULE user32 = LoadLibraryA("user32.dll");
    if (!user32) return;
    // Through void(*)() because a direct cast from FARPROC trips -Wcast-function-type.
    const auto setAttributes = reinterpret_cast<SetLayeredWindowAttributesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetLayeredWindowAttributes")));
    if (setAttributes) setAttributes(window, kColorKey, kAlpha, LWA_COLORKEY | LWA_ALPHA);
    FreeLibrary(user32);
}

void fillTrayIconData(HWND window) {
#ifndef _WIN64
    static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the shell expects the first record layout");
#endif
    trayIconData = NOTIFYICONDATAA{};
    trayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIconData.hWnd = window;
    trayIconData.uID = kTrayIconId;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = kTrayCallbackMessage;
    trayIconData.hIcon = LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_PELLUMO));
    // Only the first 64 bytes of the tip belong to the 88-byte layout.
    std::strncpy(trayIconData.szTip, "Pellumo", 63);
}

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

// The work area of the monitor that holds most of `window`, or of the primary monitor while
// there is none.
PixelRect workAreaOf(HWND window) {
    HMONITOR monitor = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)
                              : MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT area{};
    if (GetMonitorInfoA(monitor, &info) && !(info.dwFlags & MONITORINFOF_PRIMARY)) {
        area = info.rcWork;
    } else if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
        // The primary monitor's from the system setting that a moved taskbar changes and
        // WM_SETTINGCHANGE announces; Wine leaves a set work area out of the monitor record.
        SetRect(&area, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    return {area.left, area.top, area.right, area.bottom};
}

// The region is the system's once installed, so each size gets a new one.
void cutWindowRegion(HWND window, int dpi) {
    RECT client;
    GetClientRect(window, &client);
    const PixelRect cut = mainWindowRegion(client.right, client.bottom, dpi);
    UniqueGdi region(CreateRectRgn(cut.left, cut.top, cut.right, cut.bottom));
    if (region && SetWindowRgn(window, static_cast<HRGN>(region.get()), TRUE)) {
        region.release();  // the system owns it now
    }
}

// Makes the font at `height` pixels unless it is that already, and hands back the one it
// replaced (or nothing) to be deleted once nothing draws with it.
UniqueGdi remakeChineseFont(int height) {
    if (chineseFont && height == chineseFontHeight) return UniqueGdi();
    LOGFONTW font{};
    font.lfHeight = height;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    UniqueGdi made(CreateFontIndirectW(&font));
    if (!made) return UniqueGdi();
    UniqueGdi old(chineseFont.release());
    chineseFont.reset(made.release());
    chineseFontHeight = height;
    return old;
}

// Everything drawn at the window's DPI takes it: the panels, the font, the city entry and
// the region.
void applyDpi(HWND window, int dpi) {
    mainWindowDpi = dpi;
    calendarPanel.dpi = dpi;
    weatherPanel.dpi = dpi;
    // The city entry draws with the font: it takes the new one before the old one goes.
    const UniqueGdi oldFont = remakeChineseFont(scaleToDpi(kFontHeight, dpi));
    fitCityEntry();
    cutWindowRegion(window, dpi);
}

LRESULT onCreate(HWND window) {
    if (HWND desktop = GetDesktopWindow()) SetParent(window, desktop);
    fillTrayIconData(window);
    applyDpi(window, windowDpi(window));

    SetTimer(window, kStartupTimer, kFirstTickDelay, nullptr);
    SetTimer(window, kDayTimer, kDayCheckPeriod, nullptr);
    // Explorer broadcasts this when it (re)starts; its tray then has forgotten every icon.
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    initColorDialog(colorDialogData, customColors, window, currentColor);
    // Without it refreshes run here, as before: slower to answer, but still right.
    weatherWorker.start(window, kWeatherDoneMessage);
    return 0;
}

LRESULT onDestroy(HWND window) {
    KillTimer(window, kStartupTimer);
    KillTimer(window, kDayTimer);
    KillTimer(window, kWeatherTimer);
    weatherWorker.stop(kWorkerStopWaitMs);
    notifyIcon(NIM_DELETE, &trayIconData);  // harmless when the icon is not shown
    popupMenu.reset();
    PostQuitMessage(0);
    return 0;
}

// Queries the city the weather panel holds again, forced. The city is copied first, since
// the refresh stores its argument over the panel's own.
void refreshStoredCity() {
    char city[WeatherPanel::kCitySize] = {};
    std::memcpy(city, weatherPanel.city, sizeof city - 1);
    weatherPanel.refresh(city, true);
}

// The first tick loads the settings and slows the timer down; later ticks retry the
// calendar until it is ready and then stop the timer for good. The weather has retries of
// its own (onWeatherDone).
LRESULT onStartupTimer(HWND window) {
    if (firstTick) {
        SetTimer(window, kStartupTimer, kRetryDelay, nullptr);
        restartWeatherRetries();
        loadSettings();
        firstTick = false;
        InvalidateRect(window, nullptr, FALSE);
        return 0;
    }
    if (calendarPanel.ready) {
        KillTimer(window, kStartupTimer);
        return 0;
    }
    calendarPanel.showCurrentMonth();
    InvalidateRect(window, nullptr, FALSE);
    return 0;
}

// A program left running past midnight moves today on: the calendar's box, today line and
// month at once, and the forecast whose first day is labelled today a few minutes later.
LRESULT onDayCheck(HWND window) {
    SYSTEMTIME now{};
    readLocalDate(&now);
    if (!calendarPanel.rollToday(now.wYear, now.wMonth, now.wDay)) return 0;
    if (firstTick) return 0;  // the settings load will query
    restartWeatherRetries();
    SetTimer(window, kWeatherTimer, midnightRefreshDelayMs(GetTickCount() ^ GetCurrentProcessId()), nullptr);
    return 0;
}

LRESULT onWeatherTimer(HWND window) {
    KillTimer(window, kWeatherTimer);
    refreshStoredCity();
    return 0;
}

LRESULT onTimer(HWND window, WPARAM id) {
    if (id == kDayTimer) return onDayCheck(window);
    if (id == kWeatherTimer) return onWeatherTimer(window);
    return onStartupTimer(window);
}

// The worker's result: committed at once; a failure is retried after a pause that grows
// with each failure in a row, until one succeeds or a newer request takes over.
LRESULT onWeatherDone(HWND window) {
    const WeatherWorker::Outcome outcome = weatherWorker.finish(weatherPanel);
    if (outcome == WeatherWorker::Outcome::superseded) return 0;
    if (outcome == WeatherWorker::Outcome::succeeded) {
        weatherFailures = 0;
        KillTimer(window, kWeatherTimer);
    } else {
        SetTimer(window, kWeatherTimer, weatherRetryDelayMs(weatherFailures++), nullptr);
    }
    // Before its first paint the panel knows no window to invalidate; a failure changed nothing.
    if (!weatherPanel.ready && outcome != WeatherWorker::Outcome::failed) InvalidateRect(window, nullptr, FALSE);
    return 0;
}

// A computer woken from sleep may have slept past midnight: today and the forecast move on.
LRESULT onPowerBroadcast(HWND window, WPARAM event) {
    if ((event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND) && !firstTick) {
        onDayCheck(window);
        restartWeatherRetries();
        refreshStoredCity();
    }
    return TRUE;
}

// Windows ends the session without a Close: keep what this run changed. A refresh in
// flight is not waited for; ended with the process, it leaves at most a temporary file,
// which the next start removes.
LRESULT onEndSession(WPARAM ending) {
    if (ending) saveSettings();
    return 0;
}

LRESULT onTaskbarCreated() {
    if (trayIconShown && !firstTick) notifyIcon(NIM_ADD, &trayIconData);
    return 0;
}

// The monitor the window was on went away or changed its size or work area.
LRESULT onDisplayChange(HWND window) {
    placeMainWindow(window);
    return 0;
}

LRESULT onSettingChange(HWND window, WPARAM action) {
    if (action == SPI_SETWORKAREA) placeMainWindow(window);
    return 0;
}

// Moved to a monitor of another DPI, or the user changed the scale: the system suggests
// the rectangle that keeps the window where it was at the new size.
LRESULT onDpiChanged(HWND window, WPARAM dpis, LPARAM suggested) {
    const RECT* place = reinterpret_cast<const RECT*>(suggested);
    if (!place) return 0;
    SetWindowPos(window, nullptr, place->left, place->top, place->right - place->left, place->bottom - place->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    applyDpi(window, HIWORD(dpis));
    InvalidateRect(window, nullptr, TRUE);
    return 0;
}

LRESULT onPaint(HWND window) {
    const PaintDc dc(window);
    const SelectGuard font(dc.get(), chineseFont.get());
    const PaintRoute route = routePaint(dc.area().top, dc.area().bottom, calendarPanel.dpi);
    if (route == PaintRoute::both || route == PaintRoute::calendar) calendarPanel.paint(window, dc.get());
    if (route == PaintRoute::both || route == PaintRoute::weather) weatherPanel.paint(window, dc.get());
    return 0;
}

// Every key is consumed, including those the calendar has no use for.
LRESULT onKeyDown(WPARAM key) {
    switch (key) {
        case VK_HOME:
            calendarPanel.showCurrentMonth();
            break;
        case VK_LEFT:
            calendarPanel.previousYear();
            break;
        case VK_UP:
            calendarPanel.previousMonth();
            break;
        case VK_RIGHT:
            calendarPanel.nextYear();
            break;
        case VK_DOWN:
            calendarPanel.nextMonth();
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

HGDIOBJ textFont() { return chineseFont.get(); }

void restartWeatherRetries() {
    weatherFailures = 0;
    if (mainWindow) KillTimer(mainWindow, kWeatherTimer);
}

void registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_VREDRAW | CS_HREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    // No class icon: the tray shows resource 101, and a tool window has no other place for one.
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = windowClassName;
    RegisterClassExA(&wc);
}

int windowDpi(HWND window) {
    // From Windows 10 1607 on, and not in every Wine: looked up, not linked.
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (window && getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
    }
    // Before it, the screen's DPI is the system DPI, the one a system-aware program gets.
    const WindowDc screen(nullptr);
    const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : kBaseDpi;
}

void placeMainWindow(HWND window) {
    const int dpi = windowDpi(window);
    const PixelRect place = mainWindowRect(workAreaOf(window), dpi);
    SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    applyDpi(window, dpi);
}

bool createMainWindow(HINSTANCE instance, int showCommand) {
    appInstance = instance;
    const PixelRect place = mainWindowRect(workAreaOf(nullptr), windowDpi(nullptr));
    mainWindow = CreateWindowExA(WS_EX_LAYERED | WS_EX_TOOLWINDOW, windowClassName, "", WS_OVERLAPPEDWINDOW, place.left,
                                 place.top, place.right - place.left, place.bottom - place.top, nullptr, nullptr,
                                 instance, nullptr);
    if (!mainWindow) return false;
    // The primary monitor's DPI may differ from the system's the size above was taken at.
    if (windowDpi(mainWindow) != windowDpi(nullptr)) placeMainWindow(mainWindow);
    makeTranslucent(mainWindow);
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);
    return true;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A registered message has no fixed number to be a case of its own.
    if (taskbarCreatedMessage && message == taskbarCreatedMessage) return onTaskbarCreated();
    switch (message) {
        case WM_CREATE:
            return onCreate(window);
        case WM_DESTROY:
            return onDestroy(window);
        case WM_PAINT:
            return onPaint(window);
        case WM_KEYDOWN:
            return onKeyDown(wParam);
        case WM_COMMAND:
            onCommand(window, wParam);
            return 0;
        case WM_TIMER:
            return onTimer(window, wParam);
        case WM_DISPLAYCHANGE:
            return onDisplayChange(window);
        case WM_SETTINGCHANGE:
            return onSettingChange(window, wParam);
        case kDpiChangedMessage:
            return onDpiChanged(window, wParam, lParam);
        case WM_TIMECHANGE:
            return onDayCheck(window);
        case WM_POWERBROADCAST:
            return onPowerBroadcast(window, wParam);
        case kWeatherDoneMessage:
            return onWeatherDone(window);
        case WM_ENDSESSION:
            return onEndSession(wParam);
        case WM_MOUSEMOVE:
            return onDayTipMouse(calendarPanel, window, message, wParam, lParam);
        case WM_RBUTTONUP:
            onRightButtonUp(window);
            return 0;
        case kTrayCallbackMessage:
            onTrayNotify(wParam, lParam);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
