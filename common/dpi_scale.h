#pragma once
// Lengths that grow with the screen's DPI. Every length the code names is the one at
// 96 DPI (100 %); it is scaled where it is drawn or measured, so at 96 DPI every pixel is
// where that number puts it.

constexpr int kBaseDpi = 96;

// `value` at `dpi`: value × dpi / 96 rounded to the nearest pixel, halves away from zero as
// MulDiv rounds them. A dpi of 0 or less (not known) leaves the value as it is.
constexpr int scaleToDpi(int value, int dpi) {
    if (dpi <= 0) return value;
    const long long scaled = static_cast<long long>(value) * dpi;
    return static_cast<int>(scaled >= 0 ? (scaled + kBaseDpi / 2) / kBaseDpi : (scaled - kBaseDpi / 2) / kBaseDpi);
}

// The inverse for a pixel read off the screen (the pointer): the largest 96-DPI value whose
// scaled pixel is at or before `pixel`. So a pixel lies between the scaled edges a and b
// exactly when its value lies between a and b, and the pointer finds what painting put there.
constexpr int unscaleFromDpi(int pixel, int dpi) {
    if (dpi <= 0) return pixel;
    int value = static_cast<int>(static_cast<long long>(pixel) * kBaseDpi / dpi);
    while (scaleToDpi(value + 1, dpi) <= pixel) ++value;
    while (scaleToDpi(value, dpi) > pixel) --value;
    return value;
}
