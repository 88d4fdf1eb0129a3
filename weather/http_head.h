#pragma once
// Reading an HTTP response header: the few fields the forecast download looks at, and how
// the body that follows it ends. Text in, fields out; no platform calls, no allocation.

#include <cstddef>
#include <cstdint>

class HttpResponseHead {
public:
    static constexpr size_t kContentTypeSize = 65;  // 64 characters and a terminator
    static constexpr size_t kLocationSize = 260;    // filled with at most 64 characters

    // Reads the first 1023 bytes of the zero-terminated `header` (status line, header
    // lines), ignoring ASCII case. False, changing nothing, for a null or empty header;
    // true otherwise, also when no field could be read. Names are found as substrings
    // anywhere in the text, so "x-content-type:" also counts as "content-type:".
    bool parse(const char* header);

    // 0 before a parse; -1 when there is no "http/" followed by a space and a number.
    int status() const { return status_; }
    // 0 without a "content-length:" line; -1 when no number follows it. Read as C's "%i"
    // reads: a sign, a leading 0 for octal and 0x for hex are accepted, and a value beyond
    // the int range is held at the nearest end of it.
    int contentLength() const { return contentLength_; }
    // The value of "content-type:" up to the carriage return, lower-cased, with every space
    // removed, from at most 64 characters of it.
    const char* contentType() const { return contentType_; }
    // The value of "location:", the same way.
    const char* location() const { return location_; }

private:
    int32_t status_ = 0;
    int32_t contentLength_ = 0;
    char contentType_[kContentTypeSize]{};
    char location_[kLocationSize]{};
};

// How the body after a complete header ends, and whether the connection may carry another
// request afterwards. Unlike HttpResponseHead this reads header lines properly (a name
// before the colon, a value after it), because a wrong answer here means reading stale
// bytes or waiting for bytes that never come.
struct BodyFraming {
    enum class Kind {
        untilClose,  // no usable length: the body ends when the server closes
        length,      // exactly `length` bytes
        chunked,     // chunked transfer coding, ended by its last chunk
    };
    Kind kind = Kind::untilClose;
    uint32_t length = 0;
    // HTTP/1.1 keeps the connection unless it says "Connection: close"; HTTP/1.0 only when
    // it says "Connection: keep-alive". Never true for a body that ends with the connection.
    bool keepAlive = false;

    // Reads the zero-terminated header text up to its blank line. Transfer-Encoding wins
    // over Content-Length; a coding other than chunked last means reading until close. A
    // Content-Length that is not plain decimal digits within 32 bits, or two that differ,
    // cannot be trusted: the body is then read until close. A null header gives untilClose.
    void parse(const char* header);
};

// Undoes the chunked transfer coding as the bytes arrive, in place, in pieces cut anywhere.
// Chunk extensions and trailer lines are skipped; a bare LF is accepted where CR LF belongs.
class ChunkedDecoder {
public:
    static constexpr size_t kMaxLineLength = 4096;  // a size line, or the whole trailer

    // Consumes `size` received bytes and moves the body bytes among them to the front of
    // `data`; returns how many there are. Once done() or failed(), further bytes are
    // only counted in excess().
    size_t decode(char* data, size_t size);
    // The last chunk and the trailer after it have been read.
    bool done() const { return state == State::done; }
    // The framing is broken: a size that is not hex or beyond 32 bits, data not followed by
    // a line end, or a line longer than kMaxLineLength.
    bool failed() const { return state == State::failed; }
    // Bytes that came after the end of the body (or after the fault).
    size_t excess() const { return excess_; }

private:
    enum class State { size, extension, sizeLineFeed, data, dataReturn, dataLineFeed, trailer, done, failed };
    void endSizeLine();

    State state = State::size;
    uint32_t chunkSize = 0;
    uint32_t remaining = 0;
    size_t lineLength = 0;
    size_t trailerLineLength = 0;
    bool sawDigit = false;
    size_t excess_ = 0;
};
