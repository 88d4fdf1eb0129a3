#pragma once
// Where the month grid puts things, in client pixels: integer arithmetic only, so that
// painting and its tests agree on one set of numbers.
//
// Cells are 36 x 36 in seven columns, Sunday first. The row of week-day names takes the
// first 36 pixels below the origin; day rows follow, up to six of them. These are the
// lengths at 96 DPI; `scaled` takes a box to the window's DPI, and a pointer position comes
// back through unscaleFromDpi before dayAt.

#include "common/dpi_scale.h"

namespace calendar_grid {

constexpr int kCell = 36;
constexpr int kColumns = 7;

struct Cell {
    int column;
    int row;
};

// Edges of a rectangle; right and bottom are the far corner of the drawn outline.
struct Box {
    int left;
    int top;
    int right;
    int bottom;
};

// The cell of day `day` (1..31) in a month whose 1st falls on `firstWeekday` (0 = Sunday).
constexpr Cell cellOfDay(unsigned firstWeekday, unsigned day) {
    const unsigned k = firstWeekday + day - 1;
    return {static_cast<int>(k % kColumns), static_cast<int>(k / kColumns)};
}

constexpr int columnLeft(int originX, int column) { return originX + kCell * column; }
constexpr int rowTop(int originY, int row) { return originY + kCell + kCell * row; }

constexpr int kRows = 6;

// The day (1..daysInMonth) whose cell holds client point (x, y), or 0 for a point on the
// week-day header, on a cell outside the month or off the grid.
constexpr unsigned dayAt(int originX, int originY, unsigned firstWeekday, unsigned daysInMonth, int x, int y) {
    const int dx = x - originX;
    const int dy = y - rowTop(originY, 0);
    if (dx < 0 || dy < 0 || dx >= kColumns * kCell || dy >= kRows * kCell) return 0;
    const unsigned k = static_cast<unsigned>(dy / kCell * kColumns + dx / kCell);
    return k >= firstWeekday && k - firstWeekday < daysInMonth ? k - firstWeekday + 1 : 0;
}

// A day's whole cell, right and bottom exclusive: where the pointer finds that day.
constexpr Box cellArea(int originX, int originY, Cell cell) {
    const int left = columnLeft(originX, cell.column);
    const int top = rowTop(originY, cell.row);
    return {left, top, left + kCell, top + kCell};
}

// The frame around today's cell: one pixel left of the column, 34 wide and 36 tall.
constexpr Box todayBox(int originX, int originY, Cell cell) {
    const int left = columnLeft(originX, cell.column) - 1;
    const int top = rowTop(originY, cell.row);
    return {left, top, left + 34, top + kCell};
}

// The rectangle the panel asks to have repainted, right and bottom exclusive: 254 x 252
// for the header and six rows, and one row more for the bottom edge of today's box when
// today falls in the sixth row. Everything paint draws lies inside it, so nothing stale is
// left behind when the month changes.
constexpr Box panelArea(int originX, int originY) { return {originX - 2, originY, originX + 252, originY + 253}; }

// `box` at `dpi`, each edge scaled on its own so that boxes which share an edge still do.
constexpr Box scaled(Box box, int dpi) {
    return {scaleToDpi(box.left, dpi), scaleToDpi(box.top, dpi), scaleToDpi(box.right, dpi),
            scaleToDpi(box.bottom, dpi)};
}

}  // namespace calendar_grid
