#pragma once
// The calendar's own words as GBK (code page 936) bytes. Escapes keep the bytes exact
// whatever encoding an editor gives this file.

namespace calendar_text {

// Lunar day prefixes: days 1-10, 11-19, 20-29 and day 30.
constexpr char kDayPrefix[4][3] = {"\xB3\xF5", "\xCA\xAE", "\xD8\xA5", "\xD8\xA6"};  // 初 十 廿 卅

// Index 0 is 日: day 20 reads 廿日 and day 30 卅日. Indices 0-6 double as the
// week-day names, Sunday first.
constexpr char kDigit[11][3] = {
    "\xC8\xD5", "\xD2\xBB", "\xB6\xFE", "\xC8\xFD", "\xCB\xC4", "\xCE\xE5",  // 日 一 二 三 四 五
    "\xC1\xF9", "\xC6\xDF", "\xB0\xCB", "\xBE\xC5", "\xCA\xAE",              // 六 七 八 九 十
};

constexpr char kLeap[] = "\xC8\xF2";   // 闰
constexpr char kMonth[] = "\xD4\xC2";  // 月

// The 24 solar terms of a Gregorian year, two a month from minor cold on.
constexpr char kSolarTerm[24][5] = {
    "\xD0\xA1\xBA\xAE", "\xB4\xF3\xBA\xAE",  // 小寒 大寒
    "\xC1\xA2\xB4\xBA", "\xD3\xEA\xCB\xAE",  // 立春 雨水
    "\xBE\xAA\xD5\xDD", "\xB4\xBA\xB7\xD6",  // 惊蛰 春分
    "\xC7\xE5\xC3\xF7", "\xB9\xC8\xD3\xEA",  // 清明 谷雨
    "\xC1\xA2\xCF\xC4", "\xD0\xA1\xC2\xFA",  // 立夏 小满
    "\xC3\xA2\xD6\xD6", "\xCF\xC4\xD6\xC1",  // 芒种 夏至
    "\xD0\xA1\xCA\xEE", "\xB4\xF3\xCA\xEE",  // 小暑 大暑
    "\xC1\xA2\xC7\xEF", "\xB4\xA6\xCA\xEE",  // 立秋 处暑
    "\xB0\xD7\xC2\xB6", "\xC7\xEF\xB7\xD6",  // 白露 秋分
    "\xBA\xAE\xC2\xB6", "\xCB\xAA\xBD\xB5",  // 寒露 霜降
    "\xC1\xA2\xB6\xAC", "\xD0\xA1\xD1\xA9",  // 立冬 小雪
    "\xB4\xF3\xD1\xA9", "\xB6\xAC\xD6\xC1",  // 大雪 冬至
};

// The ten heavenly stems and twelve earthly branches: cycle n (0 = 甲子) is stem n mod 10
// with branch n mod 12. The animals go with the branches.
constexpr char kStem[10][3] = {
    "\xBC\xD7", "\xD2\xD2", "\xB1\xFB", "\xB6\xA1", "\xCE\xEC",  // 甲 乙 丙 丁 戊
    "\xBC\xBA", "\xB8\xFD", "\xD0\xC1", "\xC8\xC9", "\xB9\xEF",  // 己 庚 辛 壬 癸
};
constexpr char kBranch[12][3] = {
    "\xD7\xD3", "\xB3\xF3", "\xD2\xFA", "\xC3\xAE", "\xB3\xBD", "\xCB\xC8",  // 子 丑 寅 卯 辰 巳
    "\xCE\xE7", "\xCE\xB4", "\xC9\xEA", "\xD3\xCF", "\xD0\xE7", "\xBA\xA5",  // 午 未 申 酉 戌 亥
};
constexpr char kAnimal[12][3] = {
    "\xCA\xF3", "\xC5\xA3", "\xBB\xA2", "\xCD\xC3", "\xC1\xFA", "\xC9\xDF",  // 鼠 牛 虎 兔 龙 蛇
    "\xC2\xED", "\xD1\xF2", "\xBA\xEF", "\xBC\xA6", "\xB9\xB7", "\xD6\xED",  // 马 羊 猴 鸡 狗 猪
};

// Festivals, in the order of almanac::Festival; entry 0 is no festival.
constexpr char kFestival[13][7] = {
    "",
    "\xB4\xBA\xBD\xDA",          // 春节
    "\xD4\xAA\xCF\xFC",          // 元宵
    "\xC1\xFA\xCC\xA7\xCD\xB7",  // 龙抬头
    "\xB6\xCB\xCE\xE7",          // 端午
    "\xC6\xDF\xCF\xA6",          // 七夕
    "\xD6\xD0\xD4\xAA",          // 中元
    "\xD6\xD0\xC7\xEF",          // 中秋
    "\xD6\xD8\xD1\xF4",          // 重阳
    "\xC0\xB0\xB0\xCB",          // 腊八
    "\xD0\xA1\xC4\xEA",          // 小年
    "\xB3\xFD\xCF\xA6",          // 除夕
    "\xC7\xE5\xC3\xF7",          // 清明
};

// The lunar date in words: 农历 and 年 around the year's stem and branch; month 1 is 正月,
// 11 冬月 and 12 腊月; 星期 before a week-day name.
constexpr char kLunarCalendar[] = "\xC5\xA9\xC0\xFA";  // 农历
constexpr char kYear[] = "\xC4\xEA";                   // 年
constexpr char kFirstMonth[] = "\xD5\xFD";             // 正
constexpr char kWinterMonth[] = "\xB6\xAC";            // 冬
constexpr char kLastMonth[] = "\xC0\xB0";              // 腊
constexpr char kWeek[] = "\xD0\xC7\xC6\xDA";           // 星期

// strftime format of the today line: "今天: 2026年 12月 05日".
constexpr char kTodayFormat[] = "\xBD\xF1\xCC\xEC: %Y\xC4\xEA %m\xD4\xC2 %d\xC8\xD5";
// Caption of a month other than today's: "当前时间: 2024年5月".
constexpr char kCaptionFormat[] = "\xB5\xB1\xC7\xB0\xCA\xB1\xBC\xE4: %d\xC4\xEA%d\xD4\xC2";

}  // namespace calendar_text
