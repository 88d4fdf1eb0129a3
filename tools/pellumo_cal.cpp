// pellumo-cal: the lunar calendar in a terminal, in UTF-8.
//   pellumo-cal                      the current month
//   pellumo-cal YEAR MONTH           that month, laid out like cal(1)
//   pellumo-cal --tsv YEAR MONTH     one line per day: date, weekday, lunar day, label,
//                                    festival (empty for none), year's stem and branch,
//                                    its animal, day's stem and branch
//   pellumo-cal --tsv --all [--repeat N]   every day of 1900..2100 (N passes, to time it)
//   pellumo-cal --day YYYY-MM-DD     the almanac line of one day
// Exit codes: 0 done, 2 bad arguments.

#include "calendar/almanac.h"
#include "calendar/calendar_panel.h"
#include "calendar/calendar_text.h"
#include "common/gbk_wide.h"
#include "tools/number_argument.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr unsigned kCellWidth = 6;  // columns a day cell takes in the terminal

// Converts `length` GBK bytes (a whole month's lines at most) to zero-terminated UTF-8 in
// `out`; returns the bytes written before the terminator.
int gbkToUtf8(const char* text, int length, char* out, int outSize) {
    static wchar_t wide[4096];
    const int wideLength = gbk::toWide(text, length, wide, static_cast<int>(std::size(wide)));
    const int written =
        wideLength > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, out, outSize - 1, nullptr, nullptr) : 0;
    out[written > 0 ? written : 0] = '\0';
    return written > 0 ? written : 0;
}

bool parseNumber(const char* text, unsigned& value) {
    unsigned long digits = 0;
    if (!parseDigits(text, 6, digits)) return false;
    value = static_cast<unsigned>(digits);
    return true;
}

bool parseYearMonth(const char* yearText, const char* monthText, uint16_t& year, uint16_t& month) {
    unsigned y = 0;
    unsigned m = 0;
    if (!parseNumber(yearText, y) || !parseNumber(monthText, m)) {
        std::fprintf(stderr, "pellumo-cal: YEAR and MONTH must be whole numbers\n");
        return false;
    }
    if (y < CalendarPanel::kFirstYear || y > CalendarPanel::kLastYear) {
        std::fprintf(stderr, "pellumo-cal: year %u is outside 1900..2100\n", y);
        return false;
    }
    if (m < 1 || m > 12) {
        std::fprintf(stderr, "pellumo-cal: month %u is outside 1..12\n", m);
        return false;
    }
    year = static_cast<uint16_t>(y);
    month = static_cast<uint16_t>(m);
    return true;
}

// Writes `length` GBK bytes to stdout as UTF-8, in one conversion however many lines they hold.
void putGbk(const char* text, int length) {
    static char utf8[3 * 4096];
    std::fwrite(utf8, 1, static_cast<size_t>(gbkToUtf8(text, length, utf8, sizeof utf8)), stdout);
}

// The month as GBK lines first, converted at once: a conversion per line would cost more
// than everything else the listing does.
void printTsv(const CalendarPanel& panel) {
    using namespace calendar_text;
    almanac::Day days[31];
    const unsigned count = almanac::describeMonth(panel, days);
    char text[31 * 64];
    int used = 0;
    for (unsigned i = 0; i < count; ++i) {
        const almanac::Day& d = days[i];
        char year[8], day[8];
        almanac::cycleName(d.yearCycle, year, sizeof year);
        almanac::cycleName(d.dayCycle, day, sizeof day);
        const int n = std::snprintf(text + used, sizeof text - used, "%04u-%02u-%02u\t%u\t%u\t%.4s\t%s\t%s\t%s\t%s\n",
                                    d.year, d.month, d.day, d.weekday, d.lunarDay, panel.lunarLabelText[i],
                                    kFestival[d.festival], year, kAnimal[d.yearCycle % 12], day);
        if (n < 0 || n >= static_cast<int>(sizeof text) - used) break;
        used += n;
    }
    putGbk(text, used);
}

// The month's festivals, one line each: 2月10日 春节.
void printFestivals(const CalendarPanel& panel) {
    almanac::Day days[31];
    const unsigned count = almanac::describeMonth(panel, days);
    char text[512];
    int used = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (days[i].festival == almanac::kNoFestival) continue;
        const int n = std::snprintf(text + used, sizeof text - used, "%u\xD4\xC2%u\xC8\xD5 %s\n", days[i].month,
                                    days[i].day, calendar_text::kFestival[days[i].festival]);  // M月D日 NAME
        if (n < 0 || n >= static_cast<int>(sizeof text) - used) break;
        used += n;
    }
    putGbk(text, used);
}

// Prints `text` (UTF-8 of `columns` terminal columns) centred in the grid's width.
void printCentred(const char* text, unsigned columns) {
    const unsigned width = 7 * kCellWidth;
    std::printf("%*s%s\n", static_cast<int>(columns < width ? (width - columns) / 2 : 0), "", text);
}

void printGrid(const CalendarPanel& panel) {
    char title[32];
    const int titleBytes = std::snprintf(title, sizeof title, "%u\xE5\xB9\xB4%u\xE6\x9C\x88", panel.viewYear,
                                         panel.viewMonth);  // YEAR年MONTH月
    // 年 and 月 take three bytes each in UTF-8 but two columns each on a terminal.
    printCentred(title, static_cast<unsigned>(titleBytes) - 2);

    for (unsigned weekday = 0; weekday < 7; ++weekday) {
        char name[8];
        gbkToUtf8(calendar_text::kDigit[weekday], 2, name, sizeof name);  // 日 一 ... 六
        std::printf(weekday == 6 ? "  %s\n" : "  %s  ", name);
    }

    const unsigned cells = panel.firstWeekday + panel.daysInMonth;
    for (unsigned rowStart = 0; rowStart < cells; rowStart += 7) {
        const unsigned rowEnd = rowStart + 7 < cells ? rowStart + 7 : cells;
        for (unsigned cell = rowStart; cell < rowEnd; ++cell) {
            if (cell < panel.firstWeekday) {
                std::printf("%*s", kCellWidth, "");
            } else {
                std::printf(cell + 1 == rowEnd ? "%5u\n" : "%5u ", cell - panel.firstWeekday + 1);
            }
        }
        for (unsigned cell = rowStart; cell < rowEnd; ++cell) {
            if (cell < panel.firstWeekday) {
                std::printf("%*s", kCellWidth, "");
                continue;
            }
            char label[16];
            gbkToUtf8(panel.lunarLabelText[cell - panel.firstWeekday], 4, label, sizeof label);
            std::printf(cell + 1 == rowEnd ? " %s\n" : " %s ", label);
        }
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: pellumo-cal [--tsv] [YEAR MONTH] | pellumo-cal --tsv --all [--repeat N] | "
                 "pellumo-cal --day YYYY-MM-DD\n");
    return 2;
}

// YYYY-MM-DD, month and day of one or two digits, inside 1900-01-01..2100-12-31.
bool parseDate(const char* text, CalendarPanel& panel, unsigned& day) {
    char parts[3][8] = {};
    unsigned part = 0;
    size_t length = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '-' && part < 2) {
            ++part;
            length = 0;
        } else if (length + 1 < sizeof parts[part]) {
            parts[part][length++] = *c;
        } else {
            part = 3;  // a part too long to be a number
            break;
        }
    }
    unsigned long y = 0, m = 0, d = 0;
    if (part != 2 || !parseDigits(parts[0], 4, y) || !parseDigits(parts[1], 2, m) || !parseDigits(parts[2], 2, d)) {
        std::fprintf(stderr, "pellumo-cal: the date must be YYYY-MM-DD\n");
        return false;
    }
    if (y < CalendarPanel::kFirstYear || y > CalendarPanel::kLastYear || m < 1 || m > 12 ||
        !panel.setViewMonth(static_cast<uint16_t>(y), static_cast<uint16_t>(m)) || d < 1 || d > panel.daysInMonth) {
        std::fprintf(stderr, "pellumo-cal: %s is not a date in 1900-01-01..2100-12-31\n", text);
        return false;
    }
    day = static_cast<unsigned>(d);
    return true;
}

int printDay(CalendarPanel& panel, const char* text) {
    unsigned day = 0;
    if (!parseDate(text, panel, day)) return 2;
    almanac::Day described{};
    almanac::describeDay(panel, day, described);
    char line[256];
    const size_t length = almanac::describe(described, almanac::Layout::oneLine, line, sizeof line - 1);
    line[length] = '\n';
    putGbk(line, static_cast<int>(length + 1));
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Unix line ends and untouched UTF-8 bytes, whatever the stream is connected to.
    _setmode(_fileno(stdout), _O_BINARY);
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    int arg = 1;
    const bool tsv = arg < argc && std::strcmp(argv[arg], "--tsv") == 0;
    if (tsv) ++arg;

    static CalendarPanel panel;
    if (!tsv && arg < argc && std::strcmp(argv[arg], "--day") == 0) {
        return arg + 2 == argc ? printDay(panel, argv[arg + 1]) : usage();
    }
    if (tsv && arg < argc && std::strcmp(argv[arg], "--all") == 0) {
        unsigned passes = 1;
        if (arg + 1 < argc) {
            if (arg + 3 != argc || std::strcmp(argv[arg + 1], "--repeat") != 0 || !parseNumber(argv[arg + 2], passes) ||
                passes == 0) {
                return usage();
            }
        }
        for (unsigned pass = 0; pass < passes; ++pass) {
            for (uint16_t year = CalendarPanel::kFirstYear; year <= CalendarPanel::kLastYear; ++year) {
                for (uint16_t month = 1; month <= 12; ++month) {
                    panel.setViewMonth(year, month);
                    printTsv(panel);
                }
            }
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    uint16_t year = 0;
    uint16_t month = 0;
    if (arg == argc) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        year = now.wYear;
        month = now.wMonth;
    } else if (arg + 2 == argc) {
        if (!parseYearMonth(argv[arg], argv[arg + 1], year, month)) return 2;
    } else {
        return usage();
    }
    if (!panel.setViewMonth(year, month)) {
        std::fprintf(stderr, "pellumo-cal: cannot show %u-%02u\n", year, month);
        return 1;
    }
    if (tsv) {
        printTsv(panel);
    } else {
        printGrid(panel);
        printFestivals(panel);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
