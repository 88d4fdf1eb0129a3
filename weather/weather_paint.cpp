// The panel's screen side: icon files to bitmaps, and the painting.

#include "weather/weather_panel.h"

bool WeatherPanel::loadIcons() { return false; }
bool WeatherPanel::paint(HWND, HDC) { return false; }
bool WeatherPanel::invalidate() { return true; }
bool WeatherPanel::setColor(COLORREF color) {
    textColor = color;
    return invalidate();
}
