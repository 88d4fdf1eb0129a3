// The settings line, hand-edited into anything. Each input is read twice. As a line: the
// parsers read nothing past its given size (it sits unterminated in a block of exactly
// that size), point at separators inside it, and keep the city terminated, at most 15
// bytes and free of half GBK characters, and the origins within their limits. As the
// values of a line the writer could have written: printing them and reading the line back
// gives the same values, and each printer stays inside any buffer size it is given.

#include "fuzz/fuzz_check.h"
#include "settings/settings_line.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

using namespace settings_line;

namespace {

bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

bool cityHolds(const WeatherRecord& record) {
    const void* end = std::memchr(record.city, 0, sizeof record.city);
    if (!end) return false;
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - record.city);
    size_t i = 0;
    while (i < length) i += isLeadByte(static_cast<unsigned char>(record.city[i])) ? 2 : 1;
    return i == length;
}

bool originHolds(int32_t origin) { return origin >= -kOriginLimit && origin <= kOriginLimit; }

void checkLine(const uint8_t* data, size_t size) {
    ExactBuffer line(data, size);
    const char* text = line.get();
    const LineHead head = parseHead(text, size);
    const size_t length = strnlen(text, size);
    FUZZ_CHECK(head.usable == (length >= kShortestUsable));
    if (head.calendarAt != LineHead::kMissing) {
        FUZZ_CHECK(head.autostartRead && head.trayRead);
        FUZZ_CHECK(head.calendarAt < length && text[head.calendarAt] == '/');
        CalendarRecord calendar{};
        FUZZ_CHECK(parseCalendarRecord(text + head.calendarAt, size - head.calendarAt, calendar));
        FUZZ_CHECK(originHolds(calendar.originX) && originHolds(calendar.originY));
    }
    if (head.weatherAt != LineHead::kMissing) {
        FUZZ_CHECK(head.weatherAt > head.calendarAt && head.weatherAt < length && text[head.weatherAt] == '/');
        WeatherRecord weather{};
        std::memset(weather.city, 'o', sizeof weather.city);  // no terminator until the parser writes one
        FUZZ_CHECK(parseWeatherRecord(text + head.weatherAt, size - head.weatherAt, weather));
        FUZZ_CHECK(originHolds(weather.originX) && originHolds(weather.originY) && cityHolds(weather));
    }
}

// Takes the values of a line from the input's bytes, zero once they run out.
class Values {
public:
    Values(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | byte();
        return value;
    }
    int32_t origin() { return static_cast<int32_t>(word() % (2 * kOriginLimit + 1)) - kOriginLimit; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Prints into a block of exactly `capacity` bytes; the printed length and text must be the
// full one cut to the block.
template <class Print>
void checkPrinter(Print print, const std::string& full, size_t capacity) {
    ExactBuffer out(capacity);
    const size_t length = print(out.get(), capacity);
    if (capacity == 0) return FUZZ_CHECK(length == 0 && out.untouched());
    FUZZ_CHECK(length == std::min(full.size(), capacity - 1));
    FUZZ_CHECK(std::memcmp(out.get(), full.c_str(), length) == 0 && out.get()[length] == '\0');
}

void checkRoundTrip(const uint8_t* data, size_t size) {
    Values values(data, size);
    const int32_t autostart = static_cast<int32_t>(values.word());
    const int32_t tray = static_cast<int32_t>(values.word());
    CalendarRecord calendar{values.origin(), values.origin(), {}};
    for (uint32_t& color : calendar.colors) color = values.word();
    WeatherRecord weather{values.origin(), values.origin(), values.word(), {}};
    // A city as the panel holds one: up to 15 bytes of whole characters, any byte but zero.
    const size_t cityLength = values.byte() % kCitySize;
    std::string city;
    while (city.size() < cityLength) {
        const char c = static_cast<char>(values.byte() | 1);
        const bool lead = isLeadByte(static_cast<unsigned char>(c));
        if (lead && city.size() + 2 > cityLength) break;
        city += c;
        if (lead) city += static_cast<char>(values.byte() | 1);
    }
    city.copy(weather.city, sizeof weather.city - 1);

    char head[kLineSize], calendarText[kRecordSize], weatherText[kRecordSize];
    formatHead(autostart, tray, head, sizeof head);
    formatCalendarRecord(calendar, calendarText, sizeof calendarText);
    formatWeatherRecord(weather, weatherText, sizeof weatherText);
    const std::string line = std::string(head) + calendarText + weatherText;
    FUZZ_CHECK(line.size() < kLineSize);

    const size_t capacity = values.byte() % 96;
    checkPrinter([&](char* out, size_t n) { return formatHead(autostart, tray, out, n); }, head, capacity);
    checkPrinter([&](char* out, size_t n) { return formatCalendarRecord(calendar, out, n); }, calendarText, capacity);
    checkPrinter([&](char* out, size_t n) { return formatWeatherRecord(weather, out, n); }, weatherText, capacity);

    ExactBuffer text(line.data(), line.size());  // as read from the file: no terminator
    const LineHead parsed = parseHead(text.get(), line.size());
    if (!parsed.usable) return;  // a line this short is ignored by design
    FUZZ_CHECK(parsed.autostartRead && parsed.autostartEnabled == autostart);
    FUZZ_CHECK(parsed.trayRead && parsed.trayIconShown == tray);
    FUZZ_CHECK(parsed.calendarAt == std::strlen(head));
    FUZZ_CHECK(parsed.weatherAt == std::strlen(head) + std::strlen(calendarText));

    CalendarRecord calendarBack{};
    FUZZ_CHECK(parseCalendarRecord(text.get() + parsed.calendarAt, line.size() - parsed.calendarAt, calendarBack));
    FUZZ_CHECK(std::memcmp(&calendarBack, &calendar, sizeof calendar) == 0);
    WeatherRecord weatherBack{};
    FUZZ_CHECK(parseWeatherRecord(text.get() + parsed.weatherAt, line.size() - parsed.weatherAt, weatherBack));
    FUZZ_CHECK(weatherBack.originX == weather.originX && weatherBack.originY == weather.originY &&
               weatherBack.textColor == weather.textColor && std::strcmp(weatherBack.city, weather.city) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkLine(data, size);
    checkRoundTrip(data, size);
    return 0;
}
