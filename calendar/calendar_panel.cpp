// Month conversion: from a Gregorian month to the lunar day of each of its days, the
// lunar months it touches and its two solar-term days. The only platform calls are the
// clock and the SYSTEMTIME/FILETIME conversions.

#include "calendar/calendar_panel.h"

#include "calendar/calendar_text.h"
#include "calendar/lunar_year_table.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iterator>
#include <utility>

namespace {

// Minutes from minor cold, the first term of a tropical year, to each of its 24 terms.
constexpr uint32_t kSolarTermMinutes[24] = {
    0,      21208,  42467,  63836,  85337,  107014, 128867, 150921, 173149, 195551, 218072, 240693,
    263343, 285989, 308563, 331033, 353350, 375494, 397447, 419210, 440795, 462224, 483532, 504758,
};

constexpr uint64_t kTropicalYear = 315569259747000ULL;  // 365.24219878125 days in 100 ns units
constexpr uint64_t kTermEpoch = 94359243000000000ULL;   // 1900-01-06 02:05 as a FILETIME
constexpr uint64_t kMinute = 600000000ULL;

// The term formula uses mean motion, so its instant can be a few hours off the true one.
// Where that moves a term across midnight China time, these entries put the day back
// where astronomical computation has it. Sorted by year, then term.
struct TermCorrection {
    uint16_t year;
    uint8_t term;
    int8_t days;
};

constexpr TermCorrection kTermCorrections[] = {
    {1909, 1, +1},
    {1910, 2, +1}, {1910, 6, +1},
    {1911, 8, +1},
    {1912, 0, +1}, {1912, 18, +1},
    {1917, 9, -1}, {1917, 22, +1},
    {1935, 10, -1},
    {1942, 1, +1},
    {1943, 2, +1}, {1943, 6, +1},
    {1945, 0, +1},
    {1947, 23, +1},
    {1950, 7, -1}, {1950, 22, +1},
    {1951, 23, +1},
    {1952, 5, +1},
    {1955, 13, -1},
    {1956, 3, +1},
    {1957, 20, +1},
    {1958, 12, -1}, {1958, 15, -1},
    {1960, 16, -1},
    {1961, 11, -1},
    {1973, 8, -1},
    {1974, 21, +1},
    {1975, 1, +1}, {1975, 17, -1},
    {1976, 2, +1},
    {1977, 4, +1}, {1977, 14, -1},
    {1978, 0, +1}, {1978, 21, +1},
    {1979, 9, -1},
    {1980, 2, +1}, {1980, 23, +1},
    {1981, 4, +1},
    {1982, 0, +1},
    {1983, 22, +1},
    {1984, 13, -1}, {1984, 23, +1},
    {1985, 5, +1},
    {1987, 12, -1},
    {1988, 13, -1},
    {1989, 3, +1}, {1989, 16, -1},
    {1990, 11, -1}, {1990, 20, +1},
    {1991, 12, -1}, {1991, 15, -1},
    {1994, 11, -1},
    {1997, 10, -1},
    {2006, 8, -1}, {2006, 14, -1},
    {2007, 21, +1},
    {2008, 1, +1}, {2008, 17, -1},
    {2009, 2, +1},
    {2010, 4, +1}, {2010, 14, -1},
    {2011, 0, +1}, {2011, 21, +1},
    {2012, 1, +1}, {2012, 9, -1}, {2012, 22, +1},
    {2013, 2, +1}, {2013, 13, -1}, {2013, 23, +1},
    {2014, 4, +1},
    {2015, 0, +1},
    {2016, 22, +1},
    {2017, 13, -1}, {2017, 23, +1},
    {2018, 3, +1}, {2018, 5, +1},
    {2019, 11, -1},
    {2020, 12, -1}, {2020, 15, -1}, {2020, 22, +1},
    {2022, 3, +1}, {2022, 16, -1},
    {2023, 11, -1}, {2023, 19, +1}, {2023, 20, +1},
    {2024, 15, -1},
    {2026, 10, -1},
    {2030, 10, -1},
    {2035, 8, -1}, {2035, 14, -1},
    {2037, 1, +1},
    {2039, 14, -1},
    {2040, 0, +1}, {2040, 18, +1}, {2040, 21, +1},
    {2041, 1, +1}, {2041, 9, -1},
    {2042, 2, +1},
    {2043, 4, +1}, {2043, 14, -1},
    {2044, 0, +1}, {2044, 21, +1},
    {2045, 1, +1}, {2045, 7, -1}, {2045, 9, -1}, {2045, 22, +1},
    {2046, 2, +1}, {2046, 13, -1}, {2046, 23, +1},
    {2047, 4, +1},
    {2048, 0, +1}, {2048, 11, -1},
    {2049, 12, -1}, {2049, 15, -1}, {2049, 22, +1},
    {2050, 13, -1}, {2050, 23, +1},
    {2051, 3, +1}, {2051, 16, -1},
    {2052, 11, -1},
    {2053, 12, -1}, {2053, 15, -1}, {2053, 22, +1},
    {2054, 23, +1},
    {2055, 3, +1}, {2055, 10, -1}, {2055, 16, -1},
    {2056, 11, -1}, {2056, 19, +1}, {2056, 20, +1},
    {2059, 3, +1}, {2059, 10, -1},
    {2063, 10, -1},
    {2068, 8, -1}, {2068, 14, -1},
    {2070, 1, +1}, {2070, 9, -1}, {2070, 17, -1},
    {2071, 2, +1}, {2071, 6, +1},
    {2072, 14, -1},
    {2073, 0, +1}, {2073, 21, +1},
    {2074, 1, +1}, {2074, 9, -1},
    {2075, 2, +1}, {2075, 13, -1}, {2075, 23, +1},
    {2076, 4, +1},
    {2077, 0, +1}, {2077, 21, +1},
    {2078, 1, +1}, {2078, 7, -1}, {2078, 12, -1}, {2078, 22, +1},
    {2079, 2, +1}, {2079, 13, -1}, {2079, 23, +1},
    {2080, 4, +1}, {2080, 5, +1},
    {2081, 0, +1}, {2081, 11, -1},
    {2082, 1, +1}, {2082, 12, -1}, {2082, 15, -1}, {2082, 22, +1},
    {2083, 13, -1}, {2083, 23, +1},
    {2084, 3, +1}, {2084, 16, -1},
    {2085, 11, -1},
    {2086, 12, -1}, {2086, 15, -1}, {2086, 22, +1},
    {2087, 23, +1},
    {2088, 3, +1}, {2088, 10, -1}, {2088, 16, -1},
    {2089, 11, -1}, {2089, 19, +1}, {2089, 20, +1},
    {2092, 3, +1}, {2092, 10, -1},
    {2097, 14, -1},
};

int termCorrection(unsigned year, unsigned term) {
    const auto less = [](const TermCorrection& c, std::pair<unsigned, unsigned> key) {
        return c.year < key.first || (c.year == key.first && c.term < key.second);
    };
    const auto* end = std::end(kTermCorrections);
    const auto* it = std::lower_bound(std::begin(kTermCorrections), end, std::make_pair(year, term), less);
    return it != end && it->year == year && it->term == term ? it->days : 0;
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

    std::memset(todayText, 0, sizeof todayText);
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) {
        std::strftime(todayText, sizeof todayText, calendar_text::kTodayFormat, local);
    }

    SYSTEMTIME today;
    GetLocalTime(&today);
    todayYear = today.wYear;
    todayMonth = today.wMonth;
    todayDay = today.wDay;
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
        const uint64_t t = (viewYear - kFirstYear) * kTropicalYear + kTermEpoch + solarTermMinutes[k] * kMinute;
        FILETIME instant;
        instant.dwLowDateTime = static_cast<DWORD>(t);
        instant.dwHighDateTime = static_cast<DWORD>(t >> 32);
        SYSTEMTIME when{};
        FileTimeToSystemTime(&instant, &when);
        solarTermDay[n] = static_cast<uint8_t>(when.wDay + termCorrection(viewYear, k));
    }
}
