// The almanac of a converted month: everything is read off the fields that setViewMonth
// filled (lunar days, the lunar months in view, new year's day, the term days), so it costs
// one walk over the month and no second conversion.

#include "calendar/almanac.h"

#include "calendar/calendar_panel.h"
#include "calendar/calendar_text.h"
#include "common/lead_byte.h"

#include <iterator>

namespace almanac {
namespace {

using namespace calendar_text;

constexpr unsigned kLeapBit = 0x80;
constexpr unsigned kClearAndBright = 6;  // the solar term that is also a festival

// Days from 1 January 1900 to the 1st of `month` of `year`.
unsigned daysSince1900(unsigned year, unsigned month) {
    constexpr unsigned kBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const auto leapDaysBefore = [](unsigned y) { return (y - 1) / 4 - (y - 1) / 100 + (y - 1) / 400; };
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return 365 * (year - 1900) + leapDaysBefore(year) - leapDaysBefore(1900) + kBeforeMonth[month - 1] +
           (leap && month > 2 ? 1 : 0);
}

// 1 January 1900 was a 甲戌 day (cycle 10); 1984 a 甲子 year. The 寅 month that start of
// spring 1900 began was 戊寅 (cycle 14): its year, 庚子, is a 庚 year, whose first month has
// the stem 戊.
constexpr unsigned kDayCycleOf1900 = 10;
constexpr unsigned kYearCycleOffset = 56;  // (year + 56) mod 60 puts 1984 on 0
constexpr int kMonthCycleOf1900 = 14;

// The festivals fixed to a lunar date, as month * 100 + day.
struct LunarFestival {
    uint16_t date;
    uint8_t festival;
};
constexpr LunarFestival kByLunarDate[] = {
    {101, kSpringFestival}, {115, kLanternFestival}, {202, kDragonHead},  {505, kDragonBoat}, {707, kQixi},
    {715, kGhostFestival},  {815, kMidAutumn},       {909, kDoubleNinth}, {1208, kLaba},      {1223, kLittleNewYear},
};

unsigned festivalOf(unsigned lunarMonth, unsigned lunarDay, bool eveOfNewYear, int solarTerm) {
    if (!(lunarMonth & kLeapBit)) {
        for (const LunarFestival& f : kByLunarDate) {
            if (f.date == lunarMonth * 100 + lunarDay) return f.festival;
        }
        if (lunarMonth == 12 && eveOfNewYear) return kNewYearsEve;
    }
    return solarTerm == static_cast<int>(kClearAndBright) ? kQingming : kNoFestival;
}

// Appends text to a bounded buffer, always terminated. What does not fit is cut at the end,
// between characters, and nothing after it is written.
class Writer {
public:
    Writer(char* out, size_t size) : out_(out), size_(size) {
        if (size_ > 0) out_[0] = '\0';
    }
    void put(const char* text) {
        while (*text != '\0' && !full_) {
            const size_t unit = isLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0' ? 2 : 1;
            full_ = used_ + unit >= size_;
            if (full_) return;
            for (size_t i = 0; i < unit; ++i) out_[used_++] = *text++;
            out_[used_] = '\0';
        }
    }
    void putNumber(unsigned value) {
        char digits[12];
        char* at = std::end(digits);
        *--at = '\0';
        do {
            *--at = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        put(at);
    }
    size_t used() const { return used_; }

private:
    char* out_;
    size_t size_;
    size_t used_ = 0;
    bool full_ = false;
};

void putCycle(Writer& w, unsigned cycle) {
    w.put(kStem[cycle % 10]);
    w.put(kBranch[cycle % 12]);
}

// 正月 二月 ... 十月 冬月 腊月, 闰 before a leap month.
void putLunarMonth(Writer& w, unsigned code) {
    if (code & kLeapBit) w.put(kLeap);
    const unsigned n = code & ~kLeapBit;
    w.put(n == 1 ? kFirstMonth : n == 11 ? kWinterMonth : n == 12 ? kLastMonth : n <= 10 ? kDigit[n] : "");
    w.put(kMonth);
}

// 初一 ... 初十, 十一 ... 十九, 二十, 廿一 ... 廿九, 三十: in words days 20 and 30 are spelt out,
// where the grid's two-character cells write 廿日 and 卅日.
void putLunarDay(Writer& w, unsigned d) {
    if (d == 20 || d == 30) {
        w.put(kDigit[d / 10]);
        w.put(kDigit[10]);
    } else if (d >= 1 && d < 30) {
        w.put(kDayPrefix[(d - 1) / 10]);
        w.put(kDigit[d <= 10 ? d : d % 10]);
    }
}

// 农历, the year's stem and branch and its animal, the month and the day.
void putLunarDate(Writer& w, const Day& day) {
    w.put(kLunarCalendar);
    putCycle(w, day.yearCycle);
    w.put(kYear);
    w.put(" (");
    w.put(kAnimal[day.yearCycle % 12]);
    w.put(") ");
    putLunarMonth(w, day.lunarMonth);
    putLunarDay(w, day.lunarDay);
}

// The solar term and the festival, one space apart; clear and bright once, being both.
void putTermAndFestival(Writer& w, const Day& day) {
    if (day.solarTerm >= 0 && day.solarTerm < 24) w.put(kSolarTerm[day.solarTerm]);
    if (day.festival == kNoFestival || day.festival == kQingming || day.festival >= std::size(kFestival)) return;
    if (day.solarTerm >= 0) w.put(" ");
    w.put(kFestival[day.festival]);
}

}  // namespace

unsigned describeMonth(const CalendarPanel& panel, Day (&days)[31]) {
    if (!panel.ready) return 0;
    const unsigned year = panel.viewYear;
    const unsigned month = panel.viewMonth;
    const unsigned count = panel.daysInMonth < std::size(days) ? panel.daysInMonth : std::size(days);
    // Month and day as one number, to compare with new year's day of the loaded year.
    const auto key = [](unsigned m, unsigned d) { return m * 32 + d; };
    const unsigned newYear = key(panel.newYearMonth, panel.newYearDay);
    // Months counted from the 寅 month of 1900; the first term of the month turns it.
    const int monthsBeforeTerm = 12 * static_cast<int>(year - 1900) + static_cast<int>(month) - 3;
    const unsigned firstDayCycle = (daysSince1900(year, month) + kDayCycleOf1900) % 60;

    unsigned slot = 0;
    unsigned lunarMonth = panel.lunarMonthsInView[0];
    for (unsigned i = 0; i < count; ++i) {
        const unsigned d = i + 1;
        // A lunar month that begins within the month takes the next slot.
        if (i > 0 && panel.lunarDayOf[i] == 1 && slot + 1 < std::size(panel.lunarMonthsInView)) {
            lunarMonth = panel.lunarMonthsInView[++slot];
        }
        Day& out = days[i];
        out.year = static_cast<uint16_t>(year);
        out.month = static_cast<uint8_t>(month);
        out.day = static_cast<uint8_t>(d);
        out.weekday = static_cast<uint8_t>((panel.firstWeekday + i) % 7);
        out.lunarYear = static_cast<uint16_t>(key(month, d) < newYear ? year - 1 : year);
        out.lunarMonth = static_cast<uint8_t>(lunarMonth);
        out.lunarDay = panel.lunarDayOf[i];
        out.solarTerm = static_cast<int8_t>(d == panel.solarTermDay[0]   ? 2 * month - 2
                                            : d == panel.solarTermDay[1] ? 2 * month - 1
                                                                         : kNoTerm);
        const unsigned next = d < count ? key(month, d + 1) : key(month + 1, 1);
        out.festival = static_cast<uint8_t>(festivalOf(lunarMonth, out.lunarDay, next == newYear, out.solarTerm));
        out.yearCycle = static_cast<uint8_t>((out.lunarYear + kYearCycleOffset) % 60);
        const int months = monthsBeforeTerm + (d >= panel.solarTermDay[0] ? 1 : 0);
        out.monthCycle = static_cast<uint8_t>((months + kMonthCycleOf1900 + 60) % 60);
        out.dayCycle = static_cast<uint8_t>((firstDayCycle + i) % 60);
    }
    return count;
}

bool describeDay(const CalendarPanel& panel, unsigned day, Day& out) {
    Day days[31];
    const unsigned count = describeMonth(panel, days);
    if (day < 1 || day > count) return false;
    out = days[day - 1];
    return true;
}

size_t cycleName(unsigned cycle, char* out, size_t size) {
    Writer w(out, size);
    putCycle(w, cycle % 60);
    return w.used();
}

size_t describe(const Day& day, Layout layout, char* out, size_t size) {
    Writer w(out, size);
    const char* const separator = layout == Layout::tipLines ? "\r\n" : "  ";
    w.putNumber(day.year);
    w.put(kYear);
    w.putNumber(day.month);
    w.put(kMonth);
    w.putNumber(day.day);
    w.put(kDigit[0]);  // 日
    w.put(" ");
    w.put(kWeek);
    w.put(kDigit[day.weekday % 7]);
    w.put(separator);
    putLunarDate(w, day);
    if (layout == Layout::oneLine) {
        w.put(separator);
        putCycle(w, day.monthCycle % 60);
        w.put(kMonth);
        w.put(" ");
        putCycle(w, day.dayCycle % 60);
        w.put(kDigit[0]);
    }
    if (day.solarTerm >= 0 || day.festival != kNoFestival) {
        w.put(separator);
        putTermAndFestival(w, day);
    }
    return w.used();
}

}  // namespace almanac
