// The settings file in a temporary current directory of its own, and the Run value in the
// real registry of the test's Wine prefix.

#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A fresh, empty current directory for each test, removed with what is left in it.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        GetCurrentDirectoryA(MAX_PATH, previous);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        folder = std::string(temp) + "pellumo-settings-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryA(previous);
        for (const char* name : {settings_store::kFileName, settings_store::kTemporaryName}) {
            const std::string path = folder + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
            RemoveDirectoryA(path.c_str());
        }
        RemoveDirectoryA(folder.c_str());
    }
    std::string path(const char* name) const { return folder + name; }
    std::string read() {
        char buffer[settings_line::kLineSize] = {};
        return store.readFile(buffer) ? buffer : "(none)";
    }

    char previous[MAX_PATH] = {};
    std::string folder;
    SettingsStore store;
};

TEST_F(SettingsFile, WritesTheLineAloneHiddenAndSystemAndReadsItBack) {
    char untouched[settings_line::kLineSize] = "before";
    EXPECT_FALSE(store.readFile(untouched)) << "no file yet";
    EXPECT_STREQ(untouched, "before");

    const std::string line = "/0/1/30,0,13196863,13196863,13196863,13196863,13196863/4,260,16711935,";
    ASSERT_TRUE(store.writeFile(line.c_str()));
    const DWORD attributes = GetFileAttributesA(path(settings_store::kFileName).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
    EXPECT_EQ(GetFileAttributesA(path(settings_store::kTemporaryName).c_str()), INVALID_FILE_ATTRIBUTES)
        << "the temporary file is gone";
    EXPECT_EQ(read(), line) << "no line break, no terminator";

    ASSERT_TRUE(store.writeFile("/1/0/short")) << "a shorter line replaces the longer one whole";
    EXPECT_EQ(read(), "/1/0/short");

    // A longer file gives its first 259 bytes, terminated.
    ASSERT_TRUE(store.writeFile(std::string(300, 'x').c_str()));
    EXPECT_EQ(read(), std::string(259, 'x'));
}

TEST_F(SettingsFile, AFailedSaveKeepsTheOldFile) {
    ASSERT_TRUE(store.writeFile("/1/1/the settings of the last run"));
    // The temporary file cannot be made: the new line never reaches the old file.
    ASSERT_TRUE(CreateDirectoryA(path(settings_store::kTemporaryName).c_str(), nullptr));
    EXPECT_FALSE(store.writeFile("/0/0/new"));
    EXPECT_EQ(read(), "/1/1/the settings of the last run");
    RemoveDirectoryA(path(settings_store::kTemporaryName).c_str());

    // Nothing can replace a directory: the written temporary file is removed again.
    SetFileAttributesA(path(settings_store::kFileName).c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path(settings_store::kFileName).c_str());
    ASSERT_TRUE(CreateDirectoryA(path(settings_store::kFileName).c_str(), nullptr));
    EXPECT_FALSE(store.writeFile("/0/0/new"));
    EXPECT_EQ(GetFileAttributesA(path(settings_store::kTemporaryName).c_str()), INVALID_FILE_ATTRIBUTES);
}

class Autostart : public ::testing::Test {
protected:
    // The value's type and bytes, or type REG_NONE when it is absent.
    std::pair<DWORD, std::string> value() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kRun, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {REG_NONE, ""};
        char data[MAX_PATH + 8] = {};
        DWORD type = REG_NONE, size = sizeof data;
        if (RegQueryValueExA(key, "quorvan", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS) {
            type = REG_NONE, size = 0;
        }
        RegCloseKey(key);
        return {type, std::string(data, size)};
    }
    static constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    SettingsStore store;
};

TEST_F(Autostart, OnWritesTheProgramPathOffRemovesIt) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    ASSERT_TRUE(store.setAutostart(true));
    // Stored from the path's length alone; the registry hands it back terminated.
    const auto [type, data] = value();
    EXPECT_EQ(type, DWORD{REG_SZ});
    EXPECT_STREQ(data.c_str(), program);
    EXPECT_LE(data.size(), std::strlen(program) + 1);

    ASSERT_TRUE(store.setAutostart(false));
    EXPECT_EQ(value().first, DWORD{REG_NONE});
    EXPECT_TRUE(store.setAutostart(false)) << "already absent";
}

}  // namespace
