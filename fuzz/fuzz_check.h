#pragma once
// Shared by the fuzz targets: a property that does not hold is a finding like a crash, so
// it names itself and aborts; libFuzzer then keeps the input and a replay run fails.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

[[noreturn]] inline void fuzzPropertyFailed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void(0) : fuzzPropertyFailed(#condition, __FILE__, __LINE__))

// A heap block of exactly `size` bytes, so that AddressSanitizer reports the first byte
// read or written past it; filled with a known byte to show whether anything was written.
class ExactBuffer {
public:
    static constexpr char kFill = '\xA5';
    explicit ExactBuffer(size_t size) : size_(size), bytes(new char[size == 0 ? 1 : size]) {
        std::memset(bytes.get(), kFill, size == 0 ? 1 : size);
    }
    ExactBuffer(const void* data, size_t size) : ExactBuffer(size) {
        if (size) std::memcpy(bytes.get(), data, size);
    }
    char* get() { return bytes.get(); }
    size_t size() const { return size_; }
    bool untouched() const {
        for (size_t i = 0; i < size_; ++i) {
            if (bytes[i] != kFill) return false;
        }
        return true;
    }
    bool terminated() const { return size_ && std::memchr(bytes.get(), 0, size_) != nullptr; }

private:
    size_t size_;
    std::unique_ptr<char[]> bytes;
};

// A terminated copy of the input in a block that ends right after the terminator.
inline ExactBuffer terminatedCopy(const void* data, size_t size) {
    ExactBuffer copy(size + 1);
    if (size) std::memcpy(copy.get(), data, size);
    copy.get()[size] = '\0';
    return copy;
}
