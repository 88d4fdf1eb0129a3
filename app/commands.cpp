// The popup menu, the tray icon and the commands behind them.

#include "app/commands.h"

#include "app/app_settings.h"
#include "app/app_text.h"
#include "app/color_dialog.h"
#include "app/shell.h"
#include "common/dpi_scale.h"
#include "common/gbk_wide.h"
#include "common/unique.h"
#include "settings/settings_store.h"
#include "weather/weather_panel.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

UniqueMenu popupMenu;
HWND cityEdit = nullptr;
HWND cityButton = nullptr;
BOOL(WINAPI* notifyIcon)(DWORD, PNOTIFYICONDATAA) = Shell_NotifyIconA;

namespace {

struct MenuEntry {
    UINT id;  // 0: a separator
    const char* text;
};

constexpr MenuEntry kMenu[] = {
    {kCommandFirstColor + 0, app_text::kCalendarTitleColor},
    {kCommandFirstColor + 1, app_text::kCalendarGregorianColor},
    {kCommandFirstColor + 2, app_text::kCalendarLunarColor},
    {kCommandFirstColor + 3, app_text::kCalendarCurrentColor},
    {kCommandFirstColor + 4, app_text::kCalendarTodayColor},
    {0, nullptr},
    {kCommandWeatherColor, app_text::kWeatherTextColor},
    {kCommandCityEntry, app_text::kForecastCity},
    {0, nullptr},
    {kCommandAutostart, app_text::kAutostart},
    {kCommandTrayIcon, app_text::kShowIcon},
    {0, nullptr},
    {kCommandClose, app_text::kClose},
    {kCommandAbout, app_text::kAbout},
};

constexpr int kCityLeft = 15, kCityTop = 255, kCityWidth = 80, kButtonLeft = 115, kButtonWidth = 50, kCityHeight = 20;
constexpr int kAboutFromRight = 300, kAboutTop = 250, kAboutLineHeight = 20;
constexpr COLORREF kAboutColor = 0x000000FF;

void toggleAutostart() {
    if (settingsStore.setAutostart(autostartEnabled == 0)) autostartEnabled = autostartEnabled ? 0 : 1;
}

// One entry at a time: a second request while one is open leaves it as it is.
void openCityEntry(HWND window) {
    if (cityEdit) return;
    constexpr DWORD kStyle = WS_CHILD | WS_VISIBLE;
    // Wide controls, so that what is typed and shown is not bound to the system's code page;
    // fitCityEntry gives them their place and font.
    cityEdit = CreateWindowExW(0, L"edit", L"", kStyle, 0, 0, 0, 0, window, nullptr, appInstance, nullptr);
    wchar_t setCity[16];
    gbk::toWide(app_text::kSetCity, sizeof app_text::kSetCity - 1, setCity, 16);
    cityButton = CreateWindowExW(0, L"button", setCity, kStyle, 0, 0, 0, 0, window,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kCommandCitySet)), appInstance, nullptr);
    fitCityEntry();
}

void takeCityEntry() {
    if (!cityEdit) return;  // no entry open: nothing to take
    // Read wide, whatever the system's code page, and cut to the city's 15 GBK bytes at a
    // whole character.
    wchar_t typed[256] = {};
    GetWindowTextW(cityEdit, typed, 256);
    char city[WeatherPanel::kCitySize];
    gbk::fromWide(typed, city, sizeof city, sizeof city - 1);
    DestroyWindow(cityEdit);
    if (cityButton) DestroyWindow(cityButton);
    cityEdit = nullptr;
    cityButton = nullptr;
    restartWeatherRetries();
    weatherPanel.refresh(city, false);
}

// Straight onto the screen in red, where the desktop's icon view would be; the lines stay
// until whatever lies beneath is repainted.
void showAbout() {
    HWND desktop = FindWindowA("progman ", nullptr);
    desktop = FindWindowExA(desktop, nullptr, "shelldll_defview ", nullptr);
    desktop = FindWindowExA(desktop, nullptr, "syslistview32 ", nullptr);
    WindowDc dc(desktop);  // no window found: the whole screen
    if (!dc.get()) return;
    const SelectGuard font(dc.get(), textFont());
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextColor(dc.get(), kAboutColor);
    // Its lengths grow with the window's, as its font does.
    const int room = scaleToDpi(kAboutFromRight, mainWindowDpi), top = scaleToDpi(kAboutTop, mainWindowDpi);
    const int left = GetSystemMetrics(SM_CXSCREEN) - room;

    wchar_t line[64];
    const int programLength =
        gbk::toWide(app_text::kAboutProgram, sizeof app_text::kAboutProgram - 1, line, sizeof line / sizeof *line);
    if (programLength > 0) TextOutW(dc.get(), left, top, line, programLength);

    // The path's end says most about where the program is: while the line is wider than the
    // room left of the screen's edge, drop characters from the path's start and mark the cut
    // with "...". Wide throughout, since the path may hold characters of no ANSI code page.
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t place[16];
    const int placeLength = gbk::toWide(app_text::kAboutPlace, sizeof app_text::kAboutPlace - 1, place, 16);
    if (placeLength < 0) return;
    wchar_t shown[MAX_PATH + 24];
    int length = 0;
    for (const wchar_t* tail = path;; ++tail) {
        length = wsprintfW(shown, L"%s%s%s", place, tail == path ? L"" : L"...", tail);
        SIZE extent{};
        GetTextExtentPoint32W(dc.get(), shown, length, &extent);
        if (extent.cx <= room || *tail == L'\0') break;
    }
    TextOutW(dc.get(), left, top + scaleToDpi(kAboutLineHeight, mainWindowDpi), shown, length);
}

}  // namespace

void fitCityEntry() {
    const auto at = [](int length) { return scaleToDpi(length, mainWindowDpi); };
    const struct {
        HWND control;
        int left, width;
    } controls[] = {{cityEdit, kCityLeft, kCityWidth}, {cityButton, kButtonLeft, kButtonWidth}};
    for (const auto& c : controls) {
        if (!c.control) continue;
        SetWindowPos(c.control, nullptr, at(c.left), at(kCityTop), at(c.left + c.width) - at(c.left),
                     at(kCityTop + kCityHeight) - at(kCityTop), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(c.control, WM_SETFONT, reinterpret_cast<WPARAM>(textFont()), TRUE);
    }
}

bool buildPopupMenu() {
    if (!popupMenu) {
        popupMenu.reset(CreatePopupMenu());
        if (!popupMenu) return false;
        for (const MenuEntry& entry : kMenu) {
            if (entry.id) {
                wchar_t text[32];
                gbk::toWide(entry.text, lstrlenA(entry.text), text, 32);
                AppendMenuW(popupMenu.get(), MF_STRING, entry.id, text);
            } else {
                AppendMenuA(popupMenu.get(), MF_SEPARATOR, 0, nullptr);
            }
        }
    }
    CheckMenuItem(popupMenu.get(), kCommandAutostart, MF_BYCOMMAND | (autostartEnabled ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(popupMenu.get(), kCommandTrayIcon, MF_BYCOMMAND | (trayIconShown ? MF_CHECKED : MF_UNCHECKED));
    return true;
}

void showPopupMenu(HWND owner) {
    if (!buildPopupMenu()) return;
    POINT at{};
    GetCursorPos(&at);
    // Without the foreground the menu would not close on a click elsewhere; the message
    // posted after it makes the switch back complete.
    SetForegroundWindow(owner);
    TrackPopupMenu(popupMenu.get(), 0, at.x, at.y, 0, owner, nullptr);
    PostMessageA(owner, WM_NULL, 0, 0);
}

bool chooseColor(unsigned item) {
    if (!colorDialog(&colorDialogData)) return false;
    currentColor = colorDialogData.rgbResult;
    if (item < 5) {
        calendarPanel.setColor(item, currentColor);
    } else {
        weatherPanel.setColor(currentColor);
    }
    return true;
}

void setTrayIcon(bool shown) {
    // The flag follows the request whatever the shell answered: a shell that is not
    // there yet gets the icon from the TaskbarCreated broadcast.
    notifyIcon(shown ? NIM_ADD : NIM_DELETE, &trayIconData);
    trayIconShown = shown ? 1 : 0;
    if (!shown && mainWindow && !IsWindowVisible(mainWindow)) ShowWindow(mainWindow, SW_SHOW);
}

void onCommand(HWND window, WPARAM wParam) {
    const UINT id = LOWORD(wParam);
    if (id >= kCommandFirstColor && id <= kCommandWeatherColor) {
        chooseColor(id - kCommandFirstColor);
        return;
    }
    switch (id) {
        case kCommandAutostart:
            toggleAutostart();
            break;
        case kCommandCityEntry:
            openCityEntry(window);
            break;
        case kCommandCitySet:
            takeCityEntry();
            break;
        case kCommandAbout:
            showAbout();
            break;
        case kCommandTrayIcon:
            setTrayIcon(trayIconShown == 0);
            break;
        case kCommandClose:
            saveSettings();
            PostMessageA(window, WM_DESTROY, 0, 0);
            break;
        default:
            break;
    }
}

void onRightButtonUp(HWND window) { showPopupMenu(window); }

void onTrayNotify(WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != kTrayIconId) return;
    switch (mouseMessage) {
        case WM_LBUTTONDBLCLK:
            ShowWindow(mainWindow, IsWindowVisible(mainWindow) ? SW_HIDE : SW_SHOW);
            break;
        case WM_RBUTTONUP:
            showPopupMenu(mainWindow);
            break;
        default:
            break;
    }
}
