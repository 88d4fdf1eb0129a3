#pragma once
// The service's GBK texts, as byte escapes so that no editor or locale can change them.

namespace forecast {

constexpr char kWeatherWords[] = "\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8";         // 天气预报
constexpr char kCelsius[] = "\xA1\xE6";                                      // ℃
constexpr char kTurnsTo[] = "\xD7\xAA";                                      // 转
constexpr char kMonth[] = "\xD4\xC2";                                        // 月
constexpr char kDay[] = "\xC8\xD5";                                          // 日
constexpr char kSearch[] = "\xCB\xD1\xCB\xF7";                               // 搜索
constexpr char kRelated[] = "\xCF\xE0\xB9\xD8\xCB\xD1\xCB\xF7";              // 相关搜索
constexpr char kForecastFor[] = "\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8\xA3\xBA";  // 天气预报：
constexpr char kNoForecastFor[] =
    "\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8\xA3\xBA";  // 没有找到天气预报：
constexpr char kSource[] =
    "\xCA\xFD\xBE\xDD\xC0\xB4\xD7\xD4\xB1\xBE\xB5\xD8\xD4\xA4\xB1\xA8\xB7\xFE\xCE\xF1";  // 数据来自本地预报服务
// 天气数据来自 Open-Meteo.com (CC BY 4.0), linked as its licence asks
constexpr char kOpenMeteoSource[] =
    "\xCC\xEC\xC6\xF8\xCA\xFD\xBE\xDD\xC0\xB4\xD7\xD4 <a href=\"https://open-meteo.com/\">Open-Meteo.com</a> "
    "(<a href=\"https://creativecommons.org/licenses/by/4.0/\">CC BY 4.0</a>)";
constexpr char kDemo[] = "\xD1\xDD\xCA\xBE\xCA\xFD\xBE\xDD";  // 演示数据
constexpr char kLevel[] = "\xBC\xB6";                         // 级
constexpr char kLightBreeze[] = "\xCE\xA2\xB7\xE7";           // 微风

}  // namespace forecast
