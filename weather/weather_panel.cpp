// The panel's refresh: the query, the page, the icon downloads.

#include "weather/weather_panel.h"

#include "common/forecast_page.h"
#include "common/gbk_text.h"
#include "net/http_fetcher.h"
#include "net/url_parts.h"
#include "weather/weather_hosts.h"
#include "weather/weather_text.h"
#include "weather/weather_worker.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char kQueryStart[] = "/s?bs=%CC%EC%C6%F8%D4%A4%B1%A8+";     // 天气预报 and a blank
constexpr char kQueryMiddle[] = "&f=8&wd=%CC%EC%C6%F8%D4%A4%B1%A8+";  // the same words again
constexpr int kPageSize = static_cast<int>(forecast_page::kReadingWindow);
constexpr size_t kEncodedCitySize = 3 * (WeatherPanel::kCitySize - 1) + 4;
constexpr size_t kPrefixSize = 256;
constexpr DWORD kIconPauseMs = 100;
constexpr DWORD kStopPollMs = 20;

constexpr size_t kQueryUrlLength = sizeof "http://" - 1 + (kWeatherHostSize - 1) + sizeof kQueryStart - 1 +
                                   2 * (kEncodedCitySize - 1) + sizeof kQueryMiddle - 1;
static_assert(kQueryUrlLength < UrlParts::kUrlSize, "the longest query fits the fetcher's URL limit");
static_assert(kQueryUrlLength - (sizeof "http://" - 1) - (kWeatherHostSize - 1) <=
                  static_cast<size_t>(HttpFetcher::kMaxPathLength),
              "and its path the request line");

// Appends `text` to the zero-terminated `out` of `size` bytes; false, leaving `out` as it
// was, when it does not fit.
bool append(char* out, size_t size, const char* text) {
    const size_t used = strnlen(out, size);
    const size_t length = std::strlen(text);
    if (used + length >= size) return false;
    std::memcpy(out + used, text, length + 1);
    return true;
}

}  // namespace

bool WeatherPanel::refresh(const char* newCity, bool force) {
    if (!newCity) return false;
    char given[kCitySize];
    gbk::copyCut(given, sizeof given, newCity, strnlen(newCity, sizeof given), sizeof given - 1);
    std::memcpy(city, given, sizeof city);
    // Compared with the city on show, not the last one asked for: a city typed again after
    // its query failed is queried again. The city on show wins over any query still on its way.
    if (forecastCity[0] != '\0' && std::strcmp(forecastCity, given) == 0 && !force) {
        weatherWorker.forget();
        return true;
    }
    if (weatherWorker.request(*this)) return true;
    return commit(*this, fetchForecast(weatherHosts.search, nullptr));
}

WeatherPanel::Fetched WeatherPanel::fetchForecast(const char* searchHost, const std::atomic<bool>* stop) {
    const auto stopped = [stop] { return stop && stop->load(); };
    char encoded[kEncodedCitySize];
    char url[UrlParts::kUrlSize] = "http://";
    if (!UrlParts::percentEncode(city, encoded) || !append(url, sizeof url, searchHost) ||
        !append(url, sizeof url, kQueryStart) || !append(url, sizeof url, encoded) ||
        !append(url, sizeof url, kQueryMiddle) || !append(url, sizeof url, encoded)) {
        return Fetched::nothing;
    }

    {
        std::unique_ptr<char[]> page(new (std::nothrow) char[kPageSize]());
        if (!page) return Fetched::nothing;
        HttpFetcher pageFetcher;
        pageFetcher.stopOn(stop);
        const bool fetched = pageFetcher.download(url, forecast_page::kTableMarker, page.get(), kPageSize);
        pageFetcher.close();
        if (!fetched || stopped() || !parsePage(page.get())) return Fetched::nothing;
    }

    if (pictureFolder[0] == '\0') return Fetched::texts;
    char prefixes[2][kPrefixSize] = {};
    const char* words[2] = {kDayWord, kNightWord};
    for (int i = 0; i < 2; ++i) {
        if (!append(prefixes[i], kPrefixSize, pictureFolder) || !append(prefixes[i], kPrefixSize, words[i])) {
            return Fetched::texts;
        }
    }

    HttpFetcher iconFetcher;
    iconFetcher.stopOn(stop);
    for (int day = 0; day < 3; ++day) {
        for (int night = 0; night < 2; ++night) {
            char* path = night ? days[day].nightIconPath : days[day].dayIconPath;
            // The path must fit its field before anything is saved under it: a cut name
            // would name another file.
            UrlParts parts;
            const bool fits =
                parts.parse(iconUrls[day][night]) &&
                std::strlen(prefixes[night]) + std::strlen(parts.fileName()) < sizeof days[day].dayIconPath;
            if (!fits || !iconFetcher.download(iconUrls[day][night], prefixes[night], nullptr, 0)) {
                iconFetcher.close();
                return Fetched::texts;
            }
            std::memset(path, 0, sizeof days[day].dayIconPath);
            std::memcpy(path, iconFetcher.savedPath(), std::strlen(iconFetcher.savedPath()));
            // The pause between icons, cut short by a stop.
            for (DWORD waited = 0; waited < kIconPauseMs && !stopped(); waited += kStopPollMs) Sleep(kStopPollMs);
            if (stopped()) {
                iconFetcher.close();
                return Fetched::texts;
            }
        }
    }
    iconFetcher.close();
    return Fetched::all;
}

bool WeatherPanel::commit(const WeatherPanel& from, Fetched fetched) {
    if (fetched == Fetched::nothing) return false;
    if (&from != this) {
        std::memcpy(days, from.days, sizeof days);
        std::memcpy(iconUrls, from.iconUrls, sizeof iconUrls);
    }
    std::memcpy(forecastCity, from.city, sizeof forecastCity);
    if (fetched == Fetched::all) loadIcons();
    invalidate();
    return fetched == Fetched::all;
}
