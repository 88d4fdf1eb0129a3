#pragma once
// The search result pages, GBK HTML. The forecast page is written in the format of
// common/forecast_page.h, which the program's scraper reads.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/forecast_page.h"
#include "service/forecast_data.h"

namespace forecast {

// Longest icon host accepted: the program keeps an icon URL in 79 bytes.
constexpr std::size_t kMaxIconHost = 32;

// The forecast page for `city` (GBK, no markup bytes) with days[0..2] for `today` and the two
// days after. `iconHost` is "host" or "host:port" as the program's icon host is set. A live
// page names Open-Meteo as the source of its data.
std::string forecastPage(std::string_view city, const DayForecast* const days[3], int today, std::string_view iconHost,
                         bool demo, bool live = false);

// An ordinary page without the forecast table, for searches the service has no forecast for.
// `words` are the searched words (well-formed GBK); `city` is non-empty for a weather search.
std::string plainPage(std::string_view words, std::string_view city);

}  // namespace forecast
