#pragma once
// ASCII-only character tests for protocol text. The C library's versions follow the
// active code page, where a GBK byte can pass for a letter or a blank.

namespace ascii {

constexpr bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
constexpr char toLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char toUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether two terminated texts are equal, ignoring the case of ASCII letters.
inline bool equalsIgnoringCase(const char* a, const char* b) {
    for (; toLower(*a) == toLower(*b); ++a, ++b) {
        if (*a == '\0') return true;
    }
    return false;
}

}  // namespace ascii
