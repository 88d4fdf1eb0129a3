#include "net/body_framing.h"

#include "common/ascii.h"

#include <cstddef>
#include <cstring>

namespace {

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
    const ascii::Digits digits = ascii::readDigits(begin, end, 10, 0xFFFFFFFFu);
    if (digits.count == 0 || digits.exceeds || begin + digits.count != end) return false;
    value = static_cast<uint32_t>(digits.value);
    return true;
}

// Keeps HTTP/1.1 and later apart from HTTP/1.0 and earlier; the rest of the line is not needed.
bool isAtLeastHttp11(const char* line, const char* end) {
    if (end - line < 8 || !ascii::equalsIgnoringCase(line, 5, "http/")) return false;
    const char major = line[5];
    const char minor = line[7];
    if (major < '0' || major > '9' || line[6] != '.' || minor < '0' || minor > '9') return false;
    return major > '1' || (major == '1' && minor >= '1');
}

// What the header's lines say about the framing, gathered before anything is decided.
struct FramingFields {
    bool sawEncoding = false;
    bool chunkedLast = false;
    bool sawLength = false;
    bool lengthBroken = false;
    uint32_t declaredLength = 0;
    bool saidClose = false;
    bool saidKeepAlive = false;
    bool encoded = false;
};

// One header line: its name, and its value without the blanks around it.
struct HeaderField {
    const char* name;
    size_t nameLength;
    const char* value;
    const char* valueEnd;
};

// Calls `visit` for every field line from `line` on, up to the blank line that ends the
// header or the end of the text. A line that begins with a blank continues the previous
// one (none of the fields read here do) and a line without a colon is no field: both are
// passed over.
template <class Visit>
void forEachField(const char* line, Visit visit) {
    while (*line != '\0') {
        const char* end = std::strchr(line, '\n');
        const char* next = end ? end + 1 : line + std::strlen(line);
        if (!end) end = next;
        if (end > line && end[-1] == '\r') --end;
        if (end == line) break;  // the blank line that ends the header

        const char* colon = static_cast<const char*>(std::memchr(line, ':', static_cast<size_t>(end - line)));
        if (colon && !isLinearSpace(line[0])) {
            const char* value = colon + 1;
            const char* valueEnd = end;
            while (value < valueEnd && isLinearSpace(*value)) ++value;
            while (valueEnd > value && isLinearSpace(valueEnd[-1])) --valueEnd;
            visit(HeaderField{line, static_cast<size_t>(colon - line), value, valueEnd});
        }
        line = next;
    }
}

void noteField(const HeaderField& field, FramingFields& seen) {
    // A coding counts even under a name with blanks before its colon: refusing is the safe
    // reading there, as reading no length is for the framing's names.
    size_t bareName = field.nameLength;
    while (bareName > 0 && isLinearSpace(field.name[bareName - 1])) --bareName;
    if (ascii::equalsIgnoringCase(field.name, field.nameLength, "transfer-encoding")) {
        // Codings of several lines concatenate: the last token of the last line counts.
        seen.sawEncoding = true;
        forEachToken(field.value, field.valueEnd, [&](Token t) {
            if (t.length) seen.chunkedLast = ascii::equalsIgnoringCase(t.text, t.length, "chunked");
        });
    } else if (ascii::equalsIgnoringCase(field.name, field.nameLength, "content-length")) {
        uint32_t n = 0;
        if (!readDecimalLength(field.value, field.valueEnd, n) || (seen.sawLength && n != seen.declaredLength)) {
            seen.lengthBroken = true;
        }
        seen.declaredLength = n;
        seen.sawLength = true;
    } else if (ascii::equalsIgnoringCase(field.name, field.nameLength, "connection")) {
        forEachToken(field.value, field.valueEnd, [&](Token t) {
            if (ascii::equalsIgnoringCase(t.text, t.length, "close")) seen.saidClose = true;
            if (ascii::equalsIgnoringCase(t.text, t.length, "keep-alive")) seen.saidKeepAlive = true;
        });
    } else if (ascii::equalsIgnoringCase(field.name, bareName, "content-encoding")) {
        forEachToken(field.value, field.valueEnd, [&](Token t) {
            if (t.length && !ascii::equalsIgnoringCase(t.text, t.length, "identity")) seen.encoded = true;
        });
    }
}

BodyFraming decide(const FramingFields& seen, bool http11) {
    BodyFraming framing;
    if (seen.sawEncoding) {
        framing.kind = seen.chunkedLast ? BodyFraming::Kind::chunked : BodyFraming::Kind::untilClose;
    } else if (seen.sawLength && !seen.lengthBroken) {
        framing.kind = BodyFraming::Kind::length;
        framing.length = seen.declaredLength;
    }
    bool keep = http11;
    if (seen.saidKeepAlive) keep = true;
    if (seen.saidClose) keep = false;
    // Both framings at once is how responses get smuggled: whatever follows such a body on
    // the connection cannot be trusted, and no Connection line changes that.
    const bool smuggling = seen.sawEncoding && seen.sawLength;
    framing.keepAlive = keep && !smuggling && framing.kind != BodyFraming::Kind::untilClose;
    framing.encoded = seen.encoded;
    return framing;
}

}  // namespace

void BodyFraming::parse(const char* header) {
    *this = BodyFraming{};
    if (!header) return;
    const char* statusEnd = std::strchr(header, '\n');
    if (!statusEnd) statusEnd = header + std::strlen(header);
    FramingFields seen;
    forEachField(*statusEnd ? statusEnd + 1 : statusEnd, [&](const HeaderField& field) { noteField(field, seen); });
    *this = decide(seen, isAtLeastHttp11(header, statusEnd));
}
