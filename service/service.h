#pragma once
// The service's answer to one request, decided from the method, the raw request target, the
// current data and the local day. No sockets, no clock: the HTTP edge (server.cpp) feeds it.

#include <string>
#include <string_view>

#include "service/forecast_data.h"
#include "service/query.h"

namespace forecast {

struct ServiceConfig {
    std::string iconHost;     // written into the pages' icon URLs, "host" or "host:port"
    std::string defaultCity;  // GBK; served for a weather search that names no city
};

struct Reply {
    int status = 200;
    std::string contentType;
    std::string cacheControl;
    std::string body;
    // The program reads an icon, and a page without the forecast table, until the connection
    // ends; the edge closes the connection after such a body.
    bool closeAfter = false;
};

// A short plain-text answer, "404 Not Found" and the like, that no cache keeps.
Reply errorReply(int status, const char* text);

// The answer to a search that the caller has parsed already, as handleRequest gives it for a
// GET of "/s" with that query.
Reply handleSearch(const ServiceConfig& config, const Dataset& data, const SearchQuery& query, int today);

// `today` is the server's local date as a day number (forecast_data.h).
Reply handleRequest(const ServiceConfig& config, const Dataset& data, std::string_view method, std::string_view target,
                    int today);

}  // namespace forecast
