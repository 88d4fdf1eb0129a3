// The lunar year table and its decoding. Pure arithmetic: no platform calls.

#include "calendar/calendar_panel.h"

namespace {

bool isGregorianLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint8_t monthSize(uint32_t word, unsigned bit) { return (word >> bit) & 1 ? 30 : 29; }

}  // namespace

bool CalendarPanel::loadLunarYear(uint16_t year) {
    monthLengths[0] = isGregorianLeapYear(year) ? 1 : 0;

    const uint32_t w = yearTable[year - kFirstYear];
    yearWordHigh = static_cast<uint16_t>(w >> 16);
    yearWordLow = static_cast<uint16_t>(w & 0xFFFF);
    newYearMonth = (w >> 13) & 0x3;
    newYearDay = (w >> 8) & 0x1F;

    leapMonth = (w >> 16) & 0xF;
    for (unsigned j = 1; j <= 12; ++j) {
        lunarMonthDays[j - 1] = monthSize(w, 32 - j);
        lunarMonthNumber[j - 1] = static_cast<uint8_t>(j);
    }
    lunarMonthDays[12] = 0;
    lunarMonthNumber[12] = 0;
    // The table holds leap months 2..10 only; the bound keeps a bad word inside the lists.
    if (leapMonth != 0 && leapMonth <= 12) {
        leapMonthDays = monthSize(w, 15);
        for (unsigned i = 12; i > leapMonth; --i) {
            lunarMonthDays[i] = lunarMonthDays[i - 1];
            lunarMonthNumber[i] = lunarMonthNumber[i - 1];
        }
        lunarMonthDays[leapMonth] = leapMonthDays;
        lunarMonthNumber[leapMonth] = static_cast<uint8_t>(0x80 + leapMonth);
    }

    prevLeapMonth = w & 0xF;
    boundaryMonthDays[0] = monthSize(w, 5);
    boundaryMonthNumber[0] = 11;
    boundaryMonthDays[1] = monthSize(w, 4);
    boundaryMonthNumber[1] = 12;
    if (prevLeapMonth == 11) {
        boundaryMonthDays[0] = monthSize(w, 7);
        boundaryMonthNumber[0] = 0x80 + 11;
    }
    boundaryMonthDays[2] = lunarMonthDays[0];
    boundaryMonthNumber[2] = 1;
    boundaryMonthDays[3] = lunarMonthDays[1];
    boundaryMonthNumber[3] = 2;
    return true;
}

unsigned CalendarPanel::daysInGregorianMonth(unsigned month) const {
    return monthLengths[month] + (month == 2 ? monthLengths[0] : 0);
}
