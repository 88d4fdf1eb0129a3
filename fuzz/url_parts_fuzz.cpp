// Percent coding needs exactly its room (less: refused, nothing written); a URL that splits is
// kept as given, one with no terminator is read no further than its 256th byte.

#include "fuzz/fuzz_check.h"
#include "net/url_parts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using Coder = bool (*)(const char*, char*, size_t);

// `code` with ample room, then from a byte short of that output upwards: refused, untouched, until it fits.
void checkRoom(Coder code, const char* source, size_t bound) {
    ExactBuffer roomy(bound, nullptr);
    FUZZ_CHECK(code(source, roomy.get(), bound) && std::memchr(roomy.get(), 0, bound));
    for (size_t size = std::strlen(roomy.get()); size < bound; ++size) {
        ExactBuffer trial(size, nullptr);
        if (code(source, trial.get(), size)) {
            FUZZ_CHECK(trial.get()[size - 1] == '\0' && std::memcmp(trial.get(), roomy.get(), size) == 0);
            break;
        }
        FUZZ_CHECK(std::count(trial.get(), trial.get() + size, ExactBuffer::kFill) == static_cast<long>(size));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExactBuffer input(size, data, true);
    const std::string text(input.get());  // up to the first zero, as the coders see it
    checkRoom(UrlParts::percentEncode, text.c_str(), 3 * text.size() + 4);
    checkRoom(UrlParts::percentDecode, text.c_str(), text.size() + 1);

    std::unique_ptr<UrlParts> parts(new UrlParts);  // on the heap, so a write past it shows
    if (parts->parse(input.get()))
        FUZZ_CHECK((text.empty() || text.back() != '/' ? text : text + "index.html") == parts->url());
    if (text.size() >= UrlParts::kUrlSize) {
        ExactBuffer unterminated(UrlParts::kUrlSize, data);
        FUZZ_CHECK(!parts->parse(unterminated.get()));
    }
    return 0;
}
