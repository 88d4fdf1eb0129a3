#include "app/commands.h"

HMENU popupMenu = nullptr;

// The menu, the tray icon and the commands have not been built yet: every command,
// right click and tray notification is taken and ignored.

void onCommand(HWND, WPARAM) {}

void onRightButtonUp(HWND) {}

void onTrayNotify(WPARAM, LPARAM) {}
