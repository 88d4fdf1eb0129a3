// A whole response as a server might send it: the header goes through HttpResponseHead
// and BodyFraming, the body through ChunkedDecoder, fed in pieces cut at places the input
// itself picks. Beyond what the sanitizers catch, each input checks that the header's
// fields stay terminated and as long as documented and that nothing past its 1023rd byte
// counts, that the framing claims no length other than what every Content-Length line
// declares, that decoding does not depend on where the network cuts the bytes, and that
// any payload sent through the chunked coding (in chunks, extensions and line ends the
// input picks) decodes to exactly itself.

#include "fuzz/fuzz_check.h"
#include "common/ascii.h"
#include "net/body_framing.h"
#include "net/chunked_decoder.h"
#include "net/http_head.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

constexpr size_t kMaxHeaderBytes = 16384;  // the fetcher gives up on a longer header

bool terminatedWithin(const char* field, size_t size, size_t longest) {
    const void* end = std::memchr(field, 0, size);
    return end && static_cast<size_t>(static_cast<const char*>(end) - field) <= longest;
}

bool isLowerWithoutSpaces(const char* value) {
    for (; *value; ++value) {
        if (*value == ' ' || *value == '\r' || ascii::toLower(*value) != *value) return false;
    }
    return true;
}

void checkHead(const std::string& header) {
    ExactBuffer text = terminatedCopy(header.data(), header.size());
    std::unique_ptr<HttpResponseHead> head(new HttpResponseHead);  // on the heap: a write past it shows
    const bool parsed = head->parse(text.get());
    FUZZ_CHECK(parsed == (text.get()[0] != '\0'));
    FUZZ_CHECK(terminatedWithin(head->contentType(), HttpResponseHead::kContentTypeSize, 64));
    FUZZ_CHECK(terminatedWithin(head->location(), HttpResponseHead::kLocationSize, 64));
    FUZZ_CHECK(isLowerWithoutSpaces(head->contentType()) && isLowerWithoutSpaces(head->location()));
    if (!parsed) FUZZ_CHECK(head->status() == 0 && head->contentLength() == 0);

    // Only the first 1023 bytes are read, so the same bytes unterminated behave the same.
    if (header.size() >= 1023) {
        ExactBuffer cut(header.data(), 1023);
        HttpResponseHead same;
        FUZZ_CHECK(same.parse(cut.get()) == parsed);
        FUZZ_CHECK(same.status() == head->status() && same.contentLength() == head->contentLength());
    }
}

// Whether a header line (not the status line) is named `name`, with any value; and whether
// every such line's value, as decimal digits after blanks, is `value`.
bool hasLine(const std::string& lower, const char* name) {
    return lower.find(std::string("\n") + name) != std::string::npos;
}

bool everyLengthIs(const std::string& lower, uint32_t value) {
    for (size_t at = lower.find("\ncontent-length:"); at != std::string::npos;
         at = lower.find("\ncontent-length:", at + 1)) {
        const char* digits = lower.c_str() + at + sizeof "\ncontent-length:" - 1;
        while (*digits == ' ' || *digits == '\t') ++digits;
        if (!ascii::isDigit(*digits) || std::strtoull(digits, nullptr, 10) != value) return false;
    }
    return true;
}

void checkFraming(const std::string& header) {
    ExactBuffer text = terminatedCopy(header.data(), header.size());
    BodyFraming framing;
    framing.parse(text.get());
    // As far as the parser reads: to the first zero, and to the first blank line.
    std::string lower(text.get());
    lower.resize(std::min(std::min(lower.find("\n\n"), lower.find("\n\r\n")), lower.size() - 1) + 1);
    for (char& c : lower) c = ascii::toLower(c);
    const bool coded = hasLine(lower, "transfer-encoding:"), declared = hasLine(lower, "content-length:");
    if (framing.kind == BodyFraming::Kind::length) {
        // Never more (or less) body than every Content-Length line says, and none with a coding.
        FUZZ_CHECK(!coded && declared && everyLengthIs(lower, framing.length));
    } else {
        FUZZ_CHECK(framing.length == 0);
    }
    if (framing.kind == BodyFraming::Kind::chunked) FUZZ_CHECK(coded);
    if (framing.keepAlive) FUZZ_CHECK(framing.kind != BodyFraming::Kind::untilClose && !(coded && declared));
}

struct Decoded {
    std::string body;
    bool done;
    bool failed;
    size_t excess;
    bool operator==(const Decoded& o) const {
        return body == o.body && done == o.done && failed == o.failed && excess == o.excess;
    }
};

// Decodes `bytes` in pieces of the sizes `random` draws (all at once when `whole`), each
// piece in a block of its exact size.
Decoded decodeInPieces(const std::string& bytes, std::minstd_rand& random, bool whole) {
    ChunkedDecoder decoder;
    Decoded result{};
    for (size_t at = 0; at < bytes.size();) {
        size_t piece = whole ? bytes.size() : 1 + random() % 64;
        if (piece > bytes.size() - at) piece = bytes.size() - at;
        ExactBuffer block(bytes.data() + at, piece);
        const size_t out = decoder.decode(block.get(), piece);
        FUZZ_CHECK(out <= piece);
        result.body.append(block.get(), out);
        at += piece;
    }
    result.done = decoder.done();
    result.failed = decoder.failed();
    result.excess = decoder.excess();
    FUZZ_CHECK(!(result.done && result.failed));
    FUZZ_CHECK(result.body.size() + result.excess <= bytes.size());
    return result;
}

// `payload` in the chunked coding, in chunk sizes, extensions and line ends that `random`
// picks, followed by `tail`.
std::string chunked(const std::string& payload, const std::string& tail, std::minstd_rand& random) {
    static const char* const kExtensions[] = {"", "", ";a=b", " ;q", "\t;x=\"y\""};
    std::string out;
    const auto lineEnd = [&] { return random() % 4 ? "\r\n" : "\n"; };
    for (size_t at = 0; at < payload.size();) {
        size_t size = 1 + random() % 300;
        if (size > payload.size() - at) size = payload.size() - at;
        char hex[16];
        std::snprintf(hex, sizeof hex, random() % 2 ? "%zx" : "%04zX", size);
        out += hex;
        out += kExtensions[random() % 5];
        out += lineEnd();
        out.append(payload, at, size);
        out += lineEnd();
        at += size;
    }
    out += "0";
    out += lineEnd();
    if (random() % 2) out += std::string("Trailer-Field: value") + lineEnd();
    out += lineEnd();
    return out + tail;
}

void checkChunked(const std::string& body, uint32_t seed) {
    std::minstd_rand random(seed | 1);
    const Decoded whole = decodeInPieces(body, random, true);
    FUZZ_CHECK(decodeInPieces(body, random, false) == whole);

    const std::string tail = body.substr(0, random() % 8);
    const Decoded back = decodeInPieces(chunked(body, tail, random), random, false);
    FUZZ_CHECK(back.done && back.body == body && back.excess == tail.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The header ends with its first blank line, whichever line ends it uses.
    const size_t crlf = input.find("\r\n\r\n");
    const size_t lf = input.find("\n\n");
    size_t headerEnd = crlf == std::string::npos ? input.size() : crlf + 4;
    if (lf != std::string::npos && lf + 2 < headerEnd) headerEnd = lf + 2;
    if (headerEnd > kMaxHeaderBytes) return 0;
    const std::string header = input.substr(0, headerEnd);
    checkHead(header);
    checkFraming(header);

    uint32_t seed = 2166136261u;  // FNV-1a of the input: its own choice of cut points
    for (unsigned char c : input) seed = (seed ^ c) * 16777619u;
    checkChunked(input.substr(headerEnd), seed);
    return 0;
}
