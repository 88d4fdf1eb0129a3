#include "service/query.h"

#include "common/ascii.h"
#include "service/texts.h"

namespace forecast {
namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

bool percentDecode(std::string_view in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            const int high = i + 1 < in.size() ? ascii::digitValue(in[i + 1]) : 16;
            const int low = i + 2 < in.size() ? ascii::digitValue(in[i + 2]) : 16;
            if (high > 15 || low > 15) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool isWellFormedGbk(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F || b == 0x80 || b == 0xFF) return false;
        if (b < 0x80) continue;
        if (i + 1 >= text.size()) return false;
        auto t = static_cast<unsigned char>(text[++i]);
        if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
    }
    return true;
}

SearchQuery parseSearchQuery(std::string_view query) {
    SearchQuery result;
    bool haveWords = false;
    std::string key;
    std::string value;
    while (true) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        std::size_t eq = pair.find('=');
        if (!percentDecode(pair.substr(0, eq), key)) return SearchQuery{};
        if (!percentDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), value)) {
            return SearchQuery{};
        }
        if (key == "wd" && !haveWords) {
            result.words = value;
            haveWords = true;
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    if (!haveWords || !isWellFormedGbk(result.words)) return SearchQuery{};

    std::string_view words = trimBlanks(result.words);
    std::string_view weather(kWeatherWords);
    if (words.substr(0, weather.size()) == weather &&
        (words.size() == weather.size() || words[weather.size()] == ' ')) {
        result.kind = QueryKind::Weather;
        result.city = std::string(trimBlanks(words.substr(weather.size())));
    } else {
        result.kind = QueryKind::OtherSearch;
    }
    return result;
}

}  // namespace forecast
