#pragma once
// Reading an HTTP response header: the few fields the forecast download looks at. Text in,
// fields out; no platform calls, no allocation.

#include <cstddef>
#include <cstdint>

class HttpResponseHead {
public:
    static constexpr size_t kContentTypeSize = 65;  // 64 characters and a terminator
    static constexpr size_t kLocationSize = 260;    // filled with at most 64 characters

    // Reads the first 1023 bytes of the zero-terminated `header` (status line, header
    // lines), ignoring ASCII case. False, changing nothing, for a null or empty header;
    // true otherwise, also when no field could be read. The status comes from the status
    // line only; the other names are found as substrings anywhere in the text, so
    // "x-content-type:" also counts as "content-type:".
    bool parse(const char* header);

    // 0 before a parse; -1 unless the first line begins with "http/" and has a number after
    // its first space.
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
