// Pellumo's entry point: one copy at a time, one window, one message loop.

#include "app/shell.h"
#include "weather/picture_folder.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <cstring>

namespace {

// Windows starts the programs of the Run key, and a shortcut may start this one, in another
// folder than the program's; the settings file and the icon cache belong beside the
// program. Wide, since the program's folder may hold characters of no ANSI code page.
void enterProgramFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;  // cut short: stay where started
    wchar_t* lastSeparator = nullptr;
    for (wchar_t* at = path; *at; ++at) {
        if (*at == L'\\' || *at == L'/') lastSeparator = at;
    }
    if (!lastSeparator) return;
    // "C:\pellumo.exe" keeps its separator: "C:" alone names the drive's current folder.
    lastSeparator[lastSeparator == path + 2 && path[1] == L':' ? 1 : 0] = L'\0';
    SetCurrentDirectoryW(path);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // Deliberately never closed: the name stays taken until the process ends, which is
    // what keeps a second copy out.
    HANDLE singleInstance = CreateMutexA(nullptr, FALSE, "Pellumo");
    if (singleInstance && GetLastError() == ERROR_ALREADY_EXISTS) return 0;

    // Before anything reads or writes a file.
    enterProgramFolder();
    makePictureFolder(weatherPanel.pictureFolder);
    readWeatherHostOverrides();
    std::strncpy(windowClassName, "szWindowClass", sizeof windowClassName - 1);
    registerWindowClass(instance);
    if (!createMainWindow(instance, showCommand)) return 0;

    // GetMessage returns -1 on failure; looping on "not zero" would then spin for ever.
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
