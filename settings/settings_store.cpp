// The settings file and the Run value: every handle owned, every failure reported.

#include "settings/settings_store.h"

#include "common/unique.h"

#include <cstdio>
#include <cstring>

namespace settings_store {
const char* runKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
BOOL(WINAPI* writeBytes)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;
}  // namespace settings_store

namespace {

constexpr DWORD kAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The current directory followed by `name`, in UTF-16: the directory may hold characters
// of no ANSI code page. False when that does not fit.
bool pathInCurrentDirectory(const wchar_t* name, wchar_t (&path)[MAX_PATH + 32]) {
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH) return false;
    return lstrlenW(name) + length < MAX_PATH + 32 && lstrcatW(path, name);
}

}  // namespace

bool SettingsStore::readFile(char (&buffer)[settings_line::kLineSize]) {
    wchar_t path[MAX_PATH + 32];
    if (!pathInCurrentDirectory(settings_store::kFileName, path)) return false;
    // A hidden, system file can only be opened by naming those attributes.
    UniqueFile file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, kAttributes, nullptr));
    if (!file) return false;
    char content[settings_line::kLineSize] = {};
    DWORD read = 0;
    if (!ReadFile(file.get(), content, sizeof content - 1, &read, nullptr)) return false;
    std::memcpy(buffer, content, read);
    return true;
}

bool SettingsStore::writeFile(const char* text) {
    wchar_t path[MAX_PATH + 32];
    wchar_t temporary[MAX_PATH + 32];
    if (!pathInCurrentDirectory(settings_store::kFileName, path) ||
        !pathInCurrentDirectory(settings_store::kTemporaryName, temporary)) {
        return false;
    }
    bool whole = false;
    {
        UniqueFile file(CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, kAttributes, nullptr));
        if (!file) return false;
        const DWORD length = static_cast<DWORD>(std::strlen(text));
        DWORD written = 0;
        whole =
            settings_store::writeBytes(file.get(), text, length, &written, nullptr) && written == length &&
            FlushFileBuffers(file.get());
    }
    // Only a file written whole replaces the old one; the move is a rename within the
    // folder, so the old file is never seen half replaced.
    if (whole && MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileW(temporary);
    return false;
}

bool SettingsStore::setAutostart(bool on) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;  // MAX_PATH: cut short

    HKEY opened = nullptr;
    if (on) {
        // A new profile (or a fresh Wine prefix) may have no Run key yet: make it.
        const LONG created = RegCreateKeyExA(HKEY_CURRENT_USER, settings_store::runKeyPath, 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &opened, nullptr);
        if (created != ERROR_SUCCESS) return false;
        UniqueRegKey key(opened);
        // The size is the path's length without its terminator.
        return RegSetValueExA(key.get(), settings_store::kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                              length) == ERROR_SUCCESS;
    }
    const LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, settings_store::runKeyPath, 0, KEY_SET_VALUE, &opened);
    // Without the key there is no value either: off is then already the case.
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) return false;
    UniqueRegKey key(opened);
    const LONG deleted = RegDeleteValueA(key.get(), settings_store::kRunValueName);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
}
