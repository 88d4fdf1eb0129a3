// Pellumo's entry point: one copy at a time, one window, one message loop.

#include "app/shell.h"
#include "weather/weather_hosts.h"

#include <cstring>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    // Deliberately never closed: the name stays taken until the process ends, which is
    // what keeps a second copy out.
    HANDLE singleInstance = CreateMutexA(nullptr, FALSE, "Pellumo");
    if (singleInstance && GetLastError() == ERROR_ALREADY_EXISTS) return 0;

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
