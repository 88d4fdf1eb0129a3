// A hand-edited settings line: the city read whole GBK characters; printed again each part keeps
// to any room, and the printed line reads back as the same values (the limits are the unit rows').

#include "fuzz/fuzz_check.h"
#include "common/gbk_text.h"
#include "settings/settings_line.h"

#include <algorithm>
#include <cstdint>

using namespace settings_line;

namespace {

struct Values {
    LineHead head;
    CalendarRecord calendar{};
    WeatherRecord weather{};
};

// The values in `size` bytes at `text`, read from a block of exactly that size.
Values read(const void* text, size_t size) {
    ExactBuffer line(size, text);
    Values v{parseHead(line.get(), size)};
    if (v.head.calendarAt < size)
        parseCalendarRecord(line.get() + v.head.calendarAt, size - v.head.calendarAt, v.calendar);
    if (v.head.weatherAt < size) parseWeatherRecord(line.get() + v.head.weatherAt, size - v.head.weatherAt, v.weather);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Values v = read(data, size);
    const size_t city = strnlen(v.weather.city, kCitySize);
    FUZZ_CHECK(city < kCitySize && gbk::wholeCharacters(v.weather.city, city) == city);

    char line[kLineSize];
    size_t length = 0;
    const size_t room = size % 96;
    const auto print = [&](auto format) {
        const size_t full = format(line + length, sizeof line - length), kept = room ? std::min(full, room - 1) : 0;
        ExactBuffer cut(room, nullptr);
        FUZZ_CHECK(format(cut.get(), room) == kept && (room == 0 || cut.get()[kept] == '\0'));
        FUZZ_CHECK(std::memcmp(cut.get(), line + length, kept) == 0);
        length += full;
    };
    print([&](char* out, size_t n) { return formatHead(v.head.autostartEnabled, v.head.trayIconShown, out, n); });
    print([&](char* out, size_t n) { return formatCalendarRecord(v.calendar, out, n); });
    print([&](char* out, size_t n) { return formatWeatherRecord(v.weather, out, n); });
    const Values back = read(line, length);
    if (!back.head.usable) return 0;  // a line this short is ignored by design
    FUZZ_CHECK(back.head.autostartEnabled == v.head.autostartEnabled &&
               back.head.trayIconShown == v.head.trayIconShown);
    FUZZ_CHECK(std::memcmp(&back.calendar, &v.calendar, sizeof v.calendar) == 0 &&
               std::memcmp(&back.weather, &v.weather, sizeof v.weather) == 0);
    return 0;
}
