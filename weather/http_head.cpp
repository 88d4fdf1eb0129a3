#include "weather/http_head.h"

#include "weather/ascii.h"

#include <climits>
#include <cstring>

namespace {

constexpr size_t kWorkSize = 1024;
constexpr size_t kValueCharacters = 64;

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// Reads an integer the way "%i" does: blanks, a sign, then 0x for hex, 0 for octal or
// else decimal. The value is held at the int range's ends instead of overflowing.
bool readInteger(const char* text, int32_t& value) {
    while (ascii::isBlank(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int base = 10;
    if (text[0] == '0') {
        base = 8;
        if ((text[1] == 'x' || text[1] == 'X') && digitValue(text[2]) < 16) {
            base = 16;
            text += 2;
        }
    }
    if (digitValue(*text) >= base) return false;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; digitValue(*text) < base; ++text) {
        magnitude = magnitude * base + digitValue(*text);
        if (magnitude > limit) magnitude = limit;
    }
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

bool equalsIgnoringCase(const char* text, size_t length, const char* word) {
    if (std::strlen(word) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (ascii::toLower(text[i]) != word[i]) return false;
    }
    return true;
}

bool isLinearSpace(char c) { return c == ' ' || c == '\t'; }

// One comma-separated token of a header value, without the blanks around it.
struct Token {
    const char* text;
    size_t length;
};

// Calls `visit` for every token of the value [begin, end).
template <class Visit>
void forEachToken(const char* begin, const char* end, Visit visit) {
    while (begin < end) {
        const char* comma = begin;
        while (comma < end && *comma != ',') ++comma;
        const char* first = begin;
        const char* last = comma;
        while (first < last && isLinearSpace(*first)) ++first;
        while (last > first && isLinearSpace(last[-1])) --last;
        visit(Token{first, static_cast<size_t>(last - first)});
        begin = comma + 1;
    }
}

// Plain decimal digits only: a sign, blanks inside or a value past 32 bits is refused.
bool readDecimalLength(const char* begin, const char* end, uint32_t& value) {
    if (begin == end) return false;
    unsigned long long total = 0;
    for (const char* p = begin; p < end; ++p) {
        if (*p < '0' || *p > '9') return false;
        total = total * 10 + static_cast<unsigned>(*p - '0');
        if (total > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(total);
    return true;
}

// Keeps HTTP/1.1 and later apart from HTTP/1.0 and earlier; the rest of the line is not needed.
bool isAtLeastHttp11(const char* line, const char* end) {
    if (end - line < 8 || !equalsIgnoringCase(line, 5, "http/")) return false;
    const char major = line[5];
    const char minor = line[7];
    if (major < '0' || major > '9' || line[6] != '.' || minor < '0' || minor > '9') return false;
    return major > '1' || (major == '1' && minor >= '1');
}

}  // namespace

bool HttpResponseHead::parse(const char* header) {
    if (!header || header[0] == '\0') return false;

    char work[kWorkSize];
    size_t length = 0;
    for (; length < kWorkSize - 1 && header[length] != '\0'; ++length) work[length] = ascii::toLower(header[length]);
    work[length] = '\0';

    status_ = -1;
    if (const char* version = std::strstr(work, "http/")) {
        const char* space = std::strchr(version, ' ');
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

void BodyFraming::parse(const char* header) {
    *this = BodyFraming{};
    if (!header) return;

    const char* lineEnd = std::strchr(header, '\n');
    if (!lineEnd) lineEnd = header + std::strlen(header);
    bool keep = isAtLeastHttp11(header, lineEnd);

    bool sawEncoding = false;
    bool chunkedLast = false;
    bool sawLength = false;
    bool lengthBroken = false;
    uint32_t declaredLength = 0;
    bool saidClose = false;
    bool saidKeepAlive = false;

    for (const char* line = *lineEnd ? lineEnd + 1 : lineEnd; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const char* next = end ? end + 1 : line + std::strlen(line);
        if (!end) end = next;
        if (end > line && end[-1] == '\r') --end;
        if (end == line) break;  // the blank line that ends the header

        const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<size_t>(end - line)));
        // A line that begins with a blank continues the previous one; none of ours do.
        if (colon && !isLinearSpace(line[0])) {
            const size_t nameLength = static_cast<size_t>(colon - line);
            const char* value = colon + 1;
            const char* valueEnd = end;
            while (value < valueEnd && isLinearSpace(*value)) ++value;
            while (valueEnd > value && isLinearSpace(valueEnd[-1])) --valueEnd;

            if (equalsIgnoringCase(line, nameLength, "transfer-encoding")) {
                // Codings of several lines concatenate: the last token of the last line counts.
                sawEncoding = true;
                forEachToken(value, valueEnd, [&](Token t) {
                    if (t.length) chunkedLast = equalsIgnoringCase(t.text, t.length, "chunked");
                });
            } else if (equalsIgnoringCase(line, nameLength, "content-length")) {
                uint32_t n = 0;
                if (!readDecimalLength(value, valueEnd, n) || (sawLength && n != declaredLength)) lengthBroken = true;
                declaredLength = n;
                sawLength = true;
            } else if (equalsIgnoringCase(line, nameLength, "connection")) {
                forEachToken(value, valueEnd, [&](Token t) {
                    if (equalsIgnoringCase(t.text, t.length, "close")) saidClose = true;
                    if (equalsIgnoringCase(t.text, t.length, "keep-alive")) saidKeepAlive = true;
                });
            }
        }
        line = next;
    }

    if (sawEncoding) {
        kind = chunkedLast ? Kind::chunked : Kind::untilClose;
        // Both framings at once is how responses get smuggled; do not trust what follows.
        if (sawLength) keep = false;
    } else if (sawLength && !lengthBroken) {
        kind = Kind::length;
        length = declaredLength;
    }
    if (saidKeepAlive) keep = true;
    if (saidClose) keep = false;
    keepAlive = keep && kind != Kind::untilClose;
}

void ChunkedDecoder::endSizeLine() {
    if (chunkSize == 0) {
        state = State::trailer;
    } else {
        remaining = chunkSize;
        state = State::data;
    }
    chunkSize = 0;
    sawDigit = false;
    lineLength = 0;
    trailerLineLength = 0;
}

size_t ChunkedDecoder::decode(char* data, size_t size) {
    size_t out = 0;
    size_t in = 0;
    for (; in < size && state != State::done && state != State::failed; ++in) {
        const char c = data[in];
        switch (state) {
            case State::size: {
                const int digit = digitValue(c);
                if (digit < 16) {
                    if (chunkSize > 0x0FFFFFFFu || ++lineLength > kMaxLineLength) {
                        state = State::failed;
                    } else {
                        chunkSize = chunkSize * 16 + static_cast<uint32_t>(digit);
                        sawDigit = true;
                    }
                } else if (!sawDigit) {
                    state = State::failed;
                } else if (c == ';' || isLinearSpace(c)) {
                    state = State::extension;
                } else if (c == '\r') {
                    state = State::sizeLineFeed;
                } else if (c == '\n') {
                    endSizeLine();
                } else {
                    state = State::failed;
                }
                break;
            }
            case State::extension:
                if (c == '\n') {
                    endSizeLine();
                } else if (++lineLength > kMaxLineLength) {
                    state = State::failed;
                }
                break;
            case State::sizeLineFeed:
                if (c == '\n') {
                    endSizeLine();
                } else {
                    state = State::failed;
                }
                break;
            case State::data: {
                const size_t available = size - in;
                const size_t take = remaining < available ? remaining : available;
                std::memmove(data + out, data + in, take);
                out += take;
                in += take - 1;
                remaining -= static_cast<uint32_t>(take);
                if (remaining == 0) state = State::dataReturn;
                break;
            }
            case State::dataReturn:
                state = c == '\r' ? State::dataLineFeed : c == '\n' ? State::size : State::failed;
                break;
            case State::dataLineFeed:
                state = c == '\n' ? State::size : State::failed;
                break;
            case State::trailer:
                if (++lineLength > kMaxLineLength) {
                    state = State::failed;
                } else if (c == '\n') {
                    if (trailerLineLength == 0) state = State::done;
                    trailerLineLength = 0;
                } else if (c != '\r') {
                    ++trailerLineLength;
                }
                break;
            case State::done:
            case State::failed:
                break;
        }
    }
    excess_ += size - in;
    return out;
}
