// Month conversion: from a Gregorian month to the lunar day of each of its days, the
// lunar months it touches and its two solar-term days. The only platform calls are the
// clock and the SYSTEMTIME/FILETIME conversions.

#include "calendar/calendar_panel.h"

#include "calendar/calendar_text.h"
#include "calendar/lunar_year_table.h"
#include "calendar/solar_term.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>

namespace {

// Minutes from minor cold, the first term of a tropical year, to each of its 24 terms.
constexpr uint32_t kSolarTermMinutes[24] = {
    0,      21208,  42467,  63836,  85337,  107014, 128867, 150921, 173149, 195551, 218072, 240693,
    263343, 285989, 308563, 331033, 353350, 375494, 397447, 419210, 440795, 462224, 483532, 504758,
};

// The today line of `date`, zero-filled to the end of the field.
void formatTodayText(char (&text)[32], const std::tm& date) {
    std::memset(text, 0, sizeof text);
    std::strftime(text, sizeof text, calendar_text::kTodayFormat, &date);
}

}  // namespace

CalendarPanel::CalendarPanel() {
    std::copy(std::begin(lunar_year_table::kWords), std::end(lunar_year_table::kWords), yearTable);
    constexpr uint8_t kMonthLengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::copy(std::begin(kMonthLengths), std::end(kMonthLengths), monthLengths);
    std::copy(std::begin(kSolarTermMinutes), std::end(kSolarTermMinutes), solarTermMinutes);

    std::memset(lunarLabelText, '0', sizeof lunarLabelText);
    std::fill(std::begin(colors), std::end(colors), COLORREF{0x00C95E3F});
    originX = 30;
    originY = 0;

    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) formatTodayText(todayText, *local);

    SYSTEMTIME today;
    GetLocalTime(&today);
    todayYear = today.wYear;
    todayMonth = today.wMonth;
    todayDay = today.wDay;
}

bool CalendarPanel::rollToday(uint16_t year, uint16_t month, uint16_t day) {
    if (year == todayYear && month == todayMonth && day == todayDay) return false;
    const bool todayOnShow = ready && viewYear == todayYear && viewMonth == todayMonth;
    todayYear = year;
    todayMonth = month;
    todayDay = day;
    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    formatTodayText(todayText, date);
    if (todayOnShow) setViewMonth(year, month);
    invalidate();  // the box and the today line move even when the month stays
    return true;
}

bool CalendarPanel::setViewMonth(uint16_t year, uint16_t month) {
    if (month == viewMonth && year == viewYear) return true;
    if (year > kLastYear || year < kFirstYear) return false;
    if (year != viewYear) {
        viewYear = year;
        loadLunarYear(year);
    }

    SYSTEMTIME first;
    if (!normalizeDate(year, month, 1, first)) return false;
    viewMonth = first.wMonth;
    firstWeekday = first.wDayOfWeek;
    daysInMonth = static_cast<uint16_t>(daysInGregorianMonth(viewMonth));

    computeNewYearOffsets();
    if (!computeLunarDays()) return false;
    computeSolarTermDays();
    buildDayLabels();

    ready = true;
    invalidate();
    return true;
}

bool CalendarPanel::normalizeDate(uint16_t year, uint16_t month, uint16_t day, SYSTEMTIME& out) {
    out = SYSTEMTIME{};
    out.wYear = year < kFirstYear || year > kLastYear ? kFirstYear : year;
    out.wMonth = month < 1 || month > 12 ? 12 : month;
    out.wDay = day < 1 || day > daysInGregorianMonth(out.wMonth) ? 1 : day;

    // The round trip through FILETIME is what fills in the weekday.
    FILETIME instant;
    return SystemTimeToFileTime(&out, &instant) && FileTimeToSystemTime(&instant, &out);
}

void CalendarPanel::computeNewYearOffsets() {
    std::fill(std::begin(newYearOffset), std::end(newYearOffset), uint16_t{0});
    const unsigned nm = newYearMonth;
    const unsigned nd = newYearDay;
    // Months up to the new-year month count days forward to new year's day; later months
    // count days from it (day 0) to their 1st.
    for (unsigned m = 1; m < nm; ++m) newYearOffset[m] = static_cast<uint16_t>(daysInGregorianMonth(m) + nd - 1);
    if (nm < 1 || nm > 11) return;
    newYearOffset[nm] = static_cast<uint16_t>(nd - 1);
    newYearOffset[nm + 1] = static_cast<uint16_t>(daysInGregorianMonth(nm) - nd + 1);
    for (unsigned m = nm + 2; m <= 12; ++m) {
        newYearOffset[m] = static_cast<uint16_t>(newYearOffset[m - 1] + daysInGregorianMonth(m - 1));
    }
}

bool CalendarPanel::computeLunarDays() {
    std::memset(lunarDayOf, 0, sizeof lunarDayOf);
    std::memset(lunarMonthsInView, 0, sizeof lunarMonthsInView);

    // A month after the new-year month lies wholly in the loaded lunar year; an earlier
    // one starts in the window of months around the new year.
    const uint8_t* sizes = lunarMonthDays;
    const uint8_t* numbers = lunarMonthNumber;
    unsigned count = 13;
    int day = newYearOffset[viewMonth] + 1;
    if (viewMonth <= newYearMonth) {
        sizes = boundaryMonthDays;
        numbers = boundaryMonthNumber;
        count = 4;
        day = boundaryMonthDays[0] + boundaryMonthDays[1] - newYearOffset[viewMonth] + 1;
    }

    unsigned k = 0;
    while (k < count && day > sizes[k]) day -= sizes[k++];
    if (k == count || day < 1) return false;  // only a corrupt table word gets here

    firstLunarDay = static_cast<uint16_t>(day);
    lunarMonthsInView[0] = numbers[k];
    unsigned slot = 0;
    unsigned i = 0;
    while (i < daysInMonth) {
        lunarDayOf[i++] = static_cast<uint8_t>(day++);
        if (day > sizes[k]) {
            day = 1;
            if (++k == count) break;
            if (++slot < 4) lunarMonthsInView[slot] = numbers[k];
        }
    }
    return i == daysInMonth;
}

void CalendarPanel::computeSolarTermDays() {
    std::memset(solarTermDay, 0, sizeof solarTermDay);
    for (unsigned n = 0; n < 2; ++n) {
        const unsigned k = 2 * viewMonth - 2 + n;
        const uint64_t t = solarTermInstant(viewYear, solarTermMinutes[k]);
        FILETIME instant;
        instant.dwLowDateTime = static_cast<DWORD>(t);
        instant.dwHighDateTime = static_cast<DWORD>(t >> 32);
        SYSTEMTIME when{};
        FileTimeToSystemTime(&instant, &when);
        solarTermDay[n] = static_cast<uint8_t>(when.wDay + solarTermCorrection(viewYear, k));
    }
}
