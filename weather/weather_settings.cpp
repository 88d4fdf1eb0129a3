// The weather panel's record of the settings line: the pure parser's result applied to the
// panel, and the panel's fields handed to the formatter.

#include "settings/settings_line.h"
#include "weather/weather_panel.h"

#include <cstring>

using namespace settings_line;

bool WeatherPanel::readSettings(const char* text) {
    if (!text) return false;
    WeatherRecord record{originX, originY, textColor, {}};
    if (!parseWeatherRecord(text, std::strlen(text), record)) return false;
    originX = record.originX;
    originY = record.originY;
    textColor = record.textColor;
    // The stored city is still empty here, so this always queries.
    refresh(record.city, false);
    return true;
}

bool WeatherPanel::writeSettings(char* buffer) {
    WeatherRecord record{originX, originY, textColor, {}};
    static_assert(sizeof record.city == sizeof city, "the line's city field is the panel's");
    std::memcpy(record.city, city, sizeof city);
    formatWeatherRecord(record, buffer, kRecordSize);
    return true;
}
