#pragma once
// Shared by the fuzz targets: a property that does not hold aborts like a crash, so libFuzzer
// keeps the input and a replay run fails.

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : (std::fprintf(stderr, "%s:%d: fails: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// A heap block of exactly `size` bytes, so that AddressSanitizer reports the first byte past
// it: a copy of `data`, or filled with a known byte that shows whether anything was written.
class ExactBuffer {
public:
    explicit ExactBuffer(size_t size, const void* data = nullptr) : size_(size), bytes(new char[size]) {
        std::memset(bytes.get(), kFill, size);
        if (data && size) std::memcpy(bytes.get(), data, size);
    }
    char* get() { return bytes.get(); }
    bool untouched() const { return std::count(bytes.get(), bytes.get() + size_, kFill) == static_cast<long>(size_); }

private:
    static constexpr char kFill = '\xA5';
    size_t size_;
    std::unique_ptr<char[]> bytes;
};

// A terminated copy of the input in a block that ends right after the terminator.
inline ExactBuffer terminatedCopy(const void* data, size_t size) {
    ExactBuffer copy(size + 1, data);
    copy.get()[size] = '\0';
    return copy;
}
