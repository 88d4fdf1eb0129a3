#pragma once
// A GIF of two colours, the first inside the top-left square of side `edge`. The LZW table restarts
// every two pixels, so every code (clear 4, a pixel 0 or 1, end 5) stays three bits wide.

#include <windows.h>

#include <string>

inline std::string makeGif(int width, int height, COLORREF inside, COLORREF outside, int edge) {
    auto word = [](int v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
    auto colour = [](COLORREF c) { return std::string{char(GetRValue(c)), char(GetGValue(c)), char(GetBValue(c))}; };
    std::string codes;
    unsigned bits = 0, bitCount = 0;
    auto put = [&](unsigned code) {
        for (bits |= code << bitCount, bitCount += 3; bitCount >= 8; bits >>= 8, bitCount -= 8) codes += char(bits);
    };
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0) put(4);
        put(i % width < edge && i / width < edge ? 0 : 1);
    }
    put(5);
    codes += bitCount ? std::string(1, char(bits)) : "";
    std::string out = "GIF89a" + word(width) + word(height) + "\x80" + std::string(2, '\0') + colour(inside) +
                      colour(outside) + "," + word(0) + word(0) + word(width) + word(height) + '\0' + '\x02';
    for (size_t at = 0; at < codes.size(); at += 255) out += char(codes.substr(at, 255).size()) + codes.substr(at, 255);
    return out + '\0' + ';';
}
