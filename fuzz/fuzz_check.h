#pragma once
// A property that does not hold aborts like a crash: libFuzzer keeps the input, a replay fails.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#define FUZZ_CHECK(condition) \
    ((condition) ? void(0) : (std::fprintf(stderr, "%s:%d: fails: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// `size` bytes of `data` (without data, a filler that shows what is written), and a terminator
// when asked, in a heap block that ends right there: AddressSanitizer reports a byte past it.
struct ExactBuffer {
    static constexpr char kFill = '\xA5';
    ExactBuffer(size_t size, const void* data, bool terminate = false) : bytes(new char[size + terminate]) {
        std::memset(bytes.get(), kFill, size);
        if (data && size) std::memcpy(bytes.get(), data, size);
        if (terminate) bytes[size] = '\0';
    }
    char* get() { return bytes.get(); }
    std::unique_ptr<char[]> bytes;
};
