#include "app/paint_route.h"

PaintRoute routePaint(long top, long bottom) {
    if (bottom - top > 380) return PaintRoute::both;
    if (bottom < 300) return PaintRoute::calendar;
    if (bottom > 380 && top > 200) return PaintRoute::weather;
    return PaintRoute::nothing;
}
