#pragma once
// Demo data: plausible, deterministic forecasts for a built-in list of cities, for any date.
// The same city and day always give the same forecast, whatever the date of generation.

#include "service/forecast_data.h"

namespace forecast {

extern const char* const kDemoCities[];  // GBK names
extern const int kDemoCityCount;

// Forecasts of every demo city for the days first .. first + count - 1; demo is set.
Dataset makeDemoDataset(int firstDay, int count);

}  // namespace forecast
