#pragma once
// The application shell: the one main window, its process-wide state and its message
// handling. Everything runs on the user-interface thread.

#include <windows.h>

#include <shellapi.h>

#include "calendar/calendar_panel.h"

constexpr UINT_PTR kStartupTimer = 1;
constexpr UINT kFirstTickDelay = 3000;  // ms from window creation to the settings load
constexpr UINT kRetryDelay = 30000;     // ms between retries of a panel that is not ready
constexpr UINT_PTR kDayTimer = 2;
constexpr UINT kDayCheckPeriod = 30000;           // ms between looks at the date: today moves on at midnight
constexpr UINT_PTR kWeatherTimer = 3;             // a weather retry, or the refresh after midnight
constexpr UINT kWeatherDoneMessage = WM_APP + 1;  // the worker has a result for finish
constexpr DWORD kWorkerStopWaitMs = 1000;         // the most that ending waits for a refresh
constexpr UINT kTrayIconId = 10000;
constexpr UINT kTrayCallbackMessage = WM_USER + 9;  // 1033
// Not declared for the Windows versions this program is built for; sent from Windows 8.1 on.
constexpr UINT kDpiChangedMessage = 0x02E0;  // WM_DPICHANGED
constexpr int kFontHeight = 16;              // cell height in pixels at 96 DPI, a Chinese Windows' default

extern HINSTANCE appInstance;
extern HWND mainWindow;  // null until createMainWindow has made it
extern char windowClassName[32];
extern bool firstTick;                // true until the first timer tick has loaded the settings
extern NOTIFYICONDATAA trayIconData;  // the platform's first layout: cbSize 88
extern CalendarPanel calendarPanel;
extern int mainWindowDpi;           // the DPI the window draws at: 96 until it is made
extern UINT taskbarCreatedMessage;  // registered at window creation
// Where the day check reads the local date: GetLocalTime, or a test's clock.
extern void(WINAPI* readLocalDate)(LPSYSTEMTIME);

// The font every text of the window is drawn in (null before the window is made).
HGDIOBJ textFont();

// A new request for the weather (a city entered, the settings loaded, the day changed, the
// computer woken): retries of an earlier one stop, and its own failures count from 0.
void restartWeatherRetries();

void registerWindowClass(HINSTANCE instance);
// Creates, makes translucent and shows the main window; false when it was not created.
bool createMainWindow(HINSTANCE instance, int showCommand);
// The DPI `window` is shown at (the system's while there is no window); 96 when unknown.
int windowDpi(HWND window);
// Puts the window in the top-right corner of the work area of the monitor it is on, at
// its DPI, and cuts its region to that size.
void placeMainWindow(HWND window);
LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
