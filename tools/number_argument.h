#pragma once
// Numbers on the tools' command lines: plain decimal digits only, so that "12x", "-3" or
// an empty argument is refused instead of being read as a prefix or as 0.

#include "common/ascii.h"

#include <cstddef>

// True when `text` is 1 to `maxDigits` (at most 9) decimal digits; their value goes to `value`.
inline bool parseDigits(const char* text, size_t maxDigits, unsigned long& value) {
    const ascii::Digits digits = ascii::readDigits(text, nullptr, 10, UINT64_MAX);
    if (digits.count == 0 || digits.count > maxDigits || text[digits.count] != '\0') return false;
    value = static_cast<unsigned long>(digits.value);
    return true;
}
