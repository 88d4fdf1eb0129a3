// URL splitting and GBK percent coding on any bytes. Beyond what the sanitizers catch, each
// input checks what url_parts.h promises: a coder's output fits exactly the size it needs,
// one byte less is refused with the destination untouched, and decoding an encoded text
// gives back its letters, digits, full stops and double-byte characters; every field of a
// split URL is terminated and agrees with the URL it came from, and a URL with no
// terminator is read no further than its 256th byte.

#include "fuzz/fuzz_check.h"
#include "weather/ascii.h"
#include "weather/lead_byte.h"
#include "weather/url_parts.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using Coder = bool (*)(const char*, char*, size_t);

// Runs a coder through its size contract and returns its output (up to the first zero).
std::string codeChecked(Coder code, const char* source, size_t bound) {
    ExactBuffer roomy(bound);
    FUZZ_CHECK(code(source, roomy.get(), roomy.size()));
    // The smallest size that succeeds is the exact length of the result.
    size_t low = 1, high = bound;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        ExactBuffer trial(middle);
        if (code(source, trial.get(), trial.size())) {
            high = middle;
        } else {
            FUZZ_CHECK(trial.untouched());
            low = middle;
            ++low;
        }
    }
    ExactBuffer exact(low);
    FUZZ_CHECK(code(source, exact.get(), exact.size()));
    FUZZ_CHECK(exact.get()[exact.size() - 1] == '\0');
    FUZZ_CHECK(std::memcmp(exact.get(), roomy.get(), exact.size()) == 0);
    ExactBuffer tooSmall(low - 1);
    FUZZ_CHECK(!code(source, tooSmall.get(), tooSmall.size()));
    FUZZ_CHECK(tooSmall.untouched());
    return exact.get();
}

bool keptByDecode(char c) { return ascii::isLetter(c) || ascii::isDigit(c) || c == '.'; }

// What survives encode-then-decode of a text that holds no '%': double-byte characters
// whole (a lead byte before the terminator alone), letters, digits and full stops.
std::string survivors(const std::string& text) {
    std::string kept;
    for (size_t i = 0; i < text.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(text[i]))) {
            kept += text.substr(i, 2);
            ++i;
        } else if (keptByDecode(text[i])) {
            kept += text[i];
        }
    }
    return kept;
}

void checkCoders(const std::string& text) {
    const std::string encoded = codeChecked(UrlParts::percentEncode, text.c_str(), 3 * text.size() + 4);
    FUZZ_CHECK(encoded.size() <= 3 * text.size() + 3);
    for (char c : encoded) FUZZ_CHECK(!isLeadByte(static_cast<unsigned char>(c)));

    const std::string decoded = codeChecked(UrlParts::percentDecode, text.c_str(), text.size() + 1);
    FUZZ_CHECK(decoded.size() <= text.size());

    if (text.find('%') == std::string::npos) {
        FUZZ_CHECK(codeChecked(UrlParts::percentDecode, encoded.c_str(), encoded.size() + 1) == survivors(text));
    }
}

// atoi's reading (blanks, a sign, decimal digits) of any length, in its low 16 bits.
int portAfter(const char* text) {
    while (ascii::isBlank(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    unsigned value = 0;
    for (; ascii::isDigit(*text); ++text) value = (value * 10 + static_cast<unsigned>(*text - '0')) & 0xFFFFu;
    return static_cast<int>((negative ? 0x10000u - value : value) & 0xFFFFu);
}

bool terminatedWithin(const char* field, size_t size) { return std::memchr(field, 0, size) != nullptr; }

void checkSplit(const char* url, size_t length) {
    std::unique_ptr<UrlParts> parts(new UrlParts);  // on the heap, so a write past it shows
    const bool ok = parts->parse(url);
    FUZZ_CHECK(terminatedWithin(parts->url(), UrlParts::kUrlSize));
    FUZZ_CHECK(terminatedWithin(parts->host(), UrlParts::kHostSize));
    FUZZ_CHECK(terminatedWithin(parts->path(), UrlParts::kPathSize));
    FUZZ_CHECK(terminatedWithin(parts->fileName(), UrlParts::kFileNameSize));
    FUZZ_CHECK(parts->port() >= 0 && parts->port() <= 65535);
    if (!ok) return;

    // The fields agree with the URL, so none of them was overwritten by its neighbour.
    const std::string whole = length && url[length - 1] == '/' ? std::string(url) + "index.html" : url;
    FUZZ_CHECK(whole == parts->url());
    const size_t hostStart = whole.find("://") + 3;
    size_t hostEnd = hostStart;
    while (hostEnd < whole.size() && UrlParts::isHostChar(whole[hostEnd])) ++hostEnd;
    FUZZ_CHECK(whole.substr(hostStart, hostEnd - hostStart) == parts->host());
    const std::string rest = whole.substr(hostEnd);
    const size_t slash = rest.find('/');
    FUZZ_CHECK(slash != std::string::npos);
    char expected[UrlParts::kPathSize];
    FUZZ_CHECK(UrlParts::percentEncode(rest.c_str() + slash, expected) && std::strcmp(expected, parts->path()) == 0);
    FUZZ_CHECK(UrlParts::percentDecode(rest.c_str() + rest.rfind('/') + 1, expected) &&
               std::strcmp(expected, parts->fileName()) == 0);
    FUZZ_CHECK(parts->fileName()[0] != '\0');

    // The port: after the first ':' behind the host, as atoi reads it, cut to 16 bits.
    const size_t colon = rest.find(':');
    const bool http = ascii::toLower(url[0]) == 'h';
    FUZZ_CHECK(parts->port() == (colon == std::string::npos ? (http ? 80 : 21) : portAfter(rest.c_str() + colon + 1)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExactBuffer input = terminatedCopy(data, size);
    const std::string text(input.get());  // up to the first zero, as the coders see it
    checkCoders(text);
    checkSplit(input.get(), text.size());

    if (text.size() >= UrlParts::kUrlSize) {
        ExactBuffer unterminated(data, UrlParts::kUrlSize);
        UrlParts parts;
        FUZZ_CHECK(!parts.parse(unterminated.get()));
    }
    return 0;
}
