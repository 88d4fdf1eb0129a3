#pragma once
// Solar terms: when they fall, and where the formula's day is off.

#include <cstdint>

// The instant of a term in 100 ns units since 1601-01-01 00:00 (a FILETIME value):
// `minutes` after the minor-cold term of tropical year `year`. Mean motion, no time zone.
uint64_t solarTermInstant(unsigned year, uint32_t minutes);

// Days (-1, 0 or +1) to add to the day of month that solarTermInstant gives for term
// `term` (0..23) of `year`, so that the day matches the true term in China Standard Time.
int solarTermCorrection(unsigned year, unsigned term);
