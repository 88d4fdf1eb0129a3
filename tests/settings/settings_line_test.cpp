// The settings line taken apart and put together, without a file: whole lines against the
// values a load would apply, the reference line, and random lines at a page's end.

#include "settings/settings_line.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <tuple>

namespace {

using namespace settings_line;

constexpr uint32_t kCal = 13196863;  // 0xC95E3F
constexpr uint32_t kMag = 16711935;  // 0xFF00FF

// What a load applies from a line over the start values, as the application does it.
struct Applied {
    int32_t autostart = 0;
    int32_t tray = 1;
    CalendarRecord calendar{30, 0, {kCal, kCal, kCal, kCal, kCal}};
    WeatherRecord weather{4, 260, kMag, {}};
};

Applied apply(const char* text, size_t size) {
    Applied a;
    const LineHead head = parseHead(text, size);
    if (head.autostartRead) a.autostart = head.autostartEnabled;
    if (head.trayRead) a.tray = head.trayIconShown;
    if (head.calendarAt != LineHead::kMissing) {
        EXPECT_TRUE(parseCalendarRecord(text + head.calendarAt, size - head.calendarAt, a.calendar));
    }
    if (head.weatherAt != LineHead::kMissing) {
        EXPECT_TRUE(parseWeatherRecord(text + head.weatherAt, size - head.weatherAt, a.weather));
    }
    return a;
}
Applied apply(const std::string& line) { return apply(line.c_str(), line.size() + 1); }

auto fields(const Applied& a) {
    const CalendarRecord& c = a.calendar;
    const WeatherRecord& w = a.weather;
    return std::make_tuple(a.autostart, a.tray, c.originX, c.originY, c.colors[0], c.colors[1], c.colors[2],
                           c.colors[3], c.colors[4], w.originX, w.originY, w.textColor, std::string(w.city));
}

std::string format(const Applied& a) {
    char line[kLineSize] = {}, calendar[kRecordSize] = {}, weather[kRecordSize] = {};
    formatHead(a.autostart, a.tray, line, sizeof line);
    formatCalendarRecord(a.calendar, calendar, sizeof calendar);
    formatWeatherRecord(a.weather, weather, sizeof weather);
    return std::string(line) + calendar + weather;
}

const std::string kDefaultLine = "/0/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,";
#define BEIJING "\xB1\xB1\xBE\xA9"  // 北京

TEST(SettingsLine, DefaultsMakeTheReferenceLineAndReadBackUnchanged) {
    EXPECT_EQ(format(Applied{}), kDefaultLine);
    EXPECT_EQ(kDefaultLine.size(), 70u);
    EXPECT_TRUE(parseHead(kDefaultLine.c_str(), kDefaultLine.size()).usable);
    EXPECT_EQ(fields(apply(kDefaultLine)), fields(Applied{}));

    Applied changed;  // negative origins, a city with both separators, a colour with the top bit
    changed.autostart = 1;
    changed.tray = 0;
    changed.calendar = {-30, -7, {1, 0, 0x00FFFFFF, 0xFFFFFFFF, 42}};
    changed.weather = {-4, -260, 0x123456, "a,b/" BEIJING};
    const std::string line = format(changed);
    EXPECT_EQ(line, "/1/0/-30,-7,1,0,16777215,-1,42/-4,-260,1193046,a,b/" BEIJING);
    EXPECT_EQ(fields(apply(line)), fields(changed));
}

TEST(SettingsLine, ReadsHandEditedLines) {
    Applied defaults;
    auto with = [](auto change) {
        Applied a;
        change(a);
        return fields(a);
    };
    const std::pair<std::string, decltype(fields(defaults))> rows[] = {
        // 32 bytes or less is ignored, however well formed.
        {"/0/1/0,0,0,0,0,0,0/0,0,0,", fields(defaults)},
        {"/1/0/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,",
         with([](Applied& a) { a.autostart = 1, a.tray = 0; })},
        // Bytes after the city belong to it, a line break included.
        {kDefaultLine + BEIJING "\r\n", with([](Applied& a) { std::strcpy(a.weather.city, BEIJING "\r\n"); })},
        // No weather record: it keeps its start values.
        {"/1/1/1,2,3,4,5,6,7 and nothing more", with([](Applied& a) {
             a.autostart = 1;
             a.calendar = {1, 2, {3, 4, 5, 6, 7}};
         })},
        // No calendar record either: only the head is read.
        {"/1/0 and then thirty more bytes of text", with([](Applied& a) { a.autostart = 1, a.tray = 0; })},
        // Fewer colours: the search runs on into the weather record, as it always has.
        {"/0/1/500,600,700/800,900,1000,Chongqing", with([](Applied& a) {
             a.calendar = {500, 600, {700, 900, 1000, 0, kCal}};
             a.weather = {800, 900, 1000, "Chongqing"};
         })},
        // Blanks and signs as atoi reads them; letters end a number.
        {"/ +1/0/ -5,\t6,+7,8x,x,0,0/1,2,3; no city", with([](Applied& a) {
             a.autostart = 1, a.tray = 0;
             a.calendar = {-5, 6, {7, 8, 0, 0, 0}};
             a.weather = {1, 2, 3, ""};
         })},
        // Numbers beyond the int range are clamped; positions to a range painting can use.
        {"/0/1/99999999999,-99999999999,99999999999,-2147483649,2147483648,-2147483648,1/"
         "-2147483648,2147483647,4294967296,",
         with([](Applied& a) {
             a.calendar = {kOriginLimit, -kOriginLimit, {0x7FFFFFFF, 0x80000000, 0x7FFFFFFF, 0x80000000, 1}};
             a.weather = {-kOriginLimit, kOriginLimit, 0x7FFFFFFF, ""};
         })},
        // A longer city keeps 15 bytes, and never the first byte of a character alone.
        {kDefaultLine + "0123456789abcdefghij",
         with([](Applied& a) { std::strcpy(a.weather.city, "0123456789abcde"); })},
        {kDefaultLine + "x" BEIJING BEIJING BEIJING BEIJING,
         with([](Applied& a) { std::strcpy(a.weather.city, "x" BEIJING BEIJING BEIJING "\xB1\xB1"); })},
        {kDefaultLine + BEIJING BEIJING BEIJING BEIJING,
         with([](Applied& a) { std::strcpy(a.weather.city, BEIJING BEIJING BEIJING "\xB1\xB1"); })},
        {kDefaultLine + "ab" BEIJING BEIJING BEIJING "\xB1",
         with([](Applied& a) { std::strcpy(a.weather.city, "ab" BEIJING BEIJING BEIJING); })},
    };
    for (const auto& [line, expected] : rows) EXPECT_EQ(fields(apply(line)), expected) << line;
}

bool isLead(char c) { return static_cast<unsigned char>(c) >= 0x81 && static_cast<unsigned char>(c) <= 0xFE; }

// Every field stays terminated inside itself and whole characters only; nothing past the
// line's last byte is read (the next page would fault).
void expectSafe(const std::string& line) {
    const Applied a = apply(test_support::atPageEnd(line, false), line.size());
    const char* city = a.weather.city;
    ASSERT_LT(strnlen(city, sizeof a.weather.city), sizeof a.weather.city) << line;
    size_t i = 0;
    while (city[i]) i += isLead(city[i]) ? 2 : 1;
    EXPECT_EQ(i, std::strlen(city)) << "a lone lead byte ends the city: " << line;
}

TEST(SettingsLine, NoLineReadsPastItsEndOrOverrunsAField) {
    // Unterminated at the page's end, cut at every byte of a full line.
    const std::string full = "/1/0/-30,-7,1,0,16777215,-1,42/-4,-260,1193046,a,b/" BEIJING BEIJING BEIJING BEIJING;
    for (size_t cut = 0; cut <= full.size(); ++cut) expectSafe(full.substr(0, cut));

    // Random lines from the bytes that matter, up to what a file read takes.
    std::mt19937 random(20261207);
    constexpr char kBytes[] = "//,,,0123456789-+ \t" BEIJING "\xFE\x81\x80\xFF\r\n";
    const std::string alphabet(kBytes, sizeof kBytes);  // the terminator too: a NUL inside a line
    for (int n = 0; n < 20000; ++n) {
        std::string line(random() % kLineSize, ' ');
        for (char& c : line) c = alphabet[random() % alphabet.size()];
        expectSafe(line);
    }
}

}  // namespace
