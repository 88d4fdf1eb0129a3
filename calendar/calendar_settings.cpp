// The calendar's record of the settings line: the pure parser's result applied to the
// panel, and the panel's fields handed to the formatter.

#include "calendar/calendar_panel.h"
#include "settings/settings_line.h"

#include <cstring>

using namespace settings_line;

bool CalendarPanel::readSettings(const char* text) {
    if (!text) return false;
    CalendarRecord record{originX, originY, {}};
    for (int i = 0; i < 5; ++i) record.colors[i] = colors[i];
    if (!parseCalendarRecord(text, std::strlen(text), record)) return false;
    originX = record.originX;
    originY = record.originY;
    for (int i = 0; i < 5; ++i) colors[i] = record.colors[i];
    showCurrentMonth();
    return true;
}

bool CalendarPanel::writeSettings(char* buffer) {
    CalendarRecord record{originX, originY, {}};
    for (int i = 0; i < 5; ++i) record.colors[i] = colors[i];
    formatCalendarRecord(record, buffer, kRecordSize);
    return true;
}
