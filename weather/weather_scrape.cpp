// The scraper: three days of the forecast cut out of the result page by fixed markers.
// Page text in, fields out: no window, socket or file call.

#include "common/forecast_page.h"
#include "common/gbk_text.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <cstring>

namespace {

using namespace forecast_page;

constexpr size_t kIconNameLimit = 31;
constexpr size_t kTextLimit = 16;  // bytes of a description or a wind text

// The text from `from` up to its first '<' or its end.
size_t lengthBeforeTag(const char* from) { return std::strcspn(from, "<"); }

bool isTemperatureByte(char c) { return (c >= '0' && c <= '9') || c == '-'; }

}  // namespace

bool WeatherPanel::parsePage(const char* page) {
    if (!page) return false;
    const char* first = std::strstr(page, kDayStart);
    if (!first) return false;

    // The steps write straight into the forecast; what they replace is kept here, so that a
    // page that stops part-way cannot leave one day new and the next from an older query.
    DayForecast previousDays[3];
    char previousUrls[3][2][kIconUrlSize];
    std::memcpy(previousDays, days, sizeof days);
    std::memcpy(previousUrls, iconUrls, sizeof iconUrls);

    scanPos = first;
    bool complete = true;
    for (int day = 0; day < 3 && complete; ++day) {
        complete = scrapeIconUrl(day, false) && scrapeIconUrl(day, true) && scrapeTemperature(day) &&
                   scrapeDescription(day) && scrapeWind(day);
    }
    scanPos = nullptr;
    if (!complete) {
        std::memcpy(days, previousDays, sizeof days);
        std::memcpy(iconUrls, previousUrls, sizeof iconUrls);
    }
    return complete;
}

bool WeatherPanel::scrapeIconUrl(int day, bool night) {
    char url[kIconUrlSize] = "http://";
    const char* parts[] = {weatherHosts.icon, kIconPath, night ? kNightFolder : kDayFolder};
    size_t prefixLength = std::strlen(url);
    for (const char* part : parts) {
        const size_t length = strnlen(part, kIconUrlSize);
        if (prefixLength + length >= kIconUrlSize) return false;
        std::memcpy(url + prefixLength, part, length);
        prefixLength += length;
    }
    url[prefixLength] = '\0';

    const char* at = std::strstr(scanPos, url);
    if (!at) return false;
    scanPos = at;
    const char* name = at + prefixLength;
    size_t nameLength = std::strcspn(name, ".");
    nameLength = gbk::wholeCharacters(name, nameLength < kIconNameLimit ? nameLength : kIconNameLimit);
    // Whatever extension the page gives, the icon server has the GIF.
    const size_t urlLength = prefixLength + nameLength + sizeof kIconExtension - 1;
    if (urlLength >= kIconUrlSize) return false;
    std::memcpy(url + prefixLength, name, nameLength);
    std::memcpy(url + prefixLength + nameLength, kIconExtension, sizeof kIconExtension);
    std::memcpy(iconUrls[day][night ? 1 : 0], url, sizeof url);

    // One byte past the address as written in the page (past its closing quote when the
    // page's extension also has three letters), but never past the page's end.
    scanPos += strnlen(scanPos, urlLength + 1);
    return true;
}

bool WeatherPanel::scrapeTemperature(int day) {
    const char* marker = std::strstr(scanPos, kDegreesTilde);
    if (!marker) return false;
    // The temperature's digits stand right before the marker; the search looks no further
    // back than where this step began, which is always inside the page.
    const char* start = marker;
    for (int back = 3; back >= 1; --back) {
        if (marker - scanPos >= back && isTemperatureByte(marker[-back])) {
            start = marker - back;
            break;
        }
    }
    const size_t length = lengthBeforeTag(start);
    DayForecast& d = days[day];
    gbk::copyCut(d.temperature, sizeof d.temperature, start, length, sizeof d.temperature - 1);
    scanPos = start + length;
    return true;
}

bool WeatherPanel::scrapeDescription(int day) {
    while (*scanPos != '\0' && !isLeadByte(static_cast<unsigned char>(*scanPos))) ++scanPos;
    DayForecast& d = days[day];
    gbk::copyCut(d.description, sizeof d.description, scanPos, lengthBeforeTag(scanPos), kTextLimit);
    return true;
}

bool WeatherPanel::scrapeWind(int day) {
    const char* at = std::strstr(scanPos, kWindStart);
    if (!at) return false;
    scanPos = at + sizeof kWindStart - 1;
    DayForecast& d = days[day];
    gbk::copyCut(d.wind, sizeof d.wind, scanPos, lengthBeforeTag(scanPos), kTextLimit);
    return true;
}
