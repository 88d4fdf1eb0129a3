#include "net/http_head.h"

#include "common/ascii.h"

#include <climits>
#include <cstring>

namespace {

constexpr size_t kWorkSize = 1024;
constexpr size_t kValueCharacters = 64;

// Reads an integer the way "%i" does: blanks, a sign, then 0x for hex, 0 for octal or
// else decimal. The value is held at the int range's ends instead of overflowing.
bool readInteger(const char* text, int32_t& value) {
    while (ascii::isBlank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int base = 10;
    if (text[0] == '0') {
        base = 8;
        if ((text[1] == 'x' || text[1] == 'X') && ascii::digitValue(text[2]) < 16) {
            base = 16;
            text += 2;
        }
    }
    const uint64_t limit = negative ? uint64_t{1} + INT_MAX : INT_MAX;
    const ascii::Digits digits = ascii::readDigits(text, nullptr, base, limit);
    if (digits.count == 0) return false;
    const long long magnitude = static_cast<long long>(digits.exceeds ? limit : digits.value);
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

// After `name`, skips one space, then copies the non-space characters among at most 64
// that come before a carriage return or the end.
void copyValue(const char* text, const char* name, char* out) {
    const char* p = std::strstr(text, name);
    if (!p) return;
    p += std::strlen(name);
    if (*p == ' ') ++p;
    size_t written = 0;
    for (size_t i = 0; i < kValueCharacters && p[i] != '\0' && p[i] != '\r'; ++i) {
        if (p[i] != ' ') out[written++] = p[i];
    }
    out[written] = '\0';
}

}  // namespace

bool HttpResponseHead::parse(const char* header) {
    if (!header || header[0] == '\0') return false;

    char work[kWorkSize];
    size_t length = 0;
    for (; length < kWorkSize - 1 && header[length] != '\0'; ++length) work[length] = ascii::toLower(header[length]);
    work[length] = '\0';

    // Only the status line says the status: "http/" further down belongs to some other
    // header's value.
    status_ = -1;
    if (std::strncmp(work, "http/", 5) == 0) {
        const size_t lineLength = std::strcspn(work, "\r\n");
        const char* space = static_cast<const char*>(std::memchr(work, ' ', lineLength));
        int32_t value = 0;
        if (space && readInteger(space + 1, value)) status_ = value;
    }

    contentType_[0] = '\0';
    location_[0] = '\0';
    copyValue(work, "content-type:", contentType_);
    copyValue(work, "location:", location_);

    contentLength_ = 0;
    if (const char* line = std::strstr(work, "content-length:")) {
        line += sizeof "content-length:" - 1;
        if (*line == ' ') ++line;
        int32_t value = 0;
        contentLength_ = readInteger(line, value) ? value : -1;
    }
    return true;
}
