#pragma once
// The settings line taken apart and put together: bytes and integers only, no window,
// file or registry call. The line is three records, each opening with '/':
//
//     /autostart/tray  /calX,calY,c0,c1,c2,c3,c4  /weatherX,weatherY,textColor,city
//
// with every number a signed decimal and the city the raw GBK bytes to the end of the
// line. Parsing reads over values the caller has already filled in, so whatever the text
// does not reach keeps the value it had.

#include <cstddef>
#include <cstdint>

namespace settings_line {

constexpr size_t kLineSize = 260;    // the whole line, terminator included
constexpr size_t kRecordSize = 128;  // one panel's record, terminator included
constexpr size_t kCitySize = 16;     // at most 15 bytes and the terminator
// A line this long or shorter is ignored, even when it is well formed.
constexpr size_t kShortestUsable = 33;
// Positions beyond this are clamped, so panel arithmetic on them can never overflow.
constexpr int32_t kOriginLimit = 1000000;

struct CalendarRecord {
    int32_t originX;
    int32_t originY;
    uint32_t colors[5];
};

struct WeatherRecord {
    int32_t originX;
    int32_t originY;
    uint32_t textColor;
    char city[kCitySize];
};

// Where the head of a line leaves its two flags and the two records.
struct LineHead {
    static constexpr size_t kMissing = static_cast<size_t>(-1);
    bool usable = false;  // longer than 32 bytes; otherwise the defaults apply
    bool autostartRead = false;
    bool trayRead = false;
    int32_t autostartEnabled = 0;
    int32_t trayIconShown = 0;
    size_t calendarAt = kMissing;  // offset of the calendar record's '/'
    size_t weatherAt = kMissing;   // offset of the weather record's '/'
};

// Reads a decimal number as atoi does (leading blanks, an optional sign, digits; none
// gives 0) from `text` up to `end`, clamping a value outside the int32 range to its limit.
int32_t readNumber(const char* text, const char* end);

// The line is `text` up to its first NUL or `size` bytes, whichever comes first; nothing
// beyond is read.
LineHead parseHead(const char* text, size_t size);
// `text` starts at the calendar record's '/' and runs to the end of the line. False, with
// `record` unchanged, when there is no '/'.
bool parseCalendarRecord(const char* text, size_t size, CalendarRecord& record);
// `text` starts at the weather record's '/'. The city is everything after the third ','
// (empty when there is none), cut to 15 bytes at a character boundary. False, with
// `record` unchanged, when there is no '/'.
bool parseWeatherRecord(const char* text, size_t size, WeatherRecord& record);

// Each prints one part of the line into `out` (at least `capacity` bytes) and returns its
// length; the three appended in order make the line. A colour prints as the signed
// decimal of its 32-bit value.
size_t formatHead(int32_t autostartEnabled, int32_t trayIconShown, char* out, size_t capacity);
size_t formatCalendarRecord(const CalendarRecord& record, char* out, size_t capacity);
size_t formatWeatherRecord(const WeatherRecord& record, char* out, size_t capacity);

}  // namespace settings_line
