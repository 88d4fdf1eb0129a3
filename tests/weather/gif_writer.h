#pragma once
// Writes small GIF files for the tests: two colours, the first inside the top-left square of
// side `edge`, the second elsewhere. The LZW stream restarts its table every two pixels, so
// every code stays three bits wide and no compressor is needed.

#include <windows.h>

#include <cstdint>
#include <string>

inline std::string makeGif(int width, int height, COLORREF inside, COLORREF outside, int edge) {
    std::string out = "GIF89a";
    auto word = [&](int v) {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>(v >> 8);
    };
    auto colour = [&](COLORREF c) {
        out += static_cast<char>(GetRValue(c));
        out += static_cast<char>(GetGValue(c));
        out += static_cast<char>(GetBValue(c));
    };
    word(width);
    word(height);
    out += "\x80";  // a global colour table of two entries
    out += std::string(2, '\0');
    colour(inside);
    colour(outside);
    out += ',';
    word(0);
    word(0);
    word(width);
    word(height);
    out += '\0';

    constexpr unsigned kClear = 4, kEnd = 5;
    std::string codes;
    uint32_t bits = 0;
    int bitCount = 0;
    auto put = [&](unsigned code) {
        bits |= code << bitCount;
        bitCount += 3;
        while (bitCount >= 8) {
            codes += static_cast<char>(bits & 0xFF);
            bits >>= 8;
            bitCount -= 8;
        }
    };
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0) put(kClear);
        put(i % width < edge && i / width < edge ? 0 : 1);
    }
    put(kEnd);
    if (bitCount > 0) codes += static_cast<char>(bits & 0xFF);

    out += '\x02';  // the smallest LZW code size
    for (size_t at = 0; at < codes.size(); at += 255) {
        const std::string block = codes.substr(at, 255);
        out += static_cast<char>(block.size());
        out += block;
    }
    out += '\0';
    out += ';';
    return out;
}
