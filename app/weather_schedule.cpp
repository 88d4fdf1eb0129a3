#include "app/weather_schedule.h"

namespace {
constexpr unsigned kFirstRetryMs = 30 * 1000;
constexpr unsigned kLongestRetryMs = 30 * 60 * 1000;
constexpr unsigned kMidnightEarliestMs = 60 * 1000;
constexpr unsigned kMidnightSpreadMs = 4 * 60 * 1000;
}  // namespace

unsigned weatherRetryDelayMs(unsigned failures) {
    unsigned delay = kFirstRetryMs;
    for (unsigned i = 0; i < failures && delay < kLongestRetryMs; ++i) delay *= 2;
    return delay < kLongestRetryMs ? delay : kLongestRetryMs;
}

unsigned midnightRefreshDelayMs(unsigned seed) {
    // Knuth's multiplicative hash, so that nearby seeds (tick counts) land far apart.
    const unsigned mixed = static_cast<unsigned>((seed * 2654435761ull) >> 7);
    return kMidnightEarliestMs + mixed % (kMidnightSpreadMs + 1);
}
