#pragma once
// The weather panel's fixed GBK texts; the day words are the forecast page's
// (common/forecast_page.h).

constexpr char kDayWord[] = "\xB0\xD7\xCC\xEC";    // 白天, before a cached day icon's name
constexpr char kNightWord[] = "\xD2\xB9\xCD\xED";  // 夜晚, before a cached night icon's name
