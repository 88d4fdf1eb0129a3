#pragma once
// Test inputs placed so that an over-read crashes instead of passing silently, and objects
// fenced by guard bytes so that an over-write shows.

#include <windows.h>

#include <cstring>
#include <new>

// A readable page followed by a PAGE_NOACCESS one. Text placed by `place` ends with its
// terminator as the last readable byte, so any read past the terminator faults.
class GuardedText {
public:
    GuardedText() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        pageSize = info.dwPageSize;
        base = static_cast<char*>(VirtualAlloc(nullptr, 2 * pageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous = 0;
        if (base) VirtualProtect(base + pageSize, pageSize, PAGE_NOACCESS, &previous);
    }
    ~GuardedText() {
        if (base) VirtualFree(base, 0, MEM_RELEASE);
    }
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;

    bool ready() const { return base != nullptr; }

    // `length` bytes (at most a page less one) and a terminator, ending at the guard page.
    const char* place(const char* bytes, size_t length) {
        char* at = base + pageSize - (length + 1);
        std::memcpy(at, bytes, length);
        at[length] = '\0';
        return at;
    }
    const char* place(const char* text) { return place(text, std::strlen(text)); }

    // Bytes with no terminator at all: the last one is the last readable byte.
    const char* placeUnterminated(const char* bytes, size_t length) {
        char* at = base + pageSize - length;
        std::memcpy(at, bytes, length);
        return at;
    }

private:
    char* base = nullptr;
    size_t pageSize = 0;
};

// An object of type T constructed between two runs of guard bytes.
template <class T>
class Fenced {
public:
    static constexpr size_t kGuard = 64;
    static constexpr unsigned char kPattern = 0xA5;

    Fenced() {
        std::memset(storage, kPattern, sizeof storage);
        object = new (storage + kGuard) T();
    }
    ~Fenced() { object->~T(); }
    Fenced(const Fenced&) = delete;
    Fenced& operator=(const Fenced&) = delete;

    T& operator*() { return *object; }
    T* operator->() { return object; }

    bool guardsIntact() const {
        for (size_t i = 0; i < kGuard; ++i) {
            if (storage[i] != kPattern || storage[kGuard + sizeof(T) + i] != kPattern) return false;
        }
        return true;
    }

private:
    alignas(16) unsigned char storage[kGuard + sizeof(T) + kGuard];
    T* object;
};

// True when `text` is terminated within its field of `size` bytes.
inline bool terminatedWithin(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }
