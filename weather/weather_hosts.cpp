#include "weather/weather_hosts.h"

#include "common/ascii.h"
#include "net/url_parts.h"

#include <cstring>

#ifndef PELLUMO_SEARCH_HOST
#define PELLUMO_SEARCH_HOST "localhost"
#endif
#ifndef PELLUMO_ICON_HOST
#define PELLUMO_ICON_HOST "localhost"
#endif
static_assert(sizeof PELLUMO_SEARCH_HOST <= kWeatherHostSize, "PELLUMO_SEARCH_HOST is too long");
static_assert(sizeof PELLUMO_ICON_HOST <= kWeatherHostSize, "PELLUMO_ICON_HOST is too long");

WeatherHosts weatherHosts = {PELLUMO_SEARCH_HOST, PELLUMO_ICON_HOST};

bool isWeatherHost(const char* value) {
    if (!value) return false;
    const size_t length = strnlen(value, kWeatherHostSize);
    if (length == 0 || length >= kWeatherHostSize) return false;
    size_t host = 0;
    while (host < length && UrlParts::isHostChar(value[host])) ++host;
    if (host == 0) return false;
    if (host == length) return true;
    if (value[host] != ':') return false;
    const char* digits = value + host + 1;
    const size_t count = length - host - 1;
    if (count == 0 || count > 5) return false;
    const ascii::Digits port = ascii::readDigits(digits, digits + count, 10, 65535);
    return port.count == count && !port.exceeds && port.value >= 1;
}

bool setWeatherHost(char (&field)[kWeatherHostSize], const char* value) {
    if (!isWeatherHost(value)) return false;
    std::memset(field, 0, sizeof field);
    std::memcpy(field, value, std::strlen(value));
    return true;
}
