#include "weather/weather_hosts.h"

#include <windows.h>

namespace {

void overrideFrom(const char* name, char (&field)[kWeatherHostSize]) {
    // One byte more than a host text may take, so an overlong value shows as such.
    char value[kWeatherHostSize + 1] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return;
    setWeatherHost(field, value);
}

}  // namespace

void readWeatherHostOverrides() {
    overrideFrom("PELLUMO_SEARCH_HOST", weatherHosts.search);
    overrideFrom("PELLUMO_ICON_HOST", weatherHosts.icon);
}
