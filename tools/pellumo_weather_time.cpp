// pellumo-weather-time: times forced weather refreshes against a forecast site, the icons
// cached after the first, and sets them against the floor that the refresh's own pauses set
// (the page's one second and six pauses of 100 ms).
//
// Usage: pellumo-weather-time HOST[:PORT] [ROUNDS]
// The picture folder is made in the current directory, as the program makes it in its own.

#include "weather/picture_folder.h"
#include "weather/weather_hosts.h"
#include "weather/weather_panel.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kFloorMs = 1000 + 6 * 100;

double nowMs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

WeatherPanel weatherPanel;

int main(int argc, char** argv) {
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (argc < 2 || argc > 3 || rounds < 1 || rounds > 100 || !setWeatherHost(weatherHosts.search, argv[1]) ||
        !setWeatherHost(weatherHosts.icon, argv[1])) {
        std::fprintf(stderr, "usage: pellumo-weather-time HOST[:PORT] [ROUNDS 1..100]\n");
        return 2;
    }
    makePictureFolder(weatherPanel.pictureFolder);
    double start = nowMs();
    if (!weatherPanel.refresh("", true)) {
        std::fprintf(stderr, "pellumo-weather-time: the first refresh failed\n");
        return 1;
    }
    std::printf("first refresh, icons fetched: %.0f ms\n", nowMs() - start);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        start = nowMs();
        if (!weatherPanel.refresh("", true)) {
            std::fprintf(stderr, "pellumo-weather-time: refresh %d failed\n", i + 1);
            return 1;
        }
        times.push_back(nowMs() - start);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("refresh with cached icons over %d rounds: min %.0f ms, median %.0f ms, max %.0f ms\n", rounds,
                times.front(), median, times.back());
    std::printf("floor %.0f ms (1 s page pause + 6 x 100 ms): median %.0f ms above it\n", kFloorMs, median - kFloorMs);
    return 0;
}
