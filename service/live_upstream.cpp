#include "service/live_upstream.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>

#include "common/unique_owner.h"

namespace forecast {
namespace {

// The forecast for three days is about a kilobyte, ten geocoder matches a few.
constexpr std::size_t kMaxBody = 256 * 1024;
constexpr long kMaxConnectMs = 3000;

struct CurlTraits {
    using Handle = CURL*;
    static Handle invalid() { return nullptr; }
    static void close(Handle h) { curl_easy_cleanup(h); }
};
using UniqueCurl = Unique<CurlTraits>;

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    const std::size_t bytes = size * count;
    if (body->size() + bytes > kMaxBody) return 0;  // ends the transfer with a write error
    body->append(data, bytes);
    return bytes;
}

// Loopback is never sent through a proxy from the environment; other addresses are, so
// that a site behind one can still reach the upstream.
std::string noProxy() {
    std::string list = "localhost,127.0.0.1,::1";
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        if (const char* value = std::getenv(name); value && *value) return list + "," + value;
    }
    return list;
}

}  // namespace

void initUpstreamClient() { curl_global_init(CURL_GLOBAL_DEFAULT); }

HttpAnswer fetch(const std::string& url, long timeoutMs) {
    // Kept per thread: curl reuses a kept-alive connection to the same host from one call to
    // the next, which saves a TLS handshake per call.
    thread_local UniqueCurl curl(curl_easy_init());
    static const std::string bypass = noProxy();
    HttpAnswer answer;
    if (!curl) return answer.error = "cannot start an HTTP client", answer;
    CURL* h = curl.get();
    curl_easy_reset(h);
    // Lives as long as the handle that keeps pointing at it between calls.
    thread_local char error[CURL_ERROR_SIZE];
    error[0] = '\0';
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, std::min(kMaxConnectMs, timeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // no SIGALRM for name look-ups: threads
    curl_easy_setopt(h, CURLOPT_NOPROXY, bypass.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "pellumo-forecast");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer.body);
    CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK) {
        answer.error = *error ? error : curl_easy_strerror(result);
        if (result == CURLE_WRITE_ERROR) answer.error = "answer larger than 256 KiB";
        // curl's own text names the milliseconds waited, which would make every time-out a
        // new problem to log.
        if (result == CURLE_OPERATION_TIMEDOUT) answer.error = "no answer within the time limit";
        answer.body.clear();
        return answer;
    }
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
    return answer;
}

}  // namespace forecast
