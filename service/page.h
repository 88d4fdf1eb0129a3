#pragma once
// The search result pages, GBK HTML. The forecast page carries the table marker and, after it,
// the three day blocks in the order and with the delimiters that the program's scraper reads:
// a "<br>", then per day the day and night icon URLs, the temperature right after a tag's '>'
// and up to a '<', the description (the first GBK text after the temperature) up to a '<', and
// the wind right after a "<span>" up to a '<'.

#include <cstddef>
#include <string>
#include <string_view>

#include "service/forecast_data.h"

namespace forecast {

constexpr char kTableMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
constexpr char kIconPath[] = "/vip/baidu/imag/";

// The program keeps the body from the marker on in a window of this many bytes (the last one
// its terminator), and stops reading early only once the window is full.
constexpr std::size_t kReadingWindow = 5000;
// It receives the body in pieces of this size and looks for the marker in each piece alone.
constexpr std::size_t kReceivePiece = 1000;

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
