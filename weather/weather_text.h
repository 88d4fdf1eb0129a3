#pragma once
// The weather panel's fixed GBK texts.

constexpr char kDayNames[3][5] = {
    "\xBD\xF1\xCC\xEC",  // 今天
    "\xC3\xF7\xCC\xEC",  // 明天
    "\xBA\xF3\xCC\xEC",  // 后天
};
constexpr char kDayWord[] = "\xB0\xD7\xCC\xEC";    // 白天, before a cached day icon's name
constexpr char kNightWord[] = "\xD2\xB9\xCD\xED";  // 夜晚, before a cached night icon's name
