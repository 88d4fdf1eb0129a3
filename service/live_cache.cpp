#include "service/live_cache.h"

#include <limits>
#include <nlohmann/json.hpp>

#include "service/gbk.h"
#include "service/query.h"

namespace forecast {
namespace {

using Json = nlohmann::json;

// A clock set back counts as the time having passed, so a wrong clock never freezes a city.
long long elapsed(long long now, long long since) {
    return now >= since ? now - since : std::numeric_limits<long long>::max();
}

}  // namespace

CacheDecision decide(const CityCache& city, long long now, const CachePolicy& policy) {
    CacheDecision d;
    d.today = static_cast<int>(floorDiv(now + city.utcOffset, 86400));
    d.serve = city.hasForecast && city.firstDay == d.today;
    if (city.placeState == CityCache::PlaceState::Unknown && now < city.unknownUntil) return d;
    if (city.attemptedAt == 0) {
        d.fetch = true;
    } else if (city.lastFailed) {
        d.fetch = elapsed(now, city.attemptedAt) >= policy.retrySeconds;
    } else {
        // A new day of the place's calendar needs a new forecast at once, whatever the period.
        d.fetch = !d.serve || elapsed(now, city.fetchedAt) >= policy.refreshSeconds;
    }
    return d;
}

bool DailyBudget::take(long long now, bool& reached) {
    reached = false;
    const long long today = floorDiv(now, 86400);
    if (today != day) {
        day = today;
        used = 0;
        refused = false;
    }
    if (used < limit) {
        ++used;
        return true;
    }
    reached = !refused;
    refused = true;
    return false;
}

std::string writePlaces(const KnownPlaces& known) {
    Json places = Json::object(), unknown = Json::object();
    std::string name;
    for (const auto& [gbk, place] : known.places) {
        if (gbkToUtf8(gbk, name)) places[name] = Json::array({place.latitude, place.longitude});
    }
    for (const auto& [gbk, until] : known.unknownUntil) {
        if (gbkToUtf8(gbk, name)) unknown[name] = until;
    }
    return Json{{"places", places}, {"unknown_until", unknown}}.dump(1) + "\n";
}

bool readPlaces(std::string_view text, KnownPlaces& out, std::string& error) {
    out = KnownPlaces{};
    Json root = Json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded() || !root.is_object()) return error = "not a JSON object", false;
    auto usable = [](const std::string& utf8, std::string& gbk) {
        return utf8ToGbk(utf8, gbk) && !gbk.empty() && gbk.size() <= kMaxCityBytes && isWellFormedGbk(gbk);
    };
    std::string gbk;
    auto places = root.find("places");
    if (places != root.end() && places->is_object()) {
        for (const auto& [name, value] : places->items()) {
            if (!usable(name, gbk) || !value.is_array() || value.size() != 2 || !value[0].is_number() ||
                !value[1].is_number()) {
                continue;
            }
            Place p{value[0].get<double>(), value[1].get<double>()};
            if (p.latitude >= -90 && p.latitude <= 90 && p.longitude >= -180 && p.longitude <= 180) {
                out.places[gbk] = p;
            }
        }
    }
    auto unknown = root.find("unknown_until");
    if (unknown != root.end() && unknown->is_object()) {
        for (const auto& [name, value] : unknown->items()) {
            if (usable(name, gbk) && value.is_number_integer()) out.unknownUntil[gbk] = value.get<long long>();
        }
    }
    return true;
}

}  // namespace forecast
