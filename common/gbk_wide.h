#pragma once
// GBK text at the screen and in file names: converted with code page 936 named explicitly,
// never the active code page, so the program reads the same on a Windows of any language.
// Bounded both ways; a conversion that does not fit gives nothing rather than a cut name.

#include <windows.h>

#include <cstddef>
#include <cstring>

namespace gbk {

constexpr UINT kCodePage = 936;

// Converts the `length` bytes of GBK at `text` into `out` (`size` wide characters,
// terminated); returns the count without the terminator, or -1 (with `out` empty) when it
// does not fit. A byte that is no GBK becomes the system's replacement character.
inline int toWide(const char* text, int length, wchar_t* out, int size) {
    if (size <= 0) return -1;
    out[0] = L'\0';
    if (length <= 0) return 0;
    const int count = MultiByteToWideChar(kCodePage, 0, text, length, out, size - 1);
    if (count <= 0) return -1;
    out[count] = L'\0';
    return count;
}

// A zero-terminated GBK path (at most MAX_PATH bytes) as UTF-16; false when it does not fit.
struct WidePath {
    wchar_t text[MAX_PATH + 1];
    bool ok;
    explicit WidePath(const char* path) : text{}, ok(toWide(path, lstrlenA(path), text, MAX_PATH + 1) >= 0) {}
};

// Converts the zero-terminated `text` (UTF-16) into at most `limit` bytes of GBK in `out`
// (`size` bytes, zero-filled first), cut at a whole character; never more than size - 1.
// A character that GBK lacks becomes '?'. Returns the number of bytes stored.
inline size_t fromWide(const wchar_t* text, char* out, size_t size, size_t limit) {
    if (size == 0) return 0;  // no room even for the terminator
    for (size_t i = 0; i < size; ++i) out[i] = '\0';
    if (limit > size - 1) limit = size - 1;
    size_t used = 0;
    for (const wchar_t* at = text; *at != L'\0';) {
        // A surrogate pair is one character: converted, or dropped, together.
        const int units = (*at >= 0xD800 && *at <= 0xDBFF && at[1] >= 0xDC00 && at[1] <= 0xDFFF) ? 2 : 1;
        char bytes[8];
        const int count = WideCharToMultiByte(kCodePage, 0, at, units, bytes, sizeof bytes, "?", nullptr);
        if (count <= 0 || used + static_cast<size_t>(count) > limit) break;
        for (int i = 0; i < count; ++i) out[used++] = bytes[i];
        at += units;
    }
    return used;
}

// Draws the `length` bytes of GBK at `text` with TextOutW; nothing for an empty text.
inline void textOut(HDC dc, int x, int y, const char* text, int length) {
    wchar_t wide[256];
    const int count = toWide(text, length, wide, 256);
    if (count > 0) TextOutW(dc, x, y, wide, count);
}

// Draws the GBK text of a fixed field up to its NUL, never past its `capacity` bytes.
inline void textOutField(HDC dc, int x, int y, const char* text, size_t capacity) {
    textOut(dc, x, y, text, static_cast<int>(strnlen(text, capacity)));
}

}  // namespace gbk
