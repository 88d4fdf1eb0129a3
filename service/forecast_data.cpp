#include "service/forecast_data.h"

#include <nlohmann/json.hpp>

#include "service/conditions.h"
#include "service/gbk.h"
#include "service/query.h"

namespace forecast {
namespace {

using Json = nlohmann::json;

bool isLeadByte(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
}

// Bytes that would end a text early on the program's side or change the markup around it.
bool hasMarkup(std::string_view s) { return s.find_first_of("<>&\"") != std::string_view::npos; }

bool gbkText(const Json& value, std::string& out) {
    return value.is_string() && utf8ToGbk(value.get_ref<const std::string&>(), out) && isWellFormedGbk(out);
}

bool parseDay(const Json& j, int& date, DayForecast& day, std::string& why) {
    if (!j.is_object()) return why = "not an object", false;
    auto field = [&](const char* name) -> const Json& {
        static const Json missing;
        auto it = j.find(name);
        return it == j.end() ? missing : *it;
    };
    const Json& d = field("date");
    if (!d.is_string() || !parseIsoDate(d.get<std::string>(), date)) return why = "date: want YYYY-MM-DD", false;
    const Json& condition = field("condition");
    if (!condition.is_string()) return why = "condition: missing", false;
    day.dayIcon = condition.get<std::string>();
    const Json& night = field("night");
    day.nightIcon = night.is_null() ? day.dayIcon : night.is_string() ? night.get<std::string>() : std::string();
    for (auto [name, target] : {std::pair<const char*, int*>{"high", &day.high}, {"low", &day.low}}) {
        const Json& t = field(name);
        if (!t.is_number_integer()) return why = std::string(name) + ": want an integer", false;
        auto v = t.get<long long>();
        if (v < kMinTemperature || v > kMaxTemperature) return why = std::string(name) + ": out of -99..99", false;
        *target = static_cast<int>(v);
    }
    if (!gbkText(field("text"), day.description)) return why = "text: missing or not representable in GBK", false;
    if (!gbkText(field("wind"), day.wind)) return why = "wind: missing or not representable in GBK", false;
    return checkDay(day, why);
}

}  // namespace

int dayNumber(int year, int month, int day) {
    // Counts from 1 March of year 0, so that the leap day ends a year.
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilDate(int n, int& year, int& month, int& day) {
    n += 719468;
    const int era = (n >= 0 ? n : n - 146096) / 146097;
    const int dayOfEra = n - era * 146097;
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = yearOfEra + era * 400 + (month <= 2);
}

bool Dataset::threeDays(const std::string& city, int today, const DayForecast* out[3]) const {
    auto c = cities.find(city);
    if (c == cities.end()) return false;
    for (int i = 0; i < 3; ++i) {
        auto d = c->second.find(today + i);
        if (d == c->second.end()) return false;
        out[i] = &d->second;
    }
    return true;
}

bool parseIsoDate(const std::string& s, int& out) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    int y = std::stoi(s.substr(0, 4));
    int m = std::stoi(s.substr(5, 2));
    int d = std::stoi(s.substr(8, 2));
    if (m < 1 || m > 12 || d < 1 || d > 31) return false;
    out = dayNumber(y, m, d);
    int y2 = 0, m2 = 0, d2 = 0;
    civilDate(out, y2, m2, d2);
    return y2 == y && m2 == m && d2 == d;  // rejects 2023-02-30 and the like
}

bool checkDay(const DayForecast& day, std::string& why) {
    if (!findCondition(day.dayIcon)) return why = "condition: unknown icon name '" + day.dayIcon + "'", false;
    if (!findCondition(day.nightIcon)) return why = "night: unknown icon name '" + day.nightIcon + "'", false;
    if (day.high < kMinTemperature || day.high > kMaxTemperature || day.low < kMinTemperature || day.low > day.high) {
        return why = "high/low: want -99 <= low <= high <= 99", false;
    }
    if (day.description.empty() || day.description.size() > kMaxTextBytes || !isLeadByte(day.description[0]) ||
        !isWellFormedGbk(day.description) || hasMarkup(day.description)) {
        return why = "text: want 1 to 8 Chinese characters (16 GBK bytes), starting with one, no <>&\"", false;
    }
    if (day.wind.empty() || day.wind.size() > kMaxTextBytes || !isWellFormedGbk(day.wind) || hasMarkup(day.wind)) {
        return why = "wind: want 1 to 16 GBK bytes, no <>&\"", false;
    }
    return true;
}

bool parseDataset(std::string_view text, Dataset& out, std::string& error) {
    out = Dataset{};
    Json root = Json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) return error = "not valid JSON", false;
    auto cities = root.is_object() ? root.find("cities") : root.end();
    if (!root.is_object() || cities == root.end() || !cities->is_array()) {
        return error = "want an object with a \"cities\" array", false;
    }
    for (std::size_t i = 0; i < cities->size(); ++i) {
        const Json& c = (*cities)[i];
        const std::string where = "cities[" + std::to_string(i) + "]";
        std::string name;
        if (!c.is_object() || !c.contains("name") || !gbkText(c["name"], name)) {
            return error = where + ".name: missing or not representable in GBK", false;
        }
        if (name.empty() || name.size() > kMaxCityBytes || hasMarkup(name) || name.find(' ') != std::string::npos) {
            return error = where + ".name: want 1 to 15 GBK bytes without blanks or <>&\"", false;
        }
        auto [entry, fresh] = out.cities.try_emplace(name);
        if (!fresh) return error = where + ".name: the city appears twice", false;
        auto days = c.find("days");
        if (days == c.end() || !days->is_array()) return error = where + ".days: want an array", false;
        for (std::size_t k = 0; k < days->size(); ++k) {
            int date = 0;
            DayForecast day;
            std::string why;
            if (!parseDay((*days)[k], date, day, why)) {
                return error = where + ".days[" + std::to_string(k) + "]." + why, false;
            }
            if (!entry->second.emplace(date, std::move(day)).second) {
                return error = where + ".days[" + std::to_string(k) + "].date: the date appears twice", false;
            }
        }
    }
    return true;
}

}  // namespace forecast
