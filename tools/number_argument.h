#pragma once
// Numbers on the tools' command lines: plain decimal digits only, so that "12x", "-3" or
// an empty argument is refused instead of being read as a prefix or as 0.

#include <cstddef>

// True when `text` is 1 to `maxDigits` (at most 9) decimal digits; their value goes to `value`.
inline bool parseDigits(const char* text, size_t maxDigits, unsigned long& value) {
    unsigned long total = 0;
    size_t length = 0;
    for (; text[length] != '\0'; ++length) {
        if (length == maxDigits || text[length] < '0' || text[length] > '9') return false;
        total = total * 10 + static_cast<unsigned long>(text[length] - '0');
    }
    if (length == 0) return false;
    value = total;
    return true;
}
