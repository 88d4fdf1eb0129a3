#pragma once
// How the body after a complete response header ends, and whether the connection may carry
// another request afterwards. Text in, fields out; no platform calls, no allocation.

#include <cstdint>

// Unlike HttpResponseHead this reads header lines properly (a name
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
    // it says "Connection: keep-alive". Never true for a body that ends with the connection,
    // nor for one that declares both a transfer coding and a length, whatever the
    // Connection line says.
    bool keepAlive = false;
    // A Content-Encoding (blanks before its colon allowed) names a coding other than
    // identity: the body is not the resource itself (never asked for, so never decoded).
    bool encoded = false;

    // Reads the zero-terminated header text up to its blank line. Transfer-Encoding wins
    // over Content-Length; a coding other than chunked last means reading until close. A
    // Content-Length that is not plain decimal digits within 32 bits, or two that differ,
    // cannot be trusted: the body is then read until close. A null header gives untilClose.
    void parse(const char* header);
};
