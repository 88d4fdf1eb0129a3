#include "service/service.h"

#include "service/icons.h"
#include "service/page.h"
#include "service/query.h"

namespace forecast {

Reply errorReply(int status, const char* text) {
    Reply r;
    r.status = status;
    r.contentType = "text/plain; charset=us-ascii";
    r.cacheControl = "no-store";
    r.body = std::to_string(status) + " " + text + "\n";
    return r;
}

namespace {

constexpr char kPageType[] = "text/html; charset=gbk";
constexpr char kPageCache[] = "public, max-age=300";
constexpr char kIconCache[] = "public, max-age=86400";

Reply page(std::string body, bool hasForecast) {
    Reply r;
    r.contentType = kPageType;
    r.cacheControl = kPageCache;
    r.body = std::move(body);
    r.closeAfter = !hasForecast;
    return r;
}

}  // namespace

Reply handleSearch(const ServiceConfig& config, const Dataset& data, const SearchQuery& q, int today) {
    if (q.kind == QueryKind::Malformed) return errorReply(400, "Bad Request: want wd=GBK words, percent-encoded");
    if (q.kind == QueryKind::OtherSearch) return page(plainPage(q.words, ""), false);
    const std::string& city = q.city.empty() ? config.defaultCity : q.city;
    const DayForecast* days[3] = {};
    if (!data.threeDays(city, today, days)) return page(plainPage(q.words, city), false);
    return page(forecastPage(city, days, today, config.iconHost, data.demo, data.live), true);
}

namespace {

// Only the exact path of a known icon is served; anything else, an escaped or a dotted name
// included, is not found.
Reply icon(std::string_view rest) {
    bool night = false;
    if (rest.substr(0, 4) == "day/") {
        rest.remove_prefix(4);
    } else if (rest.substr(0, 6) == "night/") {
        rest.remove_prefix(6);
        night = true;
    } else {
        return errorReply(404, "Not Found");
    }
    if (rest.size() < 5 || rest.substr(rest.size() - 4) != ".gif") return errorReply(404, "Not Found");
    std::string_view gif = iconFile(rest.substr(0, rest.size() - 4), night);
    if (gif.empty()) return errorReply(404, "Not Found");
    Reply r;
    r.contentType = "image/gif";
    r.cacheControl = kIconCache;
    r.body = std::string(gif);
    r.closeAfter = true;
    return r;
}

}  // namespace

Reply handleRequest(const ServiceConfig& config, const Dataset& data, std::string_view method, std::string_view target,
                    int today) {
    if (method != "GET" && method != "HEAD") return errorReply(405, "Method Not Allowed");
    if (target.size() > kMaxTarget) return errorReply(414, "URI Too Long");
    std::size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    std::string_view query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (path == "/s") return handleSearch(config, data, parseSearchQuery(query), today);
    std::string_view iconPath(forecast_page::kIconPath);
    if (path.substr(0, iconPath.size()) == iconPath && question == std::string_view::npos) {
        return icon(path.substr(iconPath.size()));
    }
    return errorReply(404, "Not Found");
}

}  // namespace forecast
