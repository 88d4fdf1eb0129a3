#include "service/page.h"

#include "common/ascii.h"
#include "service/demo.h"
#include "service/texts.h"

namespace forecast {
namespace {

using namespace forecast_page;

// '<', '>', '&' and '"' are below 0x40, so they are never the trail byte of a GBK character
// and can be escaped byte by byte.
void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
}

void appendPercentEncoded(std::string& out, std::string_view gbk) {
    for (unsigned char c : gbk) {
        out += '%';
        out += ascii::hexDigit(c >> 4);
        out += ascii::hexDigit(c);
    }
}

void appendHead(std::string& out, std::string_view words) {
    out += "<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">";
    out += "<title>";
    appendEscaped(out, words);
    out += "_";
    out += kSearch;
    out += "</title></head>\n<body><form action=\"/s\"><input type=\"text\" name=\"wd\" value=\"";
    appendEscaped(out, words);
    out += "\"><input type=\"submit\" value=\"";
    out += kSearch;
    out += "\"></form>\n<div id=\"content\">\n";
}

void appendIcon(std::string& out, std::string_view iconHost, const char* variant, const std::string& name) {
    out += "<img src=\"http://";
    out += iconHost;
    out += kIconPath;
    out += variant;
    out += name;
    out += kIconExtension;
    out += "\" width=\"49\" height=\"49\">";
}

void appendDay(std::string& out, const char* dayName, int dayNumberValue, const DayForecast& day,
               std::string_view iconHost) {
    int year = 0, month = 0, dayOfMonth = 0;
    civilDate(dayNumberValue, year, month, dayOfMonth);
    out += "<td><p>";
    out += dayName;
    out += ' ';
    out += std::to_string(month);
    out += kMonth;
    out += std::to_string(dayOfMonth);
    out += kDay;
    out += "</p>";
    appendIcon(out, iconHost, kDayFolder, day.dayIcon);
    appendIcon(out, iconHost, kNightFolder, day.nightIcon);
    // Nothing but ASCII markup may stand between the temperature's '<' and the description,
    // which the scraper finds as the first GBK byte after it.
    out += "<p><b>";
    out += std::to_string(day.high);
    out += kDegreesTilde;
    out += std::to_string(day.low);
    out += kCelsius;
    out += "</b></p><p>";
    out += day.description;
    out += "</p><p>";
    out += kWindStart;
    out += day.wind;
    out += "</span></p></td>\n";
}

void appendFoot(std::string& out, bool live) {
    out += "<div id=\"related\"><p>";
    out += kRelated;
    out += "</p>";
    for (int i = 0; i < kDemoCityCount && i < 8; ++i) {
        out += "<a href=\"/s?wd=";
        appendPercentEncoded(out, kWeatherWords);
        out += '+';
        appendPercentEncoded(out, kDemoCities[i]);
        out += "\">";
        out += kDemoCities[i];
        out += "</a> ";
    }
    out += "</p></div>\n<p>";
    out += live ? kOpenMeteoSource : kSource;
    out += "</p>\n";
}

constexpr std::string_view kTail = "</div></body></html>\n";

}  // namespace

std::string forecastPage(std::string_view city, const DayForecast* const days[3], int today, std::string_view iconHost,
                         bool demo, bool live) {
    std::string words = std::string(kWeatherWords) + " " + std::string(city);
    std::string out;
    out.reserve(kReadingWindow + 2048);
    appendHead(out, words);
    const std::size_t marker = out.size();
    out += kTableMarker;
    out += "<tr><td colspan=\"3\"><h3>";
    out += kForecastFor;
    out += city;
    if (demo) {
        out += " (";
        out += kDemo;
        out += ")";
    }
    out += "</h3>";
    out += kDayStart;
    out += "</td></tr>\n<tr>";
    for (int i = 0; i < 3; ++i) appendDay(out, kDayWords[i], today + i, *days[i], iconHost);
    out += "</tr></table>\n";
    appendFoot(out, live);
    // The program reads a body until its window is full or the server closes. Padding the page
    // past the window lets it finish at once over a connection that the server keeps open.
    if (out.size() + kTail.size() < marker + kReadingWindow + 16) {
        const std::size_t fill = marker + kReadingWindow + 16 - out.size() - kTail.size();
        out += "<!--";
        out.append(fill > 7 ? fill - 7 : 0, ' ');
        out += "-->";
    }
    out += kTail;
    return out;
}

std::string plainPage(std::string_view words, std::string_view city) {
    std::string out;
    appendHead(out, words);
    out += "<p>";
    if (!city.empty()) {
        out += kNoForecastFor;
        appendEscaped(out, city);
    } else {
        out += kSearch;
        out += ": ";
        appendEscaped(out, words);
    }
    out += "</p>\n";
    appendFoot(out, false);
    out += kTail;
    return out;
}

}  // namespace forecast
