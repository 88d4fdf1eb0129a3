// The page scraper on any page: after a complete one each text is a bounded piece of the page and
// each icon address the day or night prefix, a name and ".gif"; no write reaches another field.

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

void checkIconUrl(const char* url, bool night) {
    const std::string prefix = std::string("http://") + weatherHosts.icon + forecast_page::kIconPath +
                               (night ? forecast_page::kNightFolder : forecast_page::kDayFolder);
    FUZZ_CHECK(std::memchr(url, 0, WeatherPanel::kIconUrlSize) &&
               std::strncmp(url, prefix.c_str(), prefix.size()) == 0);
    const std::string name(url + prefix.size()), stem = name.substr(0, name.size() < 4 ? 0 : name.size() - 4);
    FUZZ_CHECK(name == stem + ".gif" && stem.find('.') == std::string::npos && stem.size() <= 31 &&
               gbk::wholeCharacters(stem.data(), stem.size()) == stem.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExactBuffer page(size, data, true);
    const std::string text(page.get());
    std::unique_ptr<WeatherPanel> panel(new WeatherPanel);  // on the heap: a write past it shows
    std::memset(panel->days, 'o', sizeof panel->days);      // and a write past a text into the next field
    const auto old = [](const auto& field) {
        return std::count(field, field + sizeof field, 'o') == long(sizeof field);
    };
    if (!panel->parsePage(page.get())) return 0;  // what an incomplete page leaves is the unit tests' part
    for (const DayForecast& d : panel->days) {
        FUZZ_CHECK(old(d.dayName) && old(d.dayIconPath) && old(d.nightIconPath));
        FUZZ_CHECK(piece(d.temperature, sizeof d.temperature, sizeof d.temperature - 1, text) &&
                   piece(d.description, sizeof d.description, 16, text) && piece(d.wind, sizeof d.wind, 16, text));
    }
    for (const auto& urls : panel->iconUrls)
        for (bool night : {false, true}) checkIconUrl(urls[night], night);
    return 0;
}
