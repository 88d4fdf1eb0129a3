#pragma once
// Which panels a paint draws, decided by its update rectangle alone. The thresholds are
// fixed numbers, not derived from the panel origins: with the default origins each
// panel's own invalidation lands on that panel, and a whole-window paint draws both.

enum class PaintRoute { nothing, calendar, weather, both };

// `top` and `bottom` are the update rectangle's edges in client pixels, y growing down; the
// thresholds grow with the window's `dpi` as the panels do.
PaintRoute routePaint(long top, long bottom, int dpi);
