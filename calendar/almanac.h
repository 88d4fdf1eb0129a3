#pragma once
// The calendar read as an almanac: the festivals, the sexagenary names of the year, month and
// day, the year's animal and the lunar date in words, for the days of the month the engine
// has converted. Integers and GBK bytes only; nothing here calls the platform.

#include <cstddef>
#include <cstdint>

class CalendarPanel;

namespace almanac {

// By lunar date (never on a day of a leap month), the eve of new year's day, and the
// clear-and-bright solar term. Their names are calendar_text::kFestival.
enum Festival : uint8_t {
    kNoFestival,
    kSpringFestival,   // 1-1
    kLanternFestival,  // 1-15
    kDragonHead,       // 2-2
    kDragonBoat,       // 5-5
    kQixi,             // 7-7
    kGhostFestival,    // 7-15
    kMidAutumn,        // 8-15
    kDoubleNinth,      // 9-9
    kLaba,             // 12-8
    kLittleNewYear,    // 12-23
    kNewYearsEve,      // the last day of month 12, the eve of 1-1
    kQingming,         // the day of solar term 6
};

constexpr int kNoTerm = -1;

// One day. A cycle is a place in the sexagenary cycle, 0 (甲子) to 59 (癸亥): stem cycle
// mod 10, branch cycle mod 12.
struct Day {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t weekday;     // 0 = Sunday
    uint16_t lunarYear;  // turns on new year's day (1-1)
    uint8_t lunarMonth;  // 1..12, 0x80 + n for the leap month after month n
    uint8_t lunarDay;    // 1..30
    int8_t solarTerm;    // 0..23 (calendar_text::kSolarTerm), or kNoTerm
    uint8_t festival;    // Festival
    uint8_t yearCycle;   // of the lunar year
    uint8_t monthCycle;  // turns on the first term of each Gregorian month; start of spring begins 寅
    uint8_t dayCycle;
};

// Every day of the month `panel` shows into `days`; returns how many (0 before the panel has
// shown a month). Costs one walk over the month's days.
unsigned describeMonth(const CalendarPanel& panel, Day (&days)[31]);
// Day `day` of the month `panel` shows; false, leaving `out`, for a day outside it.
bool describeDay(const CalendarPanel& panel, unsigned day, Day& out);

// The texts below are GBK, zero-terminated, cut at a whole character to fit `size` bytes;
// each returns the number of bytes written before the terminator.

// Two characters: the stem and branch of `cycle`.
size_t cycleName(unsigned cycle, char* out, size_t size);

// How describe lays a day out: as the lines of a tip (date and weekday; the lunar date with
// the year's animal, 农历丙午年 (马) 十月廿九, a leap month as 闰四月; the solar term and
// festival, when there are any), separated by CR LF, or as one line that adds the month's
// and the day's names between the lunar date and the term.
enum class Layout { tipLines, oneLine };
size_t describe(const Day& day, Layout layout, char* out, size_t size);

}  // namespace almanac
