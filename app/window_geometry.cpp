#include "app/window_geometry.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 450;
constexpr int kAboveWorkArea = 15;
constexpr int kRegionLeft = 5, kRegionTop = 20, kRegionBottom = 5;

}  // namespace

PixelRect mainWindowRect(const PixelRect& workArea, int dpi) {
    const long top = workArea.top - scaleToDpi(kAboveWorkArea, dpi);
    return {workArea.right - scaleToDpi(kWidth, dpi), top, workArea.right, top + scaleToDpi(kHeight, dpi)};
}

PixelRect mainWindowRegion(long clientWidth, long clientHeight, int dpi) {
    return {scaleToDpi(kRegionLeft, dpi), scaleToDpi(kRegionTop, dpi), clientWidth,
            clientHeight - scaleToDpi(kRegionBottom, dpi)};
}
