#include "service/conditions.h"

namespace forecast {

// Ordered from fair to foul; the demo generator relies on the order.
const Condition kConditions[] = {
    {"qing", "\xC7\xE7"},                       // 晴
    {"duoyun", "\xB6\xE0\xD4\xC6"},             // 多云
    {"yin", "\xD2\xF5"},                        // 阴
    {"wu", "\xCE\xED"},                         // 雾
    {"zhenyu", "\xD5\xF3\xD3\xEA"},             // 阵雨
    {"leizhenyu", "\xC0\xD7\xD5\xF3\xD3\xEA"},  // 雷阵雨
    {"xiaoyu", "\xD0\xA1\xD3\xEA"},             // 小雨
    {"zhongyu", "\xD6\xD0\xD3\xEA"},            // 中雨
    {"dayu", "\xB4\xF3\xD3\xEA"},               // 大雨
    {"yujiaxue", "\xD3\xEA\xBC\xD0\xD1\xA9"},   // 雨夹雪
    {"xiaoxue", "\xD0\xA1\xD1\xA9"},            // 小雪
    {"daxue", "\xB4\xF3\xD1\xA9"},              // 大雪
};
const int kConditionCount = sizeof kConditions / sizeof kConditions[0];

const Condition* findCondition(std::string_view icon) {
    for (const Condition& c : kConditions) {
        if (icon == c.icon) return &c;
    }
    return nullptr;
}

}  // namespace forecast
