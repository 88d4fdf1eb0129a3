#pragma once
// Shared by the fuzz targets: a property that does not hold aborts like a crash, so libFuzzer
// keeps the input and a replay run fails.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : (std::fprintf(stderr, "%s:%d: fails: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// Exactly `size` bytes on the heap, so that AddressSanitizer reports the first byte past
// them: `data`'s, or a filler that shows whether anything was written.
struct ExactBuffer {
    static constexpr char kFill = '\xA5';
    explicit ExactBuffer(size_t n, const void* data = nullptr) : size(n), bytes(new char[n]) {
        std::memset(bytes.get(), kFill, n);
        if (data && n) std::memcpy(bytes.get(), data, n);
    }
    char* get() { return bytes.get(); }
    bool untouched() const { return std::count(&bytes[0], &bytes[0] + size, kFill) == static_cast<long>(size); }
    size_t size;
    std::unique_ptr<char[]> bytes;
};

// The input and a terminator, in a block that ends right after it.
inline ExactBuffer terminatedCopy(const void* data, size_t size) {
    ExactBuffer copy(size + 1);
    if (size) std::memcpy(copy.get(), data, size);
    copy.get()[size] = '\0';
    return copy;
}
