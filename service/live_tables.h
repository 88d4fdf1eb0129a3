#pragma once
// How an Open-Meteo daily forecast is worded on the page: the WMO weather code as one of the
// service's icons with a short Chinese description, the day's wind as Chinese forecasts write
// it, and temperatures in whole degrees. Tables only; no JSON, no sockets.

#include <string>

namespace forecast {

struct WeatherWords {
    const char* icon;         // one of the conditions' icon names (conditions.h)
    const char* description;  // GBK, at most 8 characters
};

// The words for a WMO code in 0..99. Every code that the forecast API documents has its own;
// any other is shown as overcast with "weather unclear" rather than guessed.
WeatherWords weatherWords(int wmoCode);

// Beaufort force (0..17, the Chinese scale above 12) of a wind speed in km/h, taken to the
// tenth of a metre per second as the scale's bounds are.
int beaufortForce(double kmh);

// "西北风4级" from the dominant direction in degrees (where the wind comes from, 0..360) and
// the day's maximum speed in km/h; "微风" below force 3, where direction means little. GBK.
std::string windWords(double directionDegrees, double maxKmh);

// Whole degrees, halves away from zero, so that -0.5 and 0.5 do not both show as 0.
int roundDegrees(double celsius);

}  // namespace forecast
