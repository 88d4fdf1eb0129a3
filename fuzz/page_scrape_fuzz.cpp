// The page scraper on any page text, and the icon host it looks for as the environment may
// set it. Beyond what the sanitizers catch (the page sits in a
// block that ends at its terminator), each input checks WeatherPanel::parsePage's promises:
// all or nothing, so a page that falls short leaves every scraped field as it was; and
// after a complete page every field is terminated inside its array, no text is longer than
// its limit or holds half a GBK character, each text is a piece of the page, and each icon
// address is the icon server's day or night prefix, a name and ".gif".

#include "common/forecast_page.h"
#include "fuzz/fuzz_check.h"
#include "common/gbk_text.h"
#include "net/url_parts.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Old values in every field the scraper writes, so that a field it should not touch shows.
void fillWithOldValues(WeatherPanel& panel) {
    for (DayForecast& day : panel.days) {
        std::memset(&day, 'o', sizeof day);
        day.dayName[sizeof day.dayName - 1] = day.temperature[sizeof day.temperature - 1] = '\0';
        day.description[sizeof day.description - 1] = day.wind[sizeof day.wind - 1] = '\0';
        day.dayIconPath[sizeof day.dayIconPath - 1] = day.nightIconPath[sizeof day.nightIconPath - 1] = '\0';
    }
    for (auto& urls : panel.iconUrls) {
        for (char* url : urls) std::strcpy(url, "old");
    }
}

// Terminated within `size`, at most `longest` bytes, no half character, a piece of `page`.
void checkText(const char* field, size_t size, size_t longest, const std::string& page) {
    const void* end = std::memchr(field, 0, size);
    FUZZ_CHECK(end != nullptr);
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - field);
    FUZZ_CHECK(length <= longest);
    FUZZ_CHECK(gbk::wholeCharacters(field, length) == length);
    FUZZ_CHECK(std::strchr(field, '<') == nullptr);
    FUZZ_CHECK(page.find(field) != std::string::npos);
}

void checkIconUrl(const char* url, bool night, const std::string& page) {
    FUZZ_CHECK(std::memchr(url, 0, WeatherPanel::kIconUrlSize) != nullptr);
    const std::string prefix = std::string("http://") + weatherHosts.icon + forecast_page::kIconPath +
                               (night ? forecast_page::kNightFolder : forecast_page::kDayFolder);
    const std::string text(url);
    FUZZ_CHECK(text.compare(0, prefix.size(), prefix) == 0);
    FUZZ_CHECK(text.size() >= prefix.size() + 4 && text.compare(text.size() - 4, 4, ".gif") == 0);
    const std::string name = text.substr(prefix.size(), text.size() - prefix.size() - 4);
    FUZZ_CHECK(name.size() <= 31 && name.find('.') == std::string::npos);
    FUZZ_CHECK(gbk::wholeCharacters(name.data(), name.size()) == name.size());
    FUZZ_CHECK(page.find(prefix + name) != std::string::npos);
}

// An icon host from the environment: when accepted, it makes a URL that splits back into
// that host and port. Replaces the icon host for this input when accepted.
void takeIconHost(const std::string& value) {
    ExactBuffer text = terminatedCopy(value.data(), value.size());
    const bool accepted = setWeatherHost(weatherHosts.icon, text.get());
    FUZZ_CHECK(accepted == isWeatherHost(text.get()));
    FUZZ_CHECK(std::memchr(weatherHosts.icon, 0, kWeatherHostSize) != nullptr);
    if (!accepted) return;
    const std::string host(text.get());
    FUZZ_CHECK(host == weatherHosts.icon);
    UrlParts parts;
    FUZZ_CHECK(parts.parse(("http://" + host + "/x.gif").c_str()));
    const size_t colon = host.find(':');
    FUZZ_CHECK(host.compare(0, colon, parts.host()) == 0);
    FUZZ_CHECK(parts.port() == (colon == std::string::npos ? 80 : std::atoi(host.c_str() + colon + 1)));
    FUZZ_CHECK(parts.port() != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An input that starts with a 0x01 byte names an icon host on its first line.
    static const WeatherHosts builtIn = weatherHosts;
    weatherHosts = builtIn;
    if (size > 0 && data[0] == 1) {
        const uint8_t* lineEnd = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
        const size_t hostEnd = lineEnd ? static_cast<size_t>(lineEnd - data) : size;
        takeIconHost(std::string(reinterpret_cast<const char*>(data) + 1, hostEnd - 1));
        data += hostEnd;
        size -= hostEnd;
    }
    ExactBuffer page = terminatedCopy(data, size);
    const std::string text(page.get());

    std::unique_ptr<WeatherPanel> panel(new WeatherPanel);  // on the heap: a write past it shows
    fillWithOldValues(*panel);
    std::unique_ptr<WeatherPanel> before(new WeatherPanel);
    fillWithOldValues(*before);

    const bool complete = panel->parsePage(page.get());
    FUZZ_CHECK(panel->scanPos == nullptr);
    if (!complete) {
        FUZZ_CHECK(std::memcmp(panel->days, before->days, sizeof panel->days) == 0);
        FUZZ_CHECK(std::memcmp(panel->iconUrls, before->iconUrls, sizeof panel->iconUrls) == 0);
        return 0;
    }
    for (int day = 0; day < 3; ++day) {
        const DayForecast& d = panel->days[day];
        FUZZ_CHECK(std::memcmp(d.dayName, before->days[day].dayName, sizeof d.dayName) == 0);
        checkText(d.temperature, sizeof d.temperature, sizeof d.temperature - 1, text);
        checkText(d.description, sizeof d.description, 16, text);
        checkText(d.wind, sizeof d.wind, 16, text);
        FUZZ_CHECK(std::memcmp(d.dayIconPath, before->days[day].dayIconPath, sizeof d.dayIconPath) == 0);
        FUZZ_CHECK(std::memcmp(d.nightIconPath, before->days[day].nightIconPath, sizeof d.nightIconPath) == 0);
        checkIconUrl(panel->iconUrls[day][0], false, text);
        checkIconUrl(panel->iconUrls[day][1], true, text);
    }
    return 0;
}
