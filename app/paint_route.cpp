#include "app/paint_route.h"

#include "common/dpi_scale.h"

PaintRoute routePaint(long top, long bottom, int dpi) {
    const long both = scaleToDpi(380, dpi), calendarBelow = scaleToDpi(300, dpi), weatherAbove = scaleToDpi(200, dpi);
    if (bottom - top > both) return PaintRoute::both;
    if (bottom < calendarBelow) return PaintRoute::calendar;
    if (bottom > both && top > weatherAbove) return PaintRoute::weather;
    return PaintRoute::nothing;
}
