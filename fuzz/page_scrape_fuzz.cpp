// The page scraper on any page text, with the icon host as the environment may set it.
// Beyond what the sanitizers catch (the page sits in a block that ends at its terminator):
// all or nothing, so a page that falls short leaves every field as it was; after a complete
// page each text is terminated, within its limit, a piece of the page and free of half GBK
// characters, and each icon address is the icon server's day or night prefix, a name of at
// most 31 bytes of whole characters and ".gif".

#include "common/forecast_page.h"
#include "common/gbk_text.h"
#include "fuzz/fuzz_check.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <cstdint>
#include <string>

namespace {

bool whole(const std::string& text) { return gbk::wholeCharacters(text.data(), text.size()) == text.size(); }

void checkText(const char* field, size_t size, size_t longest, const std::string& page) {
    FUZZ_CHECK(std::memchr(field, 0, size) != nullptr);
    const std::string text(field);
    FUZZ_CHECK(text.size() <= longest && whole(text) && text.find('<') == std::string::npos);
    FUZZ_CHECK(page.find(text) != std::string::npos);
}

void checkIconUrl(const char* url, bool night, const std::string& page) {
    FUZZ_CHECK(std::memchr(url, 0, WeatherPanel::kIconUrlSize) != nullptr);
    const std::string prefix = std::string("http://") + weatherHosts.icon + forecast_page::kIconPath +
                               (night ? forecast_page::kNightFolder : forecast_page::kDayFolder);
    const std::string text(url);
    FUZZ_CHECK(text.compare(0, prefix.size(), prefix) == 0 && text.size() >= prefix.size() + 4);
    FUZZ_CHECK(text.compare(text.size() - 4, 4, ".gif") == 0);
    const std::string name = text.substr(prefix.size(), text.size() - prefix.size() - 4);
    FUZZ_CHECK(name.size() <= 31 && whole(name) && name.find('.') == std::string::npos);
    FUZZ_CHECK(page.find(prefix + name) != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An input that starts with a 0x01 byte names an icon host on its first line.
    static const WeatherHosts builtIn = weatherHosts;
    weatherHosts = builtIn;
    if (size > 0 && data[0] == 1) {
        const uint8_t* lineEnd = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
        const size_t hostEnd = lineEnd ? static_cast<size_t>(lineEnd - data) : size;
        ExactBuffer host = terminatedCopy(data + 1, hostEnd - 1);
        FUZZ_CHECK(setWeatherHost(weatherHosts.icon, host.get()) == isWeatherHost(host.get()));
        data += hostEnd;
        size -= hostEnd;
    }
    ExactBuffer page = terminatedCopy(data, size);
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
        checkText(d.temperature, sizeof d.temperature, sizeof d.temperature - 1, text);
        checkText(d.description, sizeof d.description, 16, text);
        checkText(d.wind, sizeof d.wind, 16, text);
    }
    for (const auto& urls : panel->iconUrls) {
        checkIconUrl(urls[0], false, text);
        checkIconUrl(urls[1], true, text);
    }
    return 0;
}
