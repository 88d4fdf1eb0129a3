// URL splitting and GBK percent coding on any bytes. Beyond what the sanitizers catch, each
// input checks what url_parts.h promises: a coder's output needs exactly its length and a
// terminator, one byte less is refused with the destination untouched, and decoding an
// encoded text gives back its letters, digits, full stops and double-byte characters;
// every field of a split URL is terminated, a URL that splits is kept as given (with
// "index.html" after a final '/'), and a URL with no terminator is read no further than its
// 256th byte.

#include "fuzz/fuzz_check.h"
#include "common/ascii.h"
#include "common/lead_byte.h"
#include "net/url_parts.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using Coder = bool (*)(const char*, char*, size_t);

// Runs a coder through its size contract and returns its output (up to the first zero).
std::string codeChecked(Coder code, const char* source, size_t bound) {
    ExactBuffer roomy(bound);
    FUZZ_CHECK(code(source, roomy.get(), roomy.size()) && roomy.terminated());
    // The smallest size that fits is the result's, terminator included; it may hold a zero
    // before that (a decoded "%B1%00"), so the search starts at the first zero.
    for (size_t size = std::strlen(roomy.get()); size < bound; ++size) {
        ExactBuffer trial(size);
        if (!code(source, trial.get(), size)) {
            FUZZ_CHECK(trial.untouched());
            continue;
        }
        FUZZ_CHECK(trial.get()[size - 1] == '\0' && std::memcmp(trial.get(), roomy.get(), size) == 0);
        break;
    }
    return roomy.get();
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
    const std::string whole = length && url[length - 1] == '/' ? std::string(url) + "index.html" : url;
    FUZZ_CHECK(whole == parts->url() && whole.find(parts->host()) != std::string::npos);
    FUZZ_CHECK(parts->path()[0] == '/' && parts->fileName()[0] != '\0');
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
