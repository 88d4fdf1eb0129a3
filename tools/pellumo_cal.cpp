// pellumo-cal: the lunar calendar in a terminal, in UTF-8.
//   pellumo-cal                      the current month
//   pellumo-cal YEAR MONTH           that month, laid out like cal(1)
//   pellumo-cal --tsv YEAR MONTH     one line per day: date, weekday, lunar day, label
//   pellumo-cal --tsv --all [--repeat N]   every day of 1900..2100 (N passes, to time it)
// Exit codes: 0 done, 2 bad arguments.

#include "calendar/calendar_panel.h"
#include "calendar/calendar_text.h"
#include "tools/number_argument.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned kCellWidth = 6;  // columns a day cell takes in the terminal

// Converts `length` GBK bytes to zero-terminated UTF-8 in `out`.
void gbkToUtf8(const char* gbk, int length, char* out, int outSize) {
    wchar_t wide[32];
    const int wideLength = MultiByteToWideChar(936, 0, gbk, length, wide, 32);
    const int written = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, out, outSize - 1, nullptr, nullptr);
    out[written > 0 ? written : 0] = '\0';
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

void printTsv(const CalendarPanel& panel) {
    for (unsigned i = 0; i < panel.daysInMonth; ++i) {
        char label[16];
        gbkToUtf8(panel.lunarLabelText[i], 4, label, sizeof label);
        std::printf("%04u-%02u-%02u\t%u\t%u\t%s\n", panel.viewYear, panel.viewMonth, i + 1,
                    (panel.firstWeekday + i) % 7, panel.lunarDayOf[i], label);
    }
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
    std::fprintf(stderr, "usage: pellumo-cal [--tsv] [YEAR MONTH] | pellumo-cal --tsv --all [--repeat N]\n");
    return 2;
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
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
