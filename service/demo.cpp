#include "service/demo.h"

#include <cmath>
#include <cstdint>

#include "service/conditions.h"
#include "service/texts.h"

namespace forecast {
namespace {

struct Climate {
    int januaryMean;  // daily mean temperature in degrees Celsius
    int julyMean;
    int wetness;  // chance in percent that a day brings precipitation
};

// Same order as kDemoCities.
const Climate kClimates[] = {
    {-3, 27, 25},  {5, 29, 40},  {14, 29, 50}, {16, 29, 50}, {-3, 27, 25}, {8, 29, 45},  {6, 25, 45},   {4, 29, 40},
    {0, 27, 30},   {3, 28, 40},  {5, 29, 45},  {4, 29, 40},  {5, 29, 45},  {1, 27, 30},  {-11, 25, 25}, {-18, 23, 25},
    {-15, 23, 25}, {-4, 24, 30}, {-1, 25, 30}, {-1, 27, 30}, {3, 28, 40},  {5, 29, 45},  {11, 29, 45},  {13, 28, 45},
    {9, 20, 40},   {5, 24, 50},  {13, 28, 50}, {18, 29, 50}, {-5, 22, 20}, {-7, 17, 20}, {-8, 24, 15},  {-12, 23, 15},
    {-12, 24, 15}, {-1, 16, 20}, {-6, 24, 20}, {-2, 27, 25},
};

const char* const kWinds[] = {
    "\xB6\xAB\xB7\xE7",          // 东风
    "\xB6\xAB\xC4\xCF\xB7\xE7",  // 东南风
    "\xC4\xCF\xB7\xE7",          // 南风
    "\xCE\xF7\xC4\xCF\xB7\xE7",  // 西南风
    "\xCE\xF7\xB7\xE7",          // 西风
    "\xCE\xF7\xB1\xB1\xB7\xE7",  // 西北风
    "\xB1\xB1\xB7\xE7",          // 北风
    "\xB6\xAB\xB1\xB1\xB7\xE7",  // 东北风
};
constexpr double kPi = 3.14159265358979323846;
const char* const kForces[] = {"3-4", "4-5", "5-6"};

// splitmix64: a few good bits from a plain counter, so no generator state is kept.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

class Dice {
public:
    Dice(int city, int day) : state(mix(static_cast<std::uint64_t>(city) << 32 ^ static_cast<std::uint32_t>(day))) {}
    int roll(int sides) {
        state = mix(state);
        return static_cast<int>(state % static_cast<std::uint64_t>(sides));
    }

private:
    std::uint64_t state;
};

const char* condition(const char* icon) { return findCondition(icon)->icon; }

const char* pickCondition(Dice& dice, const Climate& c, int low) {
    if (dice.roll(100) >= c.wetness) {
        const char* fair[] = {"qing", "qing", "duoyun", "duoyun", "yin", "wu"};
        return condition(fair[dice.roll(low < 0 ? 5 : 6)]);
    }
    if (low <= -2) return condition(dice.roll(3) == 0 ? "daxue" : "xiaoxue");
    if (low <= 1) return condition("yujiaxue");
    const char* wet[] = {"xiaoyu", "xiaoyu", "zhenyu", "zhongyu", "leizhenyu", "dayu"};
    return condition(wet[dice.roll(low >= 18 ? 6 : 4)]);
}

}  // namespace

const char* const kDemoCities[] = {
    "\xB1\xB1\xBE\xA9",                  // 北京
    "\xC9\xCF\xBA\xA3",                  // 上海
    "\xB9\xE3\xD6\xDD",                  // 广州
    "\xC9\xEE\xDB\xDA",                  // 深圳
    "\xCC\xEC\xBD\xF2",                  // 天津
    "\xD6\xD8\xC7\xEC",                  // 重庆
    "\xB3\xC9\xB6\xBC",                  // 成都
    "\xCE\xE4\xBA\xBA",                  // 武汉
    "\xCE\xF7\xB0\xB2",                  // 西安
    "\xC4\xCF\xBE\xA9",                  // 南京
    "\xBA\xBC\xD6\xDD",                  // 杭州
    "\xCB\xD5\xD6\xDD",                  // 苏州
    "\xB3\xA4\xC9\xB3",                  // 长沙
    "\xD6\xA3\xD6\xDD",                  // 郑州
    "\xC9\xF2\xD1\xF4",                  // 沈阳
    "\xB9\xFE\xB6\xFB\xB1\xF5",          // 哈尔滨
    "\xB3\xA4\xB4\xBA",                  // 长春
    "\xB4\xF3\xC1\xAC",                  // 大连
    "\xC7\xE0\xB5\xBA",                  // 青岛
    "\xBC\xC3\xC4\xCF",                  // 济南
    "\xBA\xCF\xB7\xCA",                  // 合肥
    "\xC4\xCF\xB2\xFD",                  // 南昌
    "\xB8\xA3\xD6\xDD",                  // 福州
    "\xCF\xC3\xC3\xC5",                  // 厦门
    "\xC0\xA5\xC3\xF7",                  // 昆明
    "\xB9\xF3\xD1\xF4",                  // 贵阳
    "\xC4\xCF\xC4\xFE",                  // 南宁
    "\xBA\xA3\xBF\xDA",                  // 海口
    "\xC0\xBC\xD6\xDD",                  // 兰州
    "\xCE\xF7\xC4\xFE",                  // 西宁
    "\xD2\xF8\xB4\xA8",                  // 银川
    "\xBA\xF4\xBA\xCD\xBA\xC6\xCC\xD8",  // 呼和浩特
    "\xCE\xDA\xC2\xB3\xC4\xBE\xC6\xEB",  // 乌鲁木齐
    "\xC0\xAD\xC8\xF8",                  // 拉萨
    "\xCC\xAB\xD4\xAD",                  // 太原
    "\xCA\xAF\xBC\xD2\xD7\xAF",          // 石家庄
};
const int kDemoCityCount = sizeof kDemoCities / sizeof kDemoCities[0];
static_assert(sizeof kClimates / sizeof kClimates[0] == sizeof kDemoCities / sizeof kDemoCities[0]);

Dataset makeDemoDataset(int firstDay, int count) {
    Dataset data;
    data.demo = true;
    for (int city = 0; city < kDemoCityCount; ++city) {
        const Climate& c = kClimates[city];
        auto& days = data.cities[kDemoCities[city]];
        for (int n = firstDay; n < firstDay + count; ++n) {
            int year = 0, month = 0, dayOfMonth = 0;
            civilDate(n, year, month, dayOfMonth);
            // Coldest around 15 January, warmest half a year later.
            const double phase = 2 * kPi * (n - dayNumber(year, 1, 15)) / 365.25;
            const double mean =
                (c.januaryMean + c.julyMean) / 2.0 - (c.julyMean - c.januaryMean) / 2.0 * std::cos(phase);
            Dice dice(city, n);
            DayForecast day;
            day.high = static_cast<int>(std::lround(mean)) + 3 + dice.roll(5);
            day.low = day.high - 5 - dice.roll(6);
            day.dayIcon = pickCondition(dice, c, day.low);
            day.nightIcon = dice.roll(10) < 7 ? day.dayIcon : pickCondition(dice, c, day.low);
            day.description = findCondition(day.dayIcon)->words;
            if (day.nightIcon != day.dayIcon) {
                day.description += kTurnsTo;
                day.description += findCondition(day.nightIcon)->words;
            }
            const int force = dice.roll(6);
            day.wind = force < 2 ? std::string(kLightBreeze)
                                 : std::string(kWinds[dice.roll(8)]) + kForces[(force - 2) % 3] + kLevel;
            days.emplace(n, std::move(day));
        }
    }
    return data;
}

}  // namespace forecast
