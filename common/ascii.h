#pragma once
// ASCII-only character tests and number reading for protocol text. The C library's
// versions follow the active code page, where a GBK byte can pass for a letter or a blank.

#include <cstddef>
#include <cstdint>

namespace ascii {

constexpr bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
constexpr char toLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char toUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether the `length` bytes at `text` equal the zero-terminated `word`, ignoring the case
// of ASCII letters. Reads no byte of `text` past `length`.
inline bool equalsIgnoringCase(const char* text, size_t length, const char* word) {
    for (size_t i = 0; i < length; ++i) {
        if (word[i] == '\0' || toLower(text[i]) != toLower(word[i])) return false;
    }
    return word[length] == '\0';
}

// The one hex helper, both ways. 0..15 for a hex digit of either case; 16 for anything else.
constexpr int digitValue(char c) {
    return isDigit(c) ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 16;
}
// The upper-case hex digit of the low four bits of `value`.
constexpr char hexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }

struct Digits {
    uint64_t value;  // the number, modulo 2^64
    size_t count;    // how many digits were read
    bool exceeds;    // whether the number went past the cap
};

// Reads the run of digits of `base` (2..16) at `text`, stopping at the first other byte or at
// `end` (null: only the terminator stops it). The one number reader: every parser of a
// number in the program and its tools is this with its own sign, prefix and range rules
// around it.
inline Digits readDigits(const char* text, const char* end, int base, uint64_t cap) {
    Digits d{0, 0, false};
    for (; (!end || text + d.count < end) && digitValue(text[d.count]) < base; ++d.count) {
        const uint64_t digit = static_cast<uint64_t>(digitValue(text[d.count]));
        if (digit > cap || d.value > (cap - digit) / static_cast<uint64_t>(base)) d.exceeds = true;
        d.value = d.value * static_cast<uint64_t>(base) + digit;
    }
    return d;
}

}  // namespace ascii
