#include "net/url_parts.h"

#include "common/ascii.h"
#include "common/lead_byte.h"

#include <cstring>

namespace {

struct Scheme {
    const char* prefix;
    uint16_t port;
};

constexpr Scheme kSchemes[] = {{"http://", 80}, {"ftp://", 21}};
constexpr char kIndexPage[] = "index.html";

// Compares over the prefix's length; a shorter text differs at its terminator, so
// nothing past it is read.
bool startsWithIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (ascii::toUpper(*text) != ascii::toUpper(*prefix)) return false;
    }
    return true;
}

// Reads a number the way atoi does (blanks, a sign, decimal digits, 0 when none) but keeps
// only its low 16 bits, so any length of digits is well defined.
uint16_t readPortNumber(const char* text) {
    while (ascii::isBlank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    // Digits beyond 64 bits only wrap, which keeps the low 16 bits right.
    const auto value = static_cast<uint16_t>(ascii::readDigits(text, nullptr, 10, UINT64_MAX).value);
    return negative ? static_cast<uint16_t>(0u - value) : value;
}

// Output that only counts until it is given somewhere to write; the coders run once to
// measure and once to write, so a destination is never touched by a result that does not fit.
class Output {
public:
    explicit Output(char* destination) : out(destination) {}
    void put(char c) {
        if (out) out[count] = c;
        ++count;
    }
    size_t size() const { return count; }

private:
    char* out;
    size_t count = 0;
};

void encodeInto(const char* source, Output& output) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(source);
    for (;;) {
        if (isLeadByte(s[0])) {
            char hex[4];
            UrlParts::hexPair(s[0], s[1], hex);
            output.put('%');
            output.put(hex[0]);
            output.put(hex[1]);
            output.put('%');
            output.put(hex[2]);
            output.put(hex[3]);
            // A lead byte right before the terminator has just consumed it as its trail byte.
            if (s[1] == 0) {
                output.put('\0');
                return;
            }
            s += 2;
        } else {
            output.put(static_cast<char>(s[0]));
            if (s[0] == 0) return;
            ++s;
        }
    }
}

unsigned char byteFromHex(char high, char low) {
    return static_cast<unsigned char>(UrlParts::hexDigitValue(high) * 16 + UrlParts::hexDigitValue(low));
}

void decodeInto(const char* source, Output& output) {
    const size_t length = std::strlen(source);
    size_t i = 0;
    while (i < length) {
        if (i + 6 <= length && source[i] == '%' && source[i + 3] == '%') {
            const unsigned char first = byteFromHex(source[i + 1], source[i + 2]);
            if (isLeadByte(first)) {
                output.put(static_cast<char>(first));
                output.put(static_cast<char>(byteFromHex(source[i + 4], source[i + 5])));
                i += 6;
                continue;
            }
        }
        if (ascii::isLetter(source[i]) || ascii::isDigit(source[i]) || source[i] == '.') output.put(source[i]);
        ++i;
    }
    output.put('\0');
}

}  // namespace

void UrlParts::hexPair(unsigned char first, unsigned char second, char out[4]) {
    out[0] = ascii::hexDigit(first >> 4);
    out[1] = ascii::hexDigit(first);
    out[2] = ascii::hexDigit(second >> 4);
    out[3] = ascii::hexDigit(second);
}

int UrlParts::hexDigitValue(char c) {
    const int value = ascii::digitValue(c);
    if (value < 16) return value;
    // Decoding never refuses: a letter past F wraps, anything else counts as 0.
    if (ascii::isLetter(c)) return (ascii::toUpper(c) - 'A' + 10) % 16;
    return 0;
}

bool UrlParts::isHostChar(char c) {
    return ascii::isLetter(c) || ascii::isDigit(c) || c == '-' || c == '.' || c == '_';
}

namespace {

// Runs `code` once to measure and, when the result fits, once more to write it.
bool measureThenWrite(const char* source, char* destination, size_t destinationSize,
                      void (*code)(const char*, Output&)) {
    if (!source || !destination) return false;
    Output measure(nullptr);
    code(source, measure);
    if (measure.size() > destinationSize) return false;
    Output output(destination);
    code(source, output);
    return true;
}

}  // namespace

bool UrlParts::percentEncode(const char* source, char* destination, size_t destinationSize) {
    return measureThenWrite(source, destination, destinationSize, encodeInto);
}

bool UrlParts::percentDecode(const char* source, char* destination, size_t destinationSize) {
    return measureThenWrite(source, destination, destinationSize, decodeInto);
}

void UrlParts::clear() {
    std::memset(path_, 0, sizeof path_);
    std::memset(host_, 0, sizeof host_);
    std::memset(fileName_, 0, sizeof fileName_);
    std::memset(url_, 0, sizeof url_);
}

bool UrlParts::parse(const char* url) {
    clear();
    port_ = 0xFFFF;
    if (!url) return false;

    const Scheme* scheme = nullptr;
    for (const Scheme& candidate : kSchemes) {
        if (startsWithIgnoringCase(url, candidate.prefix)) {
            scheme = &candidate;
            break;
        }
    }
    if (!scheme) return false;
    port_ = scheme->port;

    const size_t length = strnlen(url, kUrlSize);
    if (length >= kUrlSize) return false;
    const bool endsInSlash = url[length - 1] == '/';
    if (endsInSlash && length + sizeof kIndexPage > kUrlSize) return false;
    std::memcpy(url_, url, length);
    if (endsInSlash) std::memcpy(url_ + length, kIndexPage, sizeof kIndexPage);

    const char* hostStart = std::strstr(url_, "://") + 3;
    size_t hostLength = 0;
    while (isHostChar(hostStart[hostLength])) ++hostLength;
    if (hostLength >= kHostSize) return false;
    std::memcpy(host_, hostStart, hostLength);
    const char* rest = hostStart + hostLength;

    if (const char* colon = std::strchr(rest, ':')) port_ = readPortNumber(colon + 1);

    const char* firstSlash = std::strchr(rest, '/');
    if (!firstSlash) return false;
    if (!percentEncode(firstSlash, path_)) return false;
    if (!percentDecode(std::strrchr(rest, '/') + 1, fileName_)) return false;
    return fileName_[0] != '\0';
}
