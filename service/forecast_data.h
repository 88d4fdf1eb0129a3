#pragma once
// The forecasts the service serves: per city, dated days. Texts are GBK in memory; the data
// file holds them in UTF-8 (its format is described in the README). Pure: no files, no clock.

#include <map>
#include <string>
#include <string_view>
#include <unordered_map>

namespace forecast {

// Bounds that every served text keeps, so a page always fits the program's fields and its
// 5000-byte reading window: the program stores at most 15 bytes of a city and 16 bytes of a
// description or a wind.
constexpr std::size_t kMaxCityBytes = 15;
constexpr std::size_t kMaxTextBytes = 16;
constexpr int kMinTemperature = -99;
constexpr int kMaxTemperature = 99;

struct DayForecast {
    std::string dayIcon;  // a condition's icon name (conditions.h)
    std::string nightIcon;
    int high = 0;  // degrees Celsius, high >= low
    int low = 0;
    std::string description;  // GBK, begins with a Chinese character
    std::string wind;         // GBK
};

struct Dataset {
    std::unordered_map<std::string, std::map<int, DayForecast>> cities;  // GBK name -> day number -> day
    bool demo = false;
    bool live = false;  // from Open-Meteo, whose licence asks that pages say so

    // The forecasts of `city` for `today` and the two days after it. False when the city is
    // unknown or any of the three days is missing: stale days are never served.
    bool threeDays(const std::string& city, int today, const DayForecast* out[3]) const;
};

// Days since 1970-01-01 in the proleptic Gregorian calendar, and back.
int dayNumber(int year, int month, int day);
void civilDate(int dayNumber, int& year, int& month, int& day);
// The day number of a "YYYY-MM-DD" that names a real date; false for anything else.
bool parseIsoDate(const std::string& text, int& dayNumber);

// Checks one day against the bounds above; on failure `why` says which rule it breaks.
bool checkDay(const DayForecast& day, std::string& why);

// Parses a data file's text into `out` (replacing it). On failure `out` is unspecified and
// `error` is a one-line reason naming the offending entry.
bool parseDataset(std::string_view json, Dataset& out, std::string& error);

}  // namespace forecast
