// The page scraper on any page and icon host: all or nothing; after a complete page each text is
// a bounded piece of the page, each icon address the day or night prefix, a name and ".gif".

#include "common/forecast_page.h"
#include "common/gbk_text.h"
#include "fuzz/fuzz_check.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// Terminated within `size` bytes, at most `longest` of them whole characters, no tag, in `page`.
bool piece(const char* field, size_t size, size_t longest, const std::string& page) {
    const size_t length = strnlen(field, size);
    return length < size && length <= longest && gbk::wholeCharacters(field, length) == length &&
           !std::strchr(field, '<') && page.find(field) != std::string::npos;
}

void checkIconUrl(const char* url, bool night, const std::string& page) {
    const std::string prefix = std::string("http://") + weatherHosts.icon + forecast_page::kIconPath +
                               (night ? forecast_page::kNightFolder : forecast_page::kDayFolder);
    FUZZ_CHECK(std::memchr(url, 0, WeatherPanel::kIconUrlSize) &&
               std::strncmp(url, prefix.c_str(), prefix.size()) == 0);
    const std::string name(url + prefix.size()), stem = name.substr(0, name.size() < 4 ? 0 : name.size() - 4);
    FUZZ_CHECK(name == stem + ".gif" && stem.find('.') == std::string::npos);
    FUZZ_CHECK(stem.size() <= 31 && gbk::wholeCharacters(stem.data(), stem.size()) == stem.size());
    FUZZ_CHECK(page.find(prefix + stem) != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An input that starts with a 0x01 byte names an icon host on its first line.
    static const WeatherHosts builtIn = weatherHosts;
    weatherHosts = builtIn;
    if (size > 0 && data[0] == 1) {
        const uint8_t* lineEnd = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
        const size_t hostEnd = lineEnd ? static_cast<size_t>(lineEnd - data) : size;
        ExactBuffer host(hostEnd - 1, data + 1, true);
        FUZZ_CHECK(setWeatherHost(weatherHosts.icon, host.get()) == isWeatherHost(host.get()));
        data += hostEnd;
        size -= hostEnd;
    }
    ExactBuffer page(size, data, true);
    const std::string text(page.get());

    std::unique_ptr<WeatherPanel> panel(new WeatherPanel);  // on the heap: a write past it shows
    std::memset(panel->days, 'o', sizeof panel->days);      // old values, to show what is written
    std::memset(panel->iconUrls, 'o', sizeof panel->iconUrls);
    const auto old = [](const auto& field) {
        const char* bytes = reinterpret_cast<const char*>(&field);
        return std::count(bytes, bytes + sizeof field, 'o') == static_cast<long>(sizeof field);
    };
    const bool complete = panel->parsePage(page.get());
    FUZZ_CHECK(panel->scanPos == nullptr);
    if (!complete) return FUZZ_CHECK(old(panel->days) && old(panel->iconUrls)), 0;
    for (const DayForecast& d : panel->days) {
        FUZZ_CHECK(old(d.dayName) && old(d.dayIconPath) && old(d.nightIconPath));
        FUZZ_CHECK(piece(d.temperature, sizeof d.temperature, sizeof d.temperature - 1, text) &&
                   piece(d.description, sizeof d.description, 16, text) && piece(d.wind, sizeof d.wind, 16, text));
    }
    for (const auto& urls : panel->iconUrls) {
        for (bool night : {false, true}) checkIconUrl(urls[night], night, text);
    }
    return 0;
}
