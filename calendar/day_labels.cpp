// The two texts of every day cell: the Gregorian number and a two-character lunar label
// (a solar term, a lunar month name or a lunar day name). Pure byte work.

#include "calendar/calendar_panel.h"

#include "calendar/calendar_text.h"

#include <cstring>

namespace {

void putPair(char* label, const char* first, const char* second) {
    std::memcpy(label, first, 2);
    std::memcpy(label + 2, second, 2);
}

// Day 20 is 廿日 and day 30 卅日: the prefix with digit entry 0, not 二十 or 三十.
void putLunarDayName(char* label, unsigned d) {
    using namespace calendar_text;
    if (d <= 10) {
        putPair(label, kDayPrefix[0], kDigit[d]);
    } else if (d < 20) {
        putPair(label, kDayPrefix[1], kDigit[d - 10]);
    } else if (d < 30) {
        putPair(label, kDayPrefix[2], kDigit[d - 20]);
    } else {
        putPair(label, kDayPrefix[3], kDigit[0]);
    }
}

}  // namespace

bool CalendarPanel::buildDayLabels() {
    using namespace calendar_text;
    unsigned termCounter = 2;
    // The month that begins on a lunar day 1 is the next unused slot of lunarMonthsInView;
    // slot 0 is the month of the 1st unless the 1st itself begins a month.
    unsigned monthSlot = firstLunarDay == 1 ? 0 : 1;

    for (unsigned i = 0; i < daysInMonth && i < 32; ++i) {
        const unsigned dayNumber = i + 1;
        dayNumberText[i][0] = static_cast<char>(dayNumber < 10 ? '0' + dayNumber : '0' + dayNumber / 10);
        dayNumberText[i][1] = static_cast<char>(dayNumber < 10 ? 0 : '0' + dayNumber % 10);

        char* label = lunarLabelText[i];
        const unsigned d = lunarDayOf[i];
        const unsigned monthBegun = d == 1 && monthSlot < 4 ? lunarMonthsInView[monthSlot] : 0;
        if (d == 1) ++monthSlot;

        if (dayNumber == solarTermDay[0] || dayNumber == solarTermDay[1]) {
            std::memcpy(label, kSolarTerm[(2 * viewMonth - termCounter) % 24], 4);
            --termCounter;
        } else if ((monthBegun & 0x7F) >= 1 && (monthBegun & 0x7F) <= 10) {
            if (monthBegun & 0x80) {
                putPair(label, kLeap, kDigit[monthBegun & 0x7F]);
            } else {
                putPair(label, kDigit[monthBegun], kMonth);
            }
        } else if (d >= 1 && d <= 30) {
            putLunarDayName(label, d);
        }
    }
    return true;
}
