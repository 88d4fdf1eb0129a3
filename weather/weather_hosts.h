#pragma once
// Where the forecast comes from: the search endpoint that serves the result page and the
// icon server that the page's icon addresses name. Each is a host name, optionally with
// ":port", fixed at build time and replaceable at start by an environment variable of the
// same name (PELLUMO_SEARCH_HOST, PELLUMO_ICON_HOST).

#include <cstddef>

constexpr size_t kWeatherHostSize = 48;  // "host" or "host:port", at most 47 bytes

struct WeatherHosts {
    char search[kWeatherHostSize];
    char icon[kWeatherHostSize];
};

// The build-time values until readWeatherHostOverrides replaces them.
extern WeatherHosts weatherHosts;

// Whether `value` is a usable host text: 1..47 bytes of host name characters (ASCII
// letters, digits, '-', '.', '_'), optionally followed by ':' and a port of 1 to 65535
// written in at most five digits.
bool isWeatherHost(const char* value);
// Copies `value` into `field` when it is a usable host text; false, leaving `field` as it
// was, otherwise.
bool setWeatherHost(char (&field)[kWeatherHostSize], const char* value);

// Reads PELLUMO_SEARCH_HOST and PELLUMO_ICON_HOST from the environment once, at start; an
// unset, overlong or malformed value leaves the build-time host in place.
void readWeatherHostOverrides();
