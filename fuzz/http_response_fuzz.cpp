// A response as a server might send it: the header's fields stay terminated; the body decodes
// the same wherever the input cuts it, and any payload sent chunked decodes to exactly itself.

#include "fuzz/fuzz_check.h"
#include "net/body_framing.h"
#include "net/chunked_decoder.h"
#include "net/http_head.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>

namespace {

// `bytes` decoded in pieces of exact blocks, sized by `random` or whole: body, done, failed, excess.
auto decode(const std::string& bytes, std::minstd_rand& random, bool whole) {
    ChunkedDecoder decoder;
    std::string body;
    for (size_t at = 0, piece; at < bytes.size(); at += piece) {
        piece = std::min<size_t>(whole ? bytes.size() : 1 + random() % 64, bytes.size() - at);
        ExactBuffer block(piece, bytes.data() + at);
        body.append(block.get(), decoder.decode(block.get(), piece));
    }
    FUZZ_CHECK(!(decoder.done() && decoder.failed()) && body.size() + decoder.excess() <= bytes.size());
    return std::make_tuple(body, decoder.done(), decoder.failed(), decoder.excess());
}

// `payload` chunked in sizes, extensions and line ends that `random` picks, then `tail`.
std::string chunked(const std::string& payload, const std::string& tail, std::minstd_rand& random) {
    static const char* const kExtensions[] = {"", "", ";a=b", " ;q", "\t;x=\"y\""};
    const auto lineEnd = [&] { return random() % 4 ? "\r\n" : "\n"; };
    std::string out;
    for (size_t at = 0, size; at < payload.size(); at += size) {
        size = std::min<size_t>(1 + random() % 300, payload.size() - at);
        char hex[16];
        std::snprintf(hex, sizeof hex, random() % 2 ? "%zx" : "%04zX", size);
        out += hex + std::string(kExtensions[random() % 5]) + lineEnd() + payload.substr(at, size) + lineEnd();
    }
    out += std::string("0") + lineEnd();
    if (random() % 2) out += std::string("Trailer-Field: value") + lineEnd();
    return out + lineEnd() + tail;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    // The header ends at its first blank line; the fetcher gives up on one over 16 KiB.
    const size_t crlf = input.find("\r\n\r\n"), lf = input.find("\n\n");
    const size_t end = std::min(crlf == std::string::npos ? size : crlf + 4, lf == std::string::npos ? size : lf + 2);
    if (end > 16384) return 0;
    ExactBuffer header(end, data, true);
    std::unique_ptr<HttpResponseHead> head(new HttpResponseHead);  // on the heap: a write past it shows
    head->parse(header.get());
    BodyFraming().parse(header.get());
    FUZZ_CHECK(std::memchr(head->contentType(), 0, HttpResponseHead::kContentTypeSize) &&
               std::memchr(head->location(), 0, HttpResponseHead::kLocationSize));

    const std::string body = input.substr(end), tail = body.substr(0, size % 8);
    std::minstd_rand random(static_cast<uint32_t>(std::hash<std::string>()(input)) | 1);  // its own cut points
    FUZZ_CHECK(decode(body, random, false) == decode(body, random, true));
    FUZZ_CHECK(decode(chunked(body, tail, random), random, false) == std::make_tuple(body, true, false, tail.size()));
    return 0;
}
