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
struct ExactBuffer : std::unique_ptr<char[]> {
    static constexpr char kFill = '\xA5';
    ExactBuffer(size_t size, const void* data, bool terminate = false) : unique_ptr(new char[size + terminate]) {
        std::memset(get(), kFill, size);
        if (data && size) std::memcpy(get(), data, size);
        if (terminate) get()[size] = '\0';
    }
};
