// The settings line, hand-edited into anything, read from a block of exactly its size: the
// origins stay within their limits and the city terminated, without half a GBK character. And
// the input's bytes as the values of a line: each printer keeps to any room it is given, and
// the printed line reads back as the same values.

#include "fuzz/fuzz_check.h"
#include "common/gbk_text.h"
#include "settings/settings_line.h"

#include <cstdint>
#include <string>

using namespace settings_line;

namespace {

bool holds(int32_t origin) { return origin >= -kOriginLimit && origin <= kOriginLimit; }

void checkLine(const uint8_t* data, size_t size) {
    ExactBuffer line(size, data);
    const LineHead head = parseHead(line.get(), size);
    CalendarRecord calendar{};
    WeatherRecord weather{};
    if (head.calendarAt < size) parseCalendarRecord(line.get() + head.calendarAt, size - head.calendarAt, calendar);
    if (head.weatherAt < size) parseWeatherRecord(line.get() + head.weatherAt, size - head.weatherAt, weather);
    const size_t city = strnlen(weather.city, kCitySize);
    FUZZ_CHECK(holds(calendar.originX) && holds(calendar.originY) && holds(weather.originX) && holds(weather.originY));
    FUZZ_CHECK(city < kCitySize && gbk::wholeCharacters(weather.city, city) == city);
}

struct Values {  // zero where the input runs out
    int32_t autostart, tray;
    uint32_t origins[4], colors[6];
    uint8_t room;
    char city[kCitySize - 1];
};

void checkRoundTrip(const uint8_t* data, size_t size) {
    Values v{};
    std::memcpy(&v, data, std::min(size, sizeof v));
    const auto origin = [](uint32_t raw) { return static_cast<int32_t>(raw % (2 * kOriginLimit + 1)) - kOriginLimit; };
    CalendarRecord calendar{origin(v.origins[0]), origin(v.origins[1]), {}};
    std::memcpy(calendar.colors, v.colors, sizeof calendar.colors);
    WeatherRecord weather{origin(v.origins[2]), origin(v.origins[3]), v.colors[5], {}};
    std::memcpy(weather.city, v.city, gbk::wholeCharacters(v.city, strnlen(v.city, sizeof v.city)));

    const size_t room = v.room % 96;
    std::string line;
    const auto print = [&](auto format) {
        char full[kLineSize];
        const size_t length = format(full, sizeof full), kept = room ? std::min(length, room - 1) : 0;
        ExactBuffer cut(room);
        FUZZ_CHECK(format(cut.get(), room) == kept && (room == 0 || cut.get()[kept] == '\0'));
        FUZZ_CHECK(std::memcmp(cut.get(), full, kept) == 0);
        line.append(full, length);
    };
    print([&](char* out, size_t n) { return formatHead(v.autostart, v.tray, out, n); });
    print([&](char* out, size_t n) { return formatCalendarRecord(calendar, out, n); });
    print([&](char* out, size_t n) { return formatWeatherRecord(weather, out, n); });

    ExactBuffer text(line.size(), line.data());  // as read from the file: no terminator
    const LineHead head = parseHead(text.get(), line.size());
    if (!head.usable) return;  // a line this short is ignored by design
    CalendarRecord calendarBack{};
    WeatherRecord weatherBack{};
    parseCalendarRecord(text.get() + head.calendarAt, line.size() - head.calendarAt, calendarBack);
    parseWeatherRecord(text.get() + head.weatherAt, line.size() - head.weatherAt, weatherBack);
    FUZZ_CHECK(head.autostartEnabled == v.autostart && head.trayIconShown == v.tray);
    FUZZ_CHECK(std::memcmp(&calendarBack, &calendar, sizeof calendar) == 0 &&
               std::memcmp(&weatherBack, &weather, sizeof weather) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkLine(data, size);
    checkRoundTrip(data, size);
    return 0;
}
