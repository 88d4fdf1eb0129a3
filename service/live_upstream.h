#pragma once
// One GET to the upstream through libcurl: HTTPS with the system's certificate store checked
// (plain HTTP for a local stand-in or mirror), no redirects, a connect and a whole-request
// time limit, and a bounded body.

#include <string>

namespace forecast {

struct HttpAnswer {
    long status = 0;  // 0 when no answer came
    std::string body;
    std::string error;  // why no answer came, for the log
};

// Call once before any thread calls fetch.
void initUpstreamClient();

// Safe to call from several threads at once; each thread keeps its own connection cache.
HttpAnswer fetch(const std::string& url, long timeoutMs);

}  // namespace forecast
