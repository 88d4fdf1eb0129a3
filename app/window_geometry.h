#pragma once
// The main window's place, size and region at the window's DPI: integers only, so each
// rule is tested without a window.

#include "common/dpi_scale.h"

// A rectangle in screen or window pixels; right and bottom exclusive.
struct PixelRect {
    long left;
    long top;
    long right;
    long bottom;
};

// The main window at `dpi` in the top-right corner of `workArea`: 320 × 450 at 96 DPI, its
// right edge on the work area's right edge and its top 15 pixels above the work area's top
// (the region cuts the title bar away, so the panels start just below that top).
PixelRect mainWindowRect(const PixelRect& workArea, int dpi);

// The window region, in the window's own pixels, for a client area of `clientWidth` ×
// `clientHeight` at `dpi`: 5 pixels off the left, 20 off the top and 5 off the bottom at
// 96 DPI. A region counts from the window's corner, frame included, so this cuts away the
// left frame, most of the title bar and a strip at the right and the bottom.
PixelRect mainWindowRegion(long clientWidth, long clientHeight, int dpi);
