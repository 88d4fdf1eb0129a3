#include "app/window_geometry.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 450;
constexpr int kAboveWorkArea = 15;
constexpr int kRegionLeft = 5, kRegionTop = 20, kRegionBottom = 5;

}  // namespace

int scaleToDpi(int value, int dpi) {
    if (dpi <= 0) return value;
    const long long scaled = static_cast<long long>(value) * dpi;
    const long long half = kBaseDpi / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / kBaseDpi : (scaled - half) / kBaseDpi);
}

PixelRect mainWindowRect(const PixelRect& workArea, int dpi) {
    const long top = workArea.top - scaleToDpi(kAboveWorkArea, dpi);
    return {workArea.right - scaleToDpi(kWidth, dpi), top, workArea.right, top + scaleToDpi(kHeight, dpi)};
}

PixelRect mainWindowRegion(long clientWidth, long clientHeight, int dpi) {
    return {scaleToDpi(kRegionLeft, dpi), scaleToDpi(kRegionTop, dpi), clientWidth,
            clientHeight - scaleToDpi(kRegionBottom, dpi)};
}
