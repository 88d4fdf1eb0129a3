#pragma once
// What the user clicks: the popup menu, the tray icon's notifications and the commands
// behind them. The main window hands these messages over and returns 0 for all of them.

#include <windows.h>

extern HMENU popupMenu;  // null until the menu is first needed; destroyed with the window

// WM_COMMAND: decided by the command id in the low 16 bits of `wParam`.
void onCommand(HWND window, WPARAM wParam);
// WM_RBUTTONUP on the main window.
void onRightButtonUp(HWND window);
// The tray callback: `iconId` is the callback's wParam, `mouseMessage` its lParam.
void onTrayNotify(WPARAM iconId, LPARAM mouseMessage);
