#pragma once
// The forecast page: the format that the program's scraper reads and the forecast service
// writes, defined once for both. GBK bytes as escapes, so no editor or locale changes them.
//
// The body holds the table marker. After it comes a "<br>", then for each of the three days
// in order: the day icon's and the night icon's address ("http://", the icon host, the icon
// path, the day or the night folder, a name and an extension, which the scraper reads as
// ".gif" whatever it is); the high temperature right after a tag's '>' and directly followed
// by the degrees-and-tilde mark, the text running to the next '<'; the description, the first
// GBK text after the temperature, up to a '<'; and the wind, right after a "<span>", up to a
// '<'. The program keeps the body from the marker on in a window of kReadingWindow bytes, the
// last of them its terminator, so every field it scrapes must lie within kReadingWindow - 1
// bytes of the marker's start.

#include <cstddef>

namespace forecast_page {

constexpr char kTableMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
constexpr char kDayStart[] = "<br>";
constexpr char kIconPath[] = "/vip/baidu/imag/";
constexpr char kDayFolder[] = "day/";
constexpr char kNightFolder[] = "night/";
constexpr char kIconExtension[] = ".gif";
constexpr char kDegreesTilde[] = "\xA1\xE6\xA1\xAB";  // ℃～, between the high and the low
constexpr char kWindStart[] = "<span>";

// The three days' words, as the page names them and the panel shows them.
constexpr char kDayWords[3][5] = {
    "\xBD\xF1\xCC\xEC",  // 今天
    "\xC3\xF7\xCC\xEC",  // 明天
    "\xBA\xF3\xCC\xEC",  // 后天
};

constexpr std::size_t kReadingWindow = 5000;

}  // namespace forecast_page
