// The settings line, hand-edited into anything. Each input is read twice. As a line, sitting
// unterminated in a block of exactly its size: the parsers read nothing past it and keep the
// origins within their limits and the city terminated, without half a GBK character. As the
// values of a line the writer could have written: each printer stays inside any room it is
// given, and reading the printed line back gives the same values.

#include "fuzz/fuzz_check.h"
#include "common/gbk_text.h"
#include "settings/settings_line.h"

#include <cstdint>
#include <string>

using namespace settings_line;

namespace {

bool originHolds(int32_t origin) { return origin >= -kOriginLimit && origin <= kOriginLimit; }

void checkLine(const uint8_t* data, size_t size) {
    ExactBuffer line(size, data);
    const LineHead head = parseHead(line.get(), size);
    if (head.calendarAt != LineHead::kMissing) {
        CalendarRecord calendar{};
        FUZZ_CHECK(head.calendarAt < size &&
                   parseCalendarRecord(line.get() + head.calendarAt, size - head.calendarAt, calendar));
        FUZZ_CHECK(originHolds(calendar.originX) && originHolds(calendar.originY));
    }
    if (head.weatherAt != LineHead::kMissing) {
        WeatherRecord weather{};
        std::memset(weather.city, 'o', sizeof weather.city);  // no terminator until the parser writes one
        FUZZ_CHECK(head.weatherAt < size &&
                   parseWeatherRecord(line.get() + head.weatherAt, size - head.weatherAt, weather));
        const size_t city = strnlen(weather.city, kCitySize);
        FUZZ_CHECK(originHolds(weather.originX) && originHolds(weather.originY) && city < kCitySize &&
                   gbk::wholeCharacters(weather.city, city) == city);
    }
}

// The values of a line, from the input's bytes (zero where it runs out).
struct Values {
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
    // A city as the panel holds one: whole characters, no zero.
    std::memcpy(weather.city, v.city, gbk::wholeCharacters(v.city, strnlen(v.city, sizeof v.city)));

    const size_t room = v.room % 96;
    std::string line;
    const auto print = [&](auto format) {
        char full[kLineSize];
        const size_t length = format(full, sizeof full);
        ExactBuffer cut(room);
        FUZZ_CHECK(format(cut.get(), room) == (room ? std::min(length, room - 1) : 0));
        FUZZ_CHECK(room == 0 || (std::memcmp(cut.get(), full, std::min(length, room - 1)) == 0 &&
                                 cut.get()[std::min(length, room - 1)] == '\0'));
        line.append(full, length);
    };
    print([&](char* out, size_t n) { return formatHead(v.autostart, v.tray, out, n); });
    const size_t calendarAt = line.size();
    print([&](char* out, size_t n) { return formatCalendarRecord(calendar, out, n); });
    const size_t weatherAt = line.size();
    print([&](char* out, size_t n) { return formatWeatherRecord(weather, out, n); });
    FUZZ_CHECK(line.size() < kLineSize);

    ExactBuffer text(line.size(), line.data());  // as read from the file: no terminator
    const LineHead head = parseHead(text.get(), line.size());
    if (!head.usable) return;  // a line this short is ignored by design
    FUZZ_CHECK(head.autostartEnabled == v.autostart && head.trayIconShown == v.tray);
    FUZZ_CHECK(head.calendarAt == calendarAt && head.weatherAt == weatherAt);
    CalendarRecord calendarBack{};
    WeatherRecord weatherBack{};
    FUZZ_CHECK(parseCalendarRecord(text.get() + calendarAt, line.size() - calendarAt, calendarBack) &&
               std::memcmp(&calendarBack, &calendar, sizeof calendar) == 0);
    FUZZ_CHECK(parseWeatherRecord(text.get() + weatherAt, line.size() - weatherAt, weatherBack) &&
               std::memcmp(&weatherBack, &weather, sizeof weather) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkLine(data, size);
    checkRoundTrip(data, size);
    return 0;
}
