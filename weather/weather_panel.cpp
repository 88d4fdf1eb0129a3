// The panel's refresh: the query, the page, the icon downloads.

#include "weather/weather_panel.h"

#include "common/forecast_page.h"
#include "common/gbk_text.h"
#include "net/http_fetcher.h"
#include "net/url_parts.h"
#include "weather/weather_hosts.h"
#include "weather/weather_text.h"

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
    if (city[0] != '\0' && std::strcmp(city, given) == 0 && !force) return true;
    std::memcpy(city, given, sizeof city);

    char encoded[kEncodedCitySize];
    char url[UrlParts::kUrlSize] = "http://";
    if (!UrlParts::percentEncode(city, encoded) || !append(url, sizeof url, weatherHosts.search) ||
        !append(url, sizeof url, kQueryStart) || !append(url, sizeof url, encoded) ||
        !append(url, sizeof url, kQueryMiddle) || !append(url, sizeof url, encoded)) {
        return false;
    }

    {
        std::unique_ptr<char[]> page(new (std::nothrow) char[kPageSize]());
        if (!page) return false;
        HttpFetcher pageFetcher;
        const bool fetched = pageFetcher.download(url, forecast_page::kTableMarker, page.get(), kPageSize);
        pageFetcher.close();
        if (!fetched || !parsePage(page.get())) return false;
    }
    std::memcpy(forecastCity, city, sizeof forecastCity);

    if (pictureFolder[0] == '\0') return false;
    char prefixes[2][kPrefixSize] = {};
    const char* words[2] = {kDayWord, kNightWord};
    for (int i = 0; i < 2; ++i) {
        if (!append(prefixes[i], kPrefixSize, pictureFolder) || !append(prefixes[i], kPrefixSize, words[i])) {
            return false;
        }
    }

    HttpFetcher iconFetcher;
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
                return false;
            }
            std::memset(path, 0, sizeof days[day].dayIconPath);
            std::memcpy(path, iconFetcher.savedPath(), std::strlen(iconFetcher.savedPath()));
            Sleep(kIconPauseMs);
        }
    }
    iconFetcher.close();
    loadIcons();
    return invalidate();
}
