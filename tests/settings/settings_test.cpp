// The settings line read over the start values as a load does and printed again; its file.

#include "settings/settings_line.h"
#include "settings/settings_store.h"

#include "common/gbk_text.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace settings_line;

#define BEIJING "\xB1\xB1\xBE\xA9"  // 北京
const std::string kDefaultLine = "/0/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,";

// The line a save would write after a load of `text` over the start values.
std::string reread(const char* text, size_t size) {
    int32_t autostart = 0, tray = 1;
    CalendarRecord calendar{30, 0, {13196863, 13196863, 13196863, 13196863, 13196863}};
    WeatherRecord weather{4, 260, 16711935, {}};
    const LineHead head = parseHead(text, size);
    if (head.autostartRead) autostart = head.autostartEnabled;
    if (head.trayRead) tray = head.trayIconShown;
    if (head.calendarAt != LineHead::kMissing)
        parseCalendarRecord(text + head.calendarAt, size - head.calendarAt, calendar);
    if (head.weatherAt != LineHead::kMissing) parseWeatherRecord(text + head.weatherAt, size - head.weatherAt, weather);

    char line[kLineSize] = {};
    size_t n = formatHead(autostart, tray, line, sizeof line);
    n += formatCalendarRecord(calendar, line + n, sizeof line - n);
    n += formatWeatherRecord(weather, line + n, sizeof line - n);
    return std::string(line, n);
}

TEST(SettingsLine, ReadsWhatItCanAndWritesItBack) {
    const std::pair<std::string, std::string> rows[] = {
        {"", kDefaultLine},                                  // the line, and what is written: "" when the line itself
        {"/0/1/0,0,0,0,0,0,0/0,0,0,1234567", kDefaultLine},  // 32 bytes or less is ignored, however well formed
        {"/0/1/0,0,0,0,0,0,0/0,0,0,12345678", ""},
        // Negative origins, a colour with the top bit, a city holding both separators.
        {"/1/0/-30,-7,1,0,16777215,-1,42/-4,-260,1193046,a,b/" BEIJING, ""},
        {kDefaultLine + BEIJING "\r\n", ""},  // bytes after the city are the city's
        {"/1/1/1,2,3,4,5,6,7 and nothing more", "/1/1/1,2,3,4,5,6,7/4,260,16711935,"},  // no '/': the rest as it was
        {"/1/0 and then thirty more bytes of text", "/1/0" + kDefaultLine.substr(4)},
        // Fewer colours: the search runs on into the weather record.
        {"/0/1/500,600,700/800,900,1000,Chongqing", "/0/1/500,600,700,900,1000,0,13196863/800,900,1000,Chongqing"},
        {"/ +1/0/ -5,\t6,+7,8x,x,0,0/1,2,3; no city", "/1/0/-5,6,7,8,0,0,0/1,2,3,"},  // as atoi reads
        // Numbers beyond the int range clamped; positions to a range painting can use.
        {"/0/1/99999999999,-99999999999,99999999999,-2147483649,2147483648,-2147483648,1/"
         "-2147483648,2147483647,4294967296,",
         "/0/1/1000000,-1000000,2147483647,-2147483648,2147483647,-2147483648,1/-1000000,1000000,2147483647,"},
        {"/0/1/1000001,-1000001,1,2,3,4,5/1000000,-1000000,6,", "/0/1/1000000,-1000000,1,2,3,4,5/1000000,-1000000,6,"},
        // A longer city keeps 15 bytes, never the first byte of a character alone.
        {kDefaultLine + "x" BEIJING BEIJING BEIJING BEIJING, kDefaultLine + "x" BEIJING BEIJING BEIJING "\xB1\xB1"},
        {kDefaultLine + BEIJING BEIJING BEIJING BEIJING, kDefaultLine + BEIJING BEIJING BEIJING "\xB1\xB1"},
        {kDefaultLine + "ab" BEIJING BEIJING BEIJING "\xB1", kDefaultLine + "ab" BEIJING BEIJING BEIJING},
    };
    for (const auto& [line, written] : rows)
        EXPECT_EQ(reread(line.c_str(), line.size() + 1), written.empty() ? line : written) << line;
    char field[5];  // a cut allowed more than the field holds still leaves room for the terminator
    EXPECT_EQ(gbk::copyCut(field, sizeof field, "abcdef", 6, 10), 4u);
}

BOOL WINAPI shortWrite(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD done, LPOVERLAPPED) {
    return WriteFile(file, bytes, size - 1, done, nullptr);
}

TEST(SettingsFile, HoldsTheLineAloneAndAFailedSaveKeepsTheOldOne) {
    test_support::TempFolder folder{"pellumo-settings-\xC5\x91\xE5\xB7\xA5"};  // ő工: no ANSI code page has both
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path.c_str()));
    SettingsStore store;
    const auto read = [&store] {
        char buffer[settings_line::kLineSize] = {};
        return std::string(store.readFile(buffer) ? buffer : "(none)");
    };
    const std::wstring temporary = folder.path.wstring() + settings_store::kTemporaryName;
    const std::wstring file = folder.path.wstring() + settings_store::kFileName;
    const auto noTemporary = [&] { return GetFileAttributesW(temporary.c_str()) == INVALID_FILE_ATTRIBUTES; };

    // A longer file gives its first 259 bytes; the line alone, replacing the file whole.
    EXPECT_TRUE(store.writeFile(std::string(300, 'x').c_str()) && noTemporary() && read() == std::string(259, 'x'));
    const std::string last = "/1/1/the settings of the last run";
    EXPECT_TRUE(store.writeFile(last.c_str()) && read() == last);

    // No temporary file can be made, a write stops a byte short saying it succeeded (a failing write takes
    // the same way out), or the file cannot be replaced: the old line stays, and no temporary file.
    EXPECT_TRUE(CreateDirectoryW(temporary.c_str(), nullptr) && !store.writeFile("/0/0/new") && read() == last);
    RemoveDirectoryW(temporary.c_str());
    settings_store::writeBytes = shortWrite;
    EXPECT_FALSE(store.writeFile("/0/0/new"));
    settings_store::writeBytes = WriteFile;
    EXPECT_TRUE(read() == last && noTemporary());
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileW(file.c_str()) && CreateDirectoryW(file.c_str(), nullptr));
    EXPECT_TRUE(!store.writeFile("/0/0/new") && noTemporary());
    SetCurrentDirectoryW(previous);
}

}  // namespace
