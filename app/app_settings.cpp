// Loading and saving the settings line for the running program: the store's file, the pure
// parser and formatter, the two panels and the shell's tray icon.

#include "app/app_settings.h"

#include "app/commands.h"
#include "app/shell.h"
#include "settings/settings_line.h"
#include "settings/settings_store.h"
#include "weather/weather_panel.h"

#include <cstdio>
#include <cstring>

int autostartEnabled = 0;
int trayIconShown = 1;

namespace {
bool loaded = false;
}  // namespace

bool loadSettings() {
    char line[settings_line::kLineSize] = {};
    settingsStore.readFile(line);  // a missing file leaves the line empty: the defaults
    const settings_line::LineHead head = settings_line::parseHead(line, sizeof line);
    loaded = true;
    if (head.autostartRead) autostartEnabled = head.autostartEnabled != 0 ? 1 : 0;
    if (head.trayRead) trayIconShown = head.trayIconShown != 0 ? 1 : 0;
    // The icon follows the flag even when the line ends early, so the menu's check mark
    // never claims an icon that is not there.
    if (trayIconShown) setTrayIcon(true);

    if (head.calendarAt == settings_line::LineHead::kMissing || !calendarPanel.readSettings(line + head.calendarAt)) {
        calendarPanel.showCurrentMonth();
    }
    if (head.weatherAt == settings_line::LineHead::kMissing || !weatherPanel.readSettings(line + head.weatherAt)) {
        weatherPanel.refresh("", false);  // without a city word
    }
    return true;
}

bool saveSettings() {
    if (!loaded) return false;
    char line[settings_line::kLineSize] = {};
    char calendarRecord[settings_line::kRecordSize] = {};
    char weatherRecord[settings_line::kRecordSize] = {};
    settings_line::formatHead(autostartEnabled, trayIconShown, line, sizeof line);
    calendarPanel.writeSettings(calendarRecord);
    weatherPanel.writeSettings(weatherRecord);
    // At most 4 + 84 + 52 bytes (every number at its longest, a 15-byte city).
    const size_t head = std::strlen(line);
    std::snprintf(line + head, sizeof line - head, "%s%s", calendarRecord, weatherRecord);
    return settingsStore.writeFile(line);
}
