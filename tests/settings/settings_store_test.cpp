// The settings file in a temporary current directory named with characters that no ANSI code
// page holds together (ő and 工), so only wide paths reach it.

#include "settings/settings_store.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        GetCurrentDirectoryW(MAX_PATH, previous);
        ASSERT_TRUE(SetCurrentDirectoryW(folder.path.c_str()));
    }
    void TearDown() override { SetCurrentDirectoryW(previous); }
    std::string read() {
        char buffer[settings_line::kLineSize] = {};
        return store.readFile(buffer) ? buffer : "(none)";
    }
    DWORD attributes(const wchar_t* name) { return GetFileAttributesW((folder.path.wstring() + name).c_str()); }

    test_support::TempFolder folder{"pellumo-settings-\xC5\x91\xE5\xB7\xA5"};  // UTF-8 of ő工
    wchar_t previous[MAX_PATH] = {};
    SettingsStore store;
};

TEST_F(SettingsFile, HoldsTheLineAlone) {
    char untouched[settings_line::kLineSize] = "before";
    EXPECT_FALSE(store.readFile(untouched)) << "no file yet";
    EXPECT_STREQ(untouched, "before");

    const std::string line = "/0/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,";
    ASSERT_TRUE(store.writeFile(line.c_str()));
    EXPECT_EQ(attributes(settings_store::kTemporaryName), INVALID_FILE_ATTRIBUTES) << "the temporary file is gone";
    EXPECT_EQ(read(), line) << "no line break, no terminator";
    ASSERT_TRUE(store.writeFile("/1/0/short")) << "a shorter line replaces the longer one whole";
    EXPECT_EQ(read(), "/1/0/short");
    ASSERT_TRUE(store.writeFile(std::string(300, 'x').c_str()));
    EXPECT_EQ(read(), std::string(259, 'x')) << "a longer file gives its first 259 bytes, terminated";
}

BOOL WINAPI failedWrite(HANDLE, LPCVOID, DWORD, LPDWORD done, LPOVERLAPPED) { return *done = 0, FALSE; }
BOOL WINAPI shortWrite(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD done, LPOVERLAPPED) {
    return WriteFile(file, bytes, size - 1, done, nullptr);
}

TEST_F(SettingsFile, AFailedSaveKeepsTheOldFile) {
    ASSERT_TRUE(store.writeFile("/1/1/the settings of the last run"));
    // The temporary file cannot be made, or cannot replace the file: the old line stays.
    const std::wstring temporary = folder.path.wstring() + settings_store::kTemporaryName;
    ASSERT_TRUE(CreateDirectoryW(temporary.c_str(), nullptr));
    EXPECT_FALSE(store.writeFile("/0/0/new"));
    EXPECT_EQ(read(), "/1/1/the settings of the last run");
    RemoveDirectoryW(temporary.c_str());

    // A write that fails, or stops one byte short saying it succeeded: the old line is kept.
    for (auto write : {failedWrite, shortWrite}) {
        settings_store::writeBytes = write;
        EXPECT_FALSE(store.writeFile("/0/0/new"));
        settings_store::writeBytes = WriteFile;
        EXPECT_EQ(read(), "/1/1/the settings of the last run");
        EXPECT_EQ(attributes(settings_store::kTemporaryName), INVALID_FILE_ATTRIBUTES);
    }

    const std::wstring file = folder.path.wstring() + settings_store::kFileName;
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileW(file.c_str()) && CreateDirectoryW(file.c_str(), nullptr));
    EXPECT_FALSE(store.writeFile("/0/0/new"));
    EXPECT_EQ(attributes(settings_store::kTemporaryName), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
