#pragma once
// The shell's own words as GBK (code page 936) bytes. Escapes keep the bytes exact
// whatever encoding an editor gives this file.

#include "pellumo_version.h"

namespace app_text {

// The popup menu's items, top to bottom, without the separators.
constexpr char kCalendarTitleColor[] = "\xC8\xD5\xC0\xFA\xB1\xEA\xCC\xE2\xC9\xAB";      // 日历标题色
constexpr char kCalendarGregorianColor[] = "\xC8\xD5\xC0\xFA\xB9\xAB\xC0\xFA\xC9\xAB";  // 日历公历色
constexpr char kCalendarLunarColor[] = "\xC8\xD5\xC0\xFA\xC5\xA9\xC0\xFA\xC9\xAB";      // 日历农历色
constexpr char kCalendarCurrentColor[] = "\xC8\xD5\xC0\xFA\xB5\xB1\xC7\xB0\xC9\xAB";    // 日历当前色
constexpr char kCalendarTodayColor[] = "\xC8\xD5\xC0\xFA\xBD\xF1\xCC\xEC\xC9\xAB";      // 日历今天色
constexpr char kWeatherTextColor[] = "\xCC\xEC\xC6\xF8\xCE\xC4\xB1\xBE\xC9\xAB";        // 天气文本色
constexpr char kForecastCity[] = "\xD4\xA4\xB1\xA8\xB3\xC7\xCA\xD0";                    // 预报城市
constexpr char kAutostart[] = "\xBF\xAA\xBB\xFA\xC6\xF4\xB6\xAF";                       // 开机启动
constexpr char kShowIcon[] = "\xCF\xD4\xCA\xBE\xCD\xBC\xB1\xEA ";                       // "显示图标 "
constexpr char kClose[] = " \xB9\xD8 \xB1\xD5 ";                                        // " 关 闭 "
constexpr char kAbout[] = " \xB9\xD8 \xD3\xDA ";                                        // " 关 于 "

// The city entry's button.
constexpr char kSetCity[] = " \xC9\xE8\xD6\xC3 ";  // " 设置 "

// The About lines: the program and its version, then where the running copy lives.
constexpr char kAboutProgram[] =
    "Pellumo " PELLUMO_VERSION_TEXT " \xC5\xA9\xC0\xFA\xC8\xD5\xC0\xFA\xD3\xEB\xCC\xEC\xC6\xF8";  // 农历日历与天气
constexpr char kAboutPlace[] = "\xB3\xCC\xD0\xF2\xCE\xBB\xD6\xC3: ";  // "程序位置: " followed by the program's path

}  // namespace app_text
