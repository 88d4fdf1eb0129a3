// The settings file in a temporary current directory named with characters that no ANSI code
// page holds together (ő and 工), so only wide paths reach it.

#include "settings/settings_store.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

BOOL WINAPI failedWrite(HANDLE, LPCVOID, DWORD, LPDWORD done, LPOVERLAPPED) { return *done = 0, FALSE; }
BOOL WINAPI shortWrite(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD done, LPOVERLAPPED) {
    return WriteFile(file, bytes, size - 1, done, nullptr);
}

TEST(SettingsFile, HoldsTheLineAloneAndAFailedSaveKeepsTheOldOne) {
    test_support::TempFolder folder{"pellumo-settings-\xC5\x91\xE5\xB7\xA5"};  // UTF-8 of ő工
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path.c_str()));
    SettingsStore store;
    char untouched[settings_line::kLineSize] = "before";
    EXPECT_FALSE(store.readFile(untouched) || std::string(untouched) != "before") << "no file yet";
    const auto read = [&store] {
        char buffer[settings_line::kLineSize] = {};
        return std::string(store.readFile(buffer) ? buffer : "(none)");
    };
    const std::wstring temporary = folder.path.wstring() + settings_store::kTemporaryName;
    const std::wstring file = folder.path.wstring() + settings_store::kFileName;
    const auto noTemporary = [&] { return GetFileAttributesW(temporary.c_str()) == INVALID_FILE_ATTRIBUTES; };

    // The line alone: no line break, no terminator; a shorter one replaces it whole; a longer
    // file gives its first 259 bytes, terminated.
    const std::string line = "/0/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,";
    EXPECT_TRUE(store.writeFile(line.c_str()) && noTemporary() && read() == line);
    EXPECT_TRUE(store.writeFile("/1/1/the settings of the last run") && read() == "/1/1/the settings of the last run");
    EXPECT_TRUE(store.writeFile(std::string(300, 'x').c_str()) && read() == std::string(259, 'x'));
    EXPECT_TRUE(store.writeFile("/1/1/the settings of the last run"));

    // The temporary file cannot be made; a write fails, or stops one byte short saying it
    // succeeded; the file cannot be replaced: the old line stays and no temporary file.
    EXPECT_TRUE(CreateDirectoryW(temporary.c_str(), nullptr) && !store.writeFile("/0/0/new"));
    EXPECT_EQ(read(), "/1/1/the settings of the last run");
    RemoveDirectoryW(temporary.c_str());
    for (auto write : {failedWrite, shortWrite}) {
        settings_store::writeBytes = write;
        EXPECT_FALSE(store.writeFile("/0/0/new"));
        settings_store::writeBytes = WriteFile;
        EXPECT_TRUE(read() == "/1/1/the settings of the last run" && noTemporary());
    }
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileW(file.c_str()) && CreateDirectoryW(file.c_str(), nullptr));
    EXPECT_TRUE(!store.writeFile("/0/0/new") && noTemporary());
    SetCurrentDirectoryW(previous);
}

}  // namespace
