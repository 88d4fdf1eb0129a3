#include "service/live_tables.h"

#include <cmath>

#include "service/texts.h"

namespace forecast {
namespace {

struct CodeWords {
    int code;
    WeatherWords words;
};

// The codes the forecast API documents. Drizzle counts as light rain, freezing rain and
// drizzle as sleet, snow grains as light snow: the nearest of the twelve icons.
const CodeWords kCodes[] = {
    {0, {"qing", "\xC7\xE7"}},                                                        // 晴
    {1, {"qing", "\xC9\xD9\xD4\xC6"}},                                                // 少云
    {2, {"duoyun", "\xB6\xE0\xD4\xC6"}},                                              // 多云
    {3, {"yin", "\xD2\xF5"}},                                                         // 阴
    {45, {"wu", "\xCE\xED"}},                                                         // 雾
    {48, {"wu", "\xB6\xB3\xCE\xED"}},                                                 // 冻雾
    {51, {"xiaoyu", "\xD0\xA1\xC3\xAB\xC3\xAB\xD3\xEA"}},                             // 小毛毛雨
    {53, {"xiaoyu", "\xC3\xAB\xC3\xAB\xD3\xEA"}},                                     // 毛毛雨
    {55, {"zhongyu", "\xC7\xBF\xC3\xAB\xC3\xAB\xD3\xEA"}},                            // 强毛毛雨
    {56, {"yujiaxue", "\xB6\xB3\xC3\xAB\xC3\xAB\xD3\xEA"}},                           // 冻毛毛雨
    {57, {"yujiaxue", "\xC7\xBF\xB6\xB3\xC3\xAB\xC3\xAB\xD3\xEA"}},                   // 强冻毛毛雨
    {61, {"xiaoyu", "\xD0\xA1\xD3\xEA"}},                                             // 小雨
    {63, {"zhongyu", "\xD6\xD0\xD3\xEA"}},                                            // 中雨
    {65, {"dayu", "\xB4\xF3\xD3\xEA"}},                                               // 大雨
    {66, {"yujiaxue", "\xD0\xA1\xB6\xB3\xD3\xEA"}},                                   // 小冻雨
    {67, {"yujiaxue", "\xB4\xF3\xB6\xB3\xD3\xEA"}},                                   // 大冻雨
    {71, {"xiaoxue", "\xD0\xA1\xD1\xA9"}},                                            // 小雪
    {73, {"xiaoxue", "\xD6\xD0\xD1\xA9"}},                                            // 中雪
    {75, {"daxue", "\xB4\xF3\xD1\xA9"}},                                              // 大雪
    {77, {"xiaoxue", "\xC3\xD7\xD1\xA9"}},                                            // 米雪
    {80, {"zhenyu", "\xD0\xA1\xD5\xF3\xD3\xEA"}},                                     // 小阵雨
    {81, {"zhenyu", "\xD5\xF3\xD3\xEA"}},                                             // 阵雨
    {82, {"zhenyu", "\xC7\xBF\xD5\xF3\xD3\xEA"}},                                     // 强阵雨
    {85, {"xiaoxue", "\xD0\xA1\xD5\xF3\xD1\xA9"}},                                    // 小阵雪
    {86, {"daxue", "\xB4\xF3\xD5\xF3\xD1\xA9"}},                                      // 大阵雪
    {95, {"leizhenyu", "\xC0\xD7\xD5\xF3\xD3\xEA"}},                                  // 雷阵雨
    {96, {"leizhenyu", "\xC0\xD7\xD5\xF3\xD3\xEA\xB0\xE9\xB1\xF9\xB1\xA2"}},          // 雷阵雨伴冰雹
    {99, {"leizhenyu", "\xC7\xBF\xC0\xD7\xD5\xF3\xD3\xEA\xB0\xE9\xB1\xF9\xB1\xA2"}},  // 强雷阵雨伴冰雹
};
const WeatherWords kUnclear = {"yin", "\xCC\xEC\xC6\xF8\xB2\xBB\xC3\xF7"};  // 天气不明

// Clockwise from north, each covering 45 degrees centred on its point.
const char* const kDirections[] = {
    "\xB1\xB1",          // 北
    "\xB6\xAB\xB1\xB1",  // 东北
    "\xB6\xAB",          // 东
    "\xB6\xAB\xC4\xCF",  // 东南
    "\xC4\xCF",          // 南
    "\xCE\xF7\xC4\xCF",  // 西南
    "\xCE\xF7",          // 西
    "\xCE\xF7\xB1\xB1",  // 西北
};
const char kWind[] = "\xB7\xE7";  // 风

// Lower bound of each force from 1 on, in tenths of a metre per second (12 and up as the
// Chinese national scale extends it).
const int kForceFrom[] = {3, 16, 34, 55, 80, 108, 139, 172, 208, 245, 285, 327, 370, 415, 462, 510, 561};

}  // namespace

WeatherWords weatherWords(int wmoCode) {
    for (const CodeWords& c : kCodes) {
        if (c.code == wmoCode) return c.words;
    }
    return kUnclear;
}

int beaufortForce(double kmh) {
    const long tenths = std::lround(kmh / 0.36);
    int force = 0;
    for (int from : kForceFrom) force += tenths >= from;
    return force;
}

std::string windWords(double directionDegrees, double maxKmh) {
    const int force = beaufortForce(maxKmh);
    if (force < 3) return kLightBreeze;
    const int point = static_cast<int>(std::floor((directionDegrees + 22.5) / 45.0)) % 8;
    return std::string(kDirections[point < 0 ? point + 8 : point]) + kWind + std::to_string(force) + kLevel;
}

int roundDegrees(double celsius) { return static_cast<int>(std::lround(celsius)); }

}  // namespace forecast
