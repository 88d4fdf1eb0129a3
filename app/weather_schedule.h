#pragma once
// When the weather is asked for again: pure arithmetic, so the rules can be checked without
// a clock.

// The pause before retrying after `failures` failed refreshes in a row (0 for the first
// failure): 30 s, then doubling, at most 30 minutes.
unsigned weatherRetryDelayMs(unsigned failures);

// The pause before the refresh after midnight, 1 to 5 minutes spread by `seed` (anything
// that differs between copies of the program), so that the copies running everywhere do
// not all ask the forecast service in the same second.
unsigned midnightRefreshDelayMs(unsigned seed);
