#pragma once
// The month calendar: Gregorian dates 1900-2100 paired with Chinese lunar dates and
// solar terms, and the month grid painted from them. One static object of this class
// serves the whole program; every field has a fixed size and nothing is allocated.

#include <windows.h>

#include <cstdint>

class CalendarPanel {
public:
    static constexpr uint16_t kFirstYear = 1900;
    static constexpr uint16_t kLastYear = 2100;

    CalendarPanel();
    virtual ~CalendarPanel() = default;

    // Shows Gregorian month `month` of `year`: converts it and asks for a repaint.
    // True at once when that month is already on show; false, changing nothing, for a
    // year outside 1900..2100. A month outside 1..12 shows December.
    bool setViewMonth(uint16_t year, uint16_t month);

    // Clamps a date into the supported range and completes it, weekday included, as a
    // SYSTEMTIME. The day is checked against the loaded year's month lengths.
    bool normalizeDate(uint16_t year, uint16_t month, uint16_t day, SYSTEMTIME& out);

    // Decodes the table word of `year` (1900..2100, not checked) into the month lists.
    bool loadLunarYear(uint16_t year);
    // Length of `month` (1..12, not checked) in the year that loadLunarYear last loaded.
    unsigned daysInGregorianMonth(unsigned month) const;

    void computeNewYearOffsets();
    bool computeLunarDays();
    void computeSolarTermDays();
    bool buildDayLabels();

    // Draws the month grid into `dc` and records `window` for later invalidation.
    // False, drawing nothing, before the first month has been computed.
    bool paint(HWND window, HDC dc);
    bool paintTodayMarker(HDC dc);

    void showCurrentMonth();
    void nextYear();
    void previousYear();
    void nextMonth();
    void previousMonth();

    // Sets colour `index` mod 5 (0 header, 1 day numbers, 2 lunar labels, 3 today's box
    // and the caption, 4 the today line) and repaints.
    void setColor(unsigned index, COLORREF color);
    // Asks the recorded window to repaint the calendar rectangle; nothing before a paint.
    void invalidate();
    // Moves the panel's origin; false, changing nothing, before a paint recorded a window.
    bool moveTo(int x, int y);

    // Makes the given local date today: the today fields and line follow it, and a view
    // that showed the old today's month moves on to the new one. False, changing
    // nothing, when it already is today.
    bool rollToday(uint16_t year, uint16_t month, uint16_t day);

    // The calendar's record of the settings line. `readSettings` applies the origin and
    // colours that `text` (from the record's '/' to the end of the line) holds and shows
    // the current month; false without text. `writeSettings` prints the record into
    // `buffer` of 128 bytes.
    bool readSettings(const char* text);
    bool writeSettings(char* buffer);

    bool ready{};
    uint32_t yearTable[201]{};
    uint16_t todayYear{};
    uint16_t todayMonth{};
    uint16_t todayDay{};
    uint16_t viewYear{};
    uint16_t viewMonth{};
    uint16_t firstLunarDay{};
    uint16_t daysInMonth{};
    uint16_t firstWeekday{};
    uint8_t newYearMonth{};
    uint8_t newYearDay{};
    uint8_t leapMonth{};
    uint8_t leapMonthDays{};
    uint8_t prevLeapMonth{};
    uint16_t yearWordHigh{};
    uint16_t yearWordLow{};
    uint8_t lunarMonthDays[13]{};
    uint8_t lunarMonthNumber[13]{};
    uint8_t boundaryMonthDays[4]{};
    uint8_t boundaryMonthNumber[4]{};
    uint8_t solarTermDay[2]{};
    uint8_t lunarMonthsInView[4]{};
    uint8_t monthLengths[13]{};
    uint8_t lunarDayOf[32]{};
    uint32_t solarTermMinutes[24]{};
    uint16_t newYearOffset[13]{};
    char lunarLabelText[32][4]{};
    char dayNumberText[32][2]{};
    COLORREF colors[5]{};
    HWND hwnd{};
    int32_t originX{};
    int32_t originY{};
    char todayText[32]{};
    // The DPI of the window it draws on, set by the window; origins and every length of the
    // grid are the ones at 96 DPI and scaled by dpi / 96 where they are drawn.
    int32_t dpi{96};
};
