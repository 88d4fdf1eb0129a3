// The settings line: text in, values out, and back. Every search is bounded by the end
// of the line, so no hand-edited line can make it read past the text it was given.

#include "settings/settings_line.h"

#include "common/ascii.h"
#include "common/gbk_text.h"

#include <cstdio>
#include <cstring>

namespace settings_line {

namespace {

const char* lineEnd(const char* text, size_t size) {
    const void* nul = std::memchr(text, 0, size);
    return nul ? static_cast<const char*>(nul) : text + size;
}

// The first `wanted` at or after `from`, or null. `from` may lie past `end`: a field at
// the very end of the line has no second byte to start the next search at.
const char* find(const char* from, const char* end, char wanted) {
    if (from >= end) return nullptr;
    const void* at = std::memchr(from, wanted, static_cast<size_t>(end - from));
    return static_cast<const char*>(at);
}

int32_t readOrigin(const char* text, const char* end) {
    const int32_t value = readNumber(text, end);
    if (value > kOriginLimit) return kOriginLimit;
    if (value < -kOriginLimit) return -kOriginLimit;
    return value;
}

size_t printed(int result, size_t capacity) {
    if (result < 0 || capacity == 0) return 0;
    const size_t length = static_cast<size_t>(result);
    return length < capacity ? length : capacity - 1;
}

}  // namespace

int32_t readNumber(const char* text, const char* end) {
    const char* p = text;
    while (p < end && ascii::isBlank(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // Saturates one past the int32 range, so any run of digits ends clamped.
    constexpr uint64_t kCap = uint64_t{INT32_MAX} + 1;
    const ascii::Digits digits = ascii::readDigits(p, end, 10, kCap);
    int64_t value = static_cast<int64_t>(digits.exceeds ? kCap : digits.value);
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    return static_cast<int32_t>(value);  // -kCap is INT32_MIN itself
}

LineHead parseHead(const char* text, size_t size) {
    LineHead head;
    const char* end = lineEnd(text, size);
    if (static_cast<size_t>(end - text) < kShortestUsable) return head;
    head.usable = true;

    // Each search starts at the second byte of the number just read, so an empty field
    // (two '/' in a row) shifts the fields after it, as it always has.
    const char* slash = find(text, end, '/');
    if (!slash) return head;
    head.autostartEnabled = readNumber(slash + 1, end);
    head.autostartRead = true;

    slash = find(slash + 2, end, '/');
    if (!slash) return head;
    head.trayIconShown = readNumber(slash + 1, end);
    head.trayRead = true;

    slash = find(slash + 2, end, '/');
    if (!slash) return head;
    head.calendarAt = static_cast<size_t>(slash - text);

    slash = find(slash + 1, end, '/');
    if (!slash) return head;
    head.weatherAt = static_cast<size_t>(slash - text);
    return head;
}

bool parseCalendarRecord(const char* text, size_t size, CalendarRecord& record) {
    const char* end = lineEnd(text, size);
    const char* slash = find(text, end, '/');
    if (!slash) return false;
    record.originX = readOrigin(slash + 1, end);
    const char* comma = find(slash + 1, end, ',');
    if (!comma) return true;
    record.originY = readOrigin(comma + 1, end);
    comma = find(comma + 1, end, ',');
    if (!comma) return true;
    // The search runs on to the end of the line: after the fifth colour it may find the
    // weather record's first ',', which the loop never uses.
    const char* at = comma + 1;
    for (uint32_t& color : record.colors) {
        color = static_cast<uint32_t>(readNumber(at, end));
        comma = find(at, end, ',');
        if (!comma) break;
        at = comma + 1;
    }
    return true;
}

bool parseWeatherRecord(const char* text, size_t size, WeatherRecord& record) {
    const char* end = lineEnd(text, size);
    const char* slash = find(text, end, '/');
    if (!slash) return false;
    std::memset(record.city, 0, sizeof record.city);
    record.originX = readOrigin(slash + 1, end);
    const char* comma = find(slash + 1, end, ',');
    if (comma) {
        record.originY = readOrigin(comma + 1, end);
        comma = find(comma + 1, end, ',');
    }
    if (comma) {
        record.textColor = static_cast<uint32_t>(readNumber(comma + 1, end));
        comma = find(comma + 1, end, ',');
    }
    // The city runs to the end of the line, so it may itself hold ',' and '/'.
    if (comma) {
        const size_t length = static_cast<size_t>(end - comma - 1);
        gbk::copyCut(record.city, sizeof record.city, comma + 1, length, sizeof record.city - 1);
    }
    return true;
}

size_t formatHead(int32_t autostartEnabled, int32_t trayIconShown, char* out, size_t capacity) {
    return printed(
        std::snprintf(out, capacity, "/%d/%d", static_cast<int>(autostartEnabled), static_cast<int>(trayIconShown)),
        capacity);
}

size_t formatCalendarRecord(const CalendarRecord& record, char* out, size_t capacity) {
    const auto n = [](uint32_t color) { return static_cast<int>(static_cast<int32_t>(color)); };
    return printed(std::snprintf(out, capacity, "/%d,%d,%d,%d,%d,%d,%d", static_cast<int>(record.originX),
                                 static_cast<int>(record.originY), n(record.colors[0]), n(record.colors[1]),
                                 n(record.colors[2]), n(record.colors[3]), n(record.colors[4])),
                   capacity);
}

size_t formatWeatherRecord(const WeatherRecord& record, char* out, size_t capacity) {
    const int cityLength = static_cast<int>(strnlen(record.city, sizeof record.city - 1));
    return printed(std::snprintf(out, capacity, "/%d,%d,%d,%.*s", static_cast<int>(record.originX),
                                 static_cast<int>(record.originY),
                                 static_cast<int>(static_cast<int32_t>(record.textColor)), cityLength, record.city),
                   capacity);
}

}  // namespace settings_line
