#pragma once
// The live source's upstream answers, read: the geocoder's matches for a city name and the
// daily forecast for a place, checked field by field so that nothing wrong reaches a page.
// Also the addresses that ask for them. Pure: the HTTP status, body and clock come in.

#include <string>
#include <string_view>

#include "service/forecast_data.h"

namespace forecast {

struct Place {
    double latitude = 0;
    double longitude = 0;
};

enum class GeocodeStatus { Found, NotFound, Bad };

struct GeocodeAnswer {
    GeocodeStatus status = GeocodeStatus::Bad;
    Place place;
    std::string why;  // for Bad: one line for the log
};

// Of the matches, one in China whose name is exactly `exactName` (UTF-8) wins, then any in
// China, then an exact name elsewhere, the most populous first within each. An answer
// without matches is NotFound; anything malformed, or a status other than 200, is Bad.
GeocodeAnswer parseGeocode(long httpStatus, std::string_view body, std::string_view exactName);

struct ForecastAnswer {
    bool ok = false;
    int firstDay = 0;     // day number of days[0], the place's own today when fetched
    int utcOffset = 0;    // seconds east of UTC, the place's
    DayForecast days[3];  // today and the two days after, ready for the page
    std::string why;      // when not ok: one line for the log
};

// A daily forecast whose first day is the place's today at `now` (seconds since the epoch,
// UTC); any missing, short, null, misdated or absurd field makes the whole answer not ok.
ForecastAnswer parseForecast(long httpStatus, std::string_view body, long long now);

// The requests' addresses; `base` is scheme, host and optional port without a trailing '/'.
std::string geocodeUrl(std::string_view base, std::string_view utf8Name);
std::string forecastUrl(std::string_view base, Place place);

// For a GBK name ending in 市, 县 or 区 whose rest is at least two characters (the geocoder
// answers nothing to one), that rest; otherwise empty.
std::string nameWithoutSuffix(std::string_view gbkName);

// Rounds towards minus infinity, as days from seconds must.
long long floorDiv(long long a, long long b);

}  // namespace forecast
