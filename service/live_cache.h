#pragma once
// What the live source keeps per city and the decisions it takes on it given a clock: serve
// the cached forecast or not, ask the upstream or not; the daily budget of upstream calls;
// and the small file of places found, so that a restart asks the geocoder nothing it knew.
// Pure: times come in as seconds since the epoch, files as their text.

#include <map>
#include <string>
#include <string_view>

#include "service/forecast_data.h"
#include "service/live_parse.h"

namespace forecast {

struct CachePolicy {
    long long refreshSeconds = 30 * 60;    // a city's forecast is asked for at most once in this
    long long retrySeconds = 60;           // after a failed attempt, the next one waits this long
    long long unknownSeconds = 24 * 3600;  // a name the geocoder does not know is not asked again
};

struct CityCache {
    enum class PlaceState { Unasked, Known, Unknown };
    PlaceState placeState = PlaceState::Unasked;
    Place place;
    long long unknownUntil = 0;

    bool hasForecast = false;
    int firstDay = 0;   // the place's own day number of days[0]
    int utcOffset = 0;  // seconds east of UTC
    DayForecast days[3];
    long long fetchedAt = 0;    // of the forecast held
    long long attemptedAt = 0;  // of the last attempt, good or not; 0 for none yet
    bool lastFailed = false;
};

struct CacheDecision {
    bool serve = false;  // the held forecast covers the place's today and the two days after
    int today = 0;       // the place's today (the server's offset-less guess before a forecast)
    bool fetch = false;  // time to ask the upstream
};

CacheDecision decide(const CityCache& city, long long now, const CachePolicy& policy);

// Upstream calls allowed per UTC day.
class DailyBudget {
public:
    explicit DailyBudget(int callsPerDay) : limit(callsPerDay) {}
    // True when one more call fits today; `reached` is set on the first refusal of a day.
    bool take(long long now, bool& reached);

private:
    int limit;
    long long day = -1;
    int used = 0;
    bool refused = false;
};

// Known places and names the geocoder does not know, by GBK name; kept as UTF-8 JSON.
struct KnownPlaces {
    std::map<std::string, Place> places;
    std::map<std::string, long long> unknownUntil;
};
std::string writePlaces(const KnownPlaces& known);
// False with a one-line reason when the text is not such a file; entries that do not fit
// (names too long or not GBK, coordinates out of range) are skipped.
bool readPlaces(std::string_view text, KnownPlaces& out, std::string& error);

}  // namespace forecast
