#pragma once
// What the user clicks: the popup menu, the tray icon's notifications and the commands
// behind them. The main window hands these messages over and returns 0 for all of them.

#include <windows.h>

#include <shellapi.h>

#include "common/unique.h"

// Command ids: the menu's items and the city entry's button.
constexpr UINT kCommandClose = 16;
constexpr UINT kCommandFirstColor = 2000;  // 2000..2004 the calendar's colours, 2005 the weather's
constexpr UINT kCommandWeatherColor = 2005;
constexpr UINT kCommandAutostart = 2006;
constexpr UINT kCommandCityEntry = 2007;
constexpr UINT kCommandCitySet = 2008;
constexpr UINT kCommandAbout = 2009;
constexpr UINT kCommandTrayIcon = 2010;

extern UniqueMenu popupMenu;  // none until the menu is first needed; destroyed with the window
extern HWND cityEdit;         // the city entry's edit box and button while the entry is open
extern HWND cityButton;

// The tray calls go through here so that tests can watch them; Shell_NotifyIconA otherwise.
extern BOOL(WINAPI* notifyIcon)(DWORD, PNOTIFYICONDATAA);

// Creates the menu on its first call and sets the check marks of the autostart and the
// tray-icon items from their flags. False only when the menu could not be created.
bool buildPopupMenu();
// The menu at the cursor, owned by `owner`; the chosen item comes back as WM_COMMAND.
void showPopupMenu(HWND owner);
// Runs the colour dialog for item 0..4 (the calendar's colours) or 5 (the weather text).
// A confirmed colour becomes the item's and the dialog's next start; a cancelled dialog
// changes nothing and returns false.
bool chooseColor(unsigned item);
// Moves and sizes the open city entry for the window's DPI and gives it the window's font;
// nothing while no entry is open.
void fitCityEntry();
// Adds or deletes the tray icon and sets trayIconShown to match. The window is shown when
// the icon goes while it is hidden, since the icon was the only way back to it.
void setTrayIcon(bool shown);

// WM_COMMAND: decided by the command id in the low 16 bits of `wParam`.
void onCommand(HWND window, WPARAM wParam);
// WM_RBUTTONUP on the main window.
void onRightButtonUp(HWND window);
// The tray callback: `iconId` is the callback's wParam, `mouseMessage` its lParam.
void onTrayNotify(WPARAM iconId, LPARAM mouseMessage);
