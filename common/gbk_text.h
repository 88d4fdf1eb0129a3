#pragma once
// Bounded copies of GBK text: a cut never keeps the first byte of a double-byte character
// without its second. Bytes only, besides the one lead-byte test that the URL coder asks too.

#include "common/lead_byte.h"

#include <cstddef>
#include <cstring>

namespace gbk {

// How many of the first `length` bytes of `text` make whole characters, reading from the
// start: a final lead byte whose second byte lies beyond the length is left out.
inline size_t wholeCharacters(const char* text, size_t length) {
    size_t i = 0;
    while (i < length) {
        const size_t step = isLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + step > length) break;
        i += step;
    }
    return i;
}

// Zero-fills `field` (`size` bytes) and copies into it at most `limit` bytes of the
// `length` bytes at `text`, and never more than size - 1, cut at a character boundary.
// Returns the number of bytes copied.
inline size_t copyCut(char* field, size_t size, const char* text, size_t length, size_t limit) {
    std::memset(field, 0, size);
    size_t take = length < limit ? length : limit;
    if (take > size - 1) take = size - 1;
    take = wholeCharacters(text, take);
    std::memcpy(field, text, take);
    return take;
}

}  // namespace gbk
