#pragma once
// The settings file in the current directory and the autostart value in the registry.
// One static instance serves the process; it holds no state of its own.

#include <windows.h>

#include "settings/settings_line.h"

class SettingsStore {
public:
    // Copies at most 259 bytes of the settings file into `buffer`, which the caller has
    // zero-filled, so it stays terminated. False when the file cannot be opened or read;
    // `buffer` is then untouched.
    bool readFile(char (&buffer)[settings_line::kLineSize]);
    // Replaces the file's content with `text` (zero-terminated, written without its
    // terminator). The text goes to a temporary file beside it first, which is moved over
    // the old file only once written whole: false, with the old file as it was, otherwise.
    bool writeFile(const char* text);
    // On writes the Run value with this program's path (creating the Run key when it is
    // missing), off deletes it. False when the path, the key or the registry write fails;
    // deleting a value (or from a key) that is already absent is success.
    bool setAutostart(bool on);
};

extern SettingsStore settingsStore;  // defined with the shell's other static objects

namespace settings_store {

constexpr wchar_t kFileName[] = L"\\quorvan.idx";
constexpr wchar_t kTemporaryName[] = L"\\quorvan.idx.new";
constexpr char kRunValueName[] = "quorvan";
// The key under HKEY_CURRENT_USER that holds the Run value; tests point it elsewhere.
extern const char* runKeyPath;
// Writes the file's bytes; tests put a short or failing write in its place.
extern BOOL(WINAPI* writeBytes)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

}  // namespace settings_store
