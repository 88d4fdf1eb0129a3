#include "service/live_parse.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "common/ascii.h"
#include "service/live_tables.h"

namespace forecast {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxReason = 80;
constexpr int kMaxOffset = 18 * 3600;
constexpr double kColdest = -90, kHottest = 60, kFastestKmh = 300;

const Json& member(const Json& object, const char* name) {
    static const Json missing;
    if (!object.is_object()) return missing;
    auto it = object.find(name);
    return it == object.end() ? missing : *it;
}

// The upstream's own reason for an error, kept printable and short for the log.
std::string reasonOf(const Json& root) {
    const Json& reason = member(root, "reason");
    if (!reason.is_string()) return "";
    std::string out;
    for (char c : reason.get_ref<const std::string&>().substr(0, kMaxReason)) {
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return ": " + out;
}

std::string statusWhy(long status, const Json& root) { return "HTTP " + std::to_string(status) + reasonOf(root); }

void percentEncode(std::string& out, std::string_view text) {
    for (char c : text) {
        if (ascii::isLetter(c) || ascii::isDigit(c) || c == '-' || c == '.' || c == '_') {
            out += c;
        } else {
            out += '%';
            out += ascii::hexDigit(static_cast<unsigned char>(c) >> 4);
            out += ascii::hexDigit(static_cast<unsigned char>(c));
        }
    }
}

}  // namespace

long long floorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

GeocodeAnswer parseGeocode(long httpStatus, std::string_view body, std::string_view exactName) {
    GeocodeAnswer answer;
    Json root = Json::parse(body.begin(), body.end(), nullptr, false);
    if (httpStatus != 200) return answer.why = statusWhy(httpStatus, root), answer;
    if (root.is_discarded() || !root.is_object()) return answer.why = "not a JSON object", answer;
    const Json& results = member(root, "results");
    if (results.is_null() || (results.is_array() && results.empty())) {
        answer.status = GeocodeStatus::NotFound;
        return answer;
    }
    if (!results.is_array()) return answer.why = "results: not an array", answer;
    int bestRank = -1;
    double bestPopulation = -1;
    for (const Json& r : results) {
        const Json& lat = member(r, "latitude");
        const Json& lon = member(r, "longitude");
        if (!lat.is_number() || !lon.is_number()) continue;
        Place p{lat.get<double>(), lon.get<double>()};
        if (p.latitude < -90 || p.latitude > 90 || p.longitude < -180 || p.longitude > 180) continue;
        const Json& name = member(r, "name");
        const Json& country = member(r, "country_code");
        const Json& population = member(r, "population");
        const bool exact = name.is_string() && name.get_ref<const std::string&>() == exactName;
        const bool china = country.is_string() && country.get_ref<const std::string&>() == "CN";
        const int rank = (china ? 2 : 0) + (exact ? 1 : 0);
        const double people = population.is_number() ? population.get<double>() : 0;
        if (rank > bestRank || (rank == bestRank && people > bestPopulation)) {
            bestRank = rank;
            bestPopulation = people;
            answer.place = p;
        }
    }
    if (bestRank < 0) return answer.why = "results: no match with usable coordinates", answer;
    answer.status = GeocodeStatus::Found;
    return answer;
}

ForecastAnswer parseForecast(long httpStatus, std::string_view body, long long now) {
    ForecastAnswer answer;
    Json root = Json::parse(body.begin(), body.end(), nullptr, false);
    if (httpStatus != 200) return answer.why = statusWhy(httpStatus, root), answer;
    if (root.is_discarded() || !root.is_object()) return answer.why = "not a JSON object", answer;
    const Json& offset = member(root, "utc_offset_seconds");
    if (!offset.is_number_integer() || offset.get<long long>() < -kMaxOffset || offset.get<long long>() > kMaxOffset) {
        return answer.why = "utc_offset_seconds: missing or absurd", answer;
    }
    answer.utcOffset = offset.get<int>();
    const Json& daily = member(root, "daily");
    if (!daily.is_object()) return answer.why = "daily: missing", answer;
    const char* names[] = {"time",
                           "weather_code",
                           "temperature_2m_max",
                           "temperature_2m_min",
                           "wind_speed_10m_max",
                           "wind_direction_10m_dominant"};
    const Json* columns[6];
    for (int c = 0; c < 6; ++c) {
        columns[c] = &member(daily, names[c]);
        if (!columns[c]->is_array() || columns[c]->size() < 3) {
            return answer.why = std::string("daily.") + names[c] + ": missing or shorter than 3 days", answer;
        }
        for (int d = 0; d < 3; ++d) {
            if ((*columns[c])[d].is_null()) return answer.why = std::string("daily.") + names[c] + ": null", answer;
            if (c > 0 && !(*columns[c])[d].is_number()) {
                return answer.why = std::string("daily.") + names[c] + ": not a number", answer;
            }
        }
    }
    const int today = static_cast<int>(floorDiv(now + answer.utcOffset, 86400));
    for (int d = 0; d < 3; ++d) {
        int date = 0;
        const Json& time = (*columns[0])[d];
        if (!time.is_string() || !parseIsoDate(time.get_ref<const std::string&>(), date) || date != today + d) {
            return answer.why = "daily.time: dates do not match the place's today and the two days after", answer;
        }
        const double code = (*columns[1])[d].get<double>();
        const double high = (*columns[2])[d].get<double>(), low = (*columns[3])[d].get<double>();
        const double speed = (*columns[4])[d].get<double>(), direction = (*columns[5])[d].get<double>();
        if (code < 0 || code > 99 || code != static_cast<int>(code)) return answer.why = "weather_code: absurd", answer;
        if (low < kColdest || high > kHottest || low > high) return answer.why = "temperature: absurd", answer;
        if (speed < 0 || speed > kFastestKmh || direction < 0 || direction > 360) {
            return answer.why = "wind: absurd", answer;
        }
        WeatherWords words = weatherWords(static_cast<int>(code));
        DayForecast& day = answer.days[d];
        day.dayIcon = day.nightIcon = words.icon;
        day.description = words.description;
        day.high = roundDegrees(high);
        day.low = roundDegrees(low);
        day.wind = windWords(direction, speed);
        std::string why;
        if (!checkDay(day, why)) return answer.why = "day " + std::to_string(d) + ": " + why, answer;
    }
    answer.firstDay = today;
    answer.ok = true;
    return answer;
}

std::string geocodeUrl(std::string_view base, std::string_view utf8Name) {
    std::string url(base);
    url += "/v1/search?name=";
    percentEncode(url, utf8Name);
    url += "&count=10&language=zh&format=json";
    return url;
}

std::string forecastUrl(std::string_view base, Place place) {
    char coordinates[64];
    std::snprintf(coordinates, sizeof coordinates, "latitude=%.4f&longitude=%.4f", place.latitude, place.longitude);
    return std::string(base) + "/v1/forecast?" + coordinates +
           "&daily=weather_code,temperature_2m_max,temperature_2m_min,wind_speed_10m_max,wind_direction_10m_dominant"
           "&timezone=auto&forecast_days=3";
}

std::string nameWithoutSuffix(std::string_view gbk) {
    static const char* const suffixes[] = {"\xCA\xD0", "\xCF\xD8", "\xC7\xF8"};  // 市, 县, 区
    // Two GBK characters before the suffix at least; walking from the start keeps the
    // suffix from being read out of a trail byte.
    std::size_t i = 0, characters = 0, last = 0;
    while (i < gbk.size()) {
        last = i;
        i += static_cast<unsigned char>(gbk[i]) >= 0x81 ? 2 : 1;
        ++characters;
    }
    if (i != gbk.size() || characters < 3 || gbk.size() - last != 2) return "";
    for (const char* s : suffixes) {
        if (gbk.substr(last) == s) return std::string(gbk.substr(0, last));
    }
    return "";
}

}  // namespace forecast
