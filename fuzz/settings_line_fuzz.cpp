// A hand-edited settings line: each part printed again keeps to any room (what the values are, the
// city's cut and that they read back are the unit rows' part; the cut is fuzzed with the page's texts).

#include "fuzz/fuzz_check.h"
#include "settings/settings_line.h"

#include <algorithm>
#include <cstdint>

using namespace settings_line;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExactBuffer text(size, data);  // exactly `size` bytes, unterminated
    const LineHead head = parseHead(text.get(), size);
    CalendarRecord calendar{};
    WeatherRecord weather{};
    if (head.calendarAt < size) parseCalendarRecord(text.get() + head.calendarAt, size - head.calendarAt, calendar);
    if (head.weatherAt < size) parseWeatherRecord(text.get() + head.weatherAt, size - head.weatherAt, weather);

    // Each part in full, then into a room of its own: the same bytes as far as they fit, terminated.
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
    print([&](char* out, size_t n) { return formatHead(head.autostartEnabled, head.trayIconShown, out, n); });
    print([&](char* out, size_t n) { return formatCalendarRecord(calendar, out, n); });
    print([&](char* out, size_t n) { return formatWeatherRecord(weather, out, n); });
    return 0;
}
