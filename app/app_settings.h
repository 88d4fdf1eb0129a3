#pragma once
// The settings line as the application uses it: its two flags and the load and save that
// join the head with the two panels' records.

// 1 when the program is to start with Windows; the check mark of the autostart item.
extern int autostartEnabled;
// 1 when the tray icon is wanted (and shown once the settings are loaded).
extern int trayIconShown;

// Reads the settings file of the current directory and applies its line: the flags, the
// tray icon, the calendar's origin and colours (showing the current month) and the weather
// panel's origin, colour and city (refreshing its forecast). A missing file, a line of 32
// bytes or less, or a record missing from a longer line leaves the defaults in place for
// what it does not give. Blocks for the forecast's refresh. Always true.
bool loadSettings();
// Writes the current flags, origins, colours and city as the settings line. False, writing
// nothing, before loadSettings has run (so a session ending early never puts the defaults
// over the stored settings), and when the file could not be replaced.
bool saveSettings();
