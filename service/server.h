#pragma once
// The HTTP edge of the forecast service: GNU libmicrohttpd's event-driven server in front of
// handleRequest, with the limits that keep slow, idle and bursty clients from starving the
// rest, and the access log.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "common/unique_owner.h"
#include "service/forecast_data.h"
#include "service/service.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace forecast {

// Receives one line of output (no newline): the access log and the data keeper's notes.
using LogSink = std::function<void(const std::string& line)>;

// The server's local date as a day number.
int localToday();

// What one client may cost. A waiting connection costs a socket and a little memory, never a
// thread, so the caps on connections are high; the time limits are what free them.
struct EdgeLimits {
    int idleSeconds = 5;  // a kept-alive connection with nothing arriving is closed
    // A request, head and body, must be complete this long after its connection was accepted or
    // last answered, however steadily it trickles.
    int requestSeconds = 10;
    int maxConnections = 8192;  // also bounded by the open-file limit
    int maxPerAddress = 4096;   // behind the nginx front every connection has the front's address
    int backlog = 1024;         // connections the kernel holds before they are accepted
    int threads = 2;
    // The head (request line and fields) and the answer's head share this much memory per
    // connection; a longer head is refused by the library itself (414 or 431).
    int headBytes = 32 * 1024;
    int maxHeaderFields = 64;
    int maxBodyBytes = 4096;  // no request needs a body; a short one is read and dropped
};

struct FdTraits {
    using Handle = int;
    static Handle invalid() { return -1; }
    static void close(Handle fd);
};
struct DaemonTraits {
    using Handle = MHD_Daemon*;
    static Handle invalid() { return nullptr; }
    static void close(Handle daemon);
};

class ForecastServer {
public:
    ForecastServer(ServiceConfig config, EdgeLimits limits, LogSink log);
    ~ForecastServer();
    ForecastServer(const ForecastServer&) = delete;
    ForecastServer& operator=(const ForecastServer&) = delete;

    // Port 0 takes an ephemeral port. False with a reason when the address cannot be bound.
    bool bind(const std::string& address, int port, std::string& error);
    int port() const { return boundPort; }
    // Serves from the library's threads until stop; call after bind.
    bool start(std::string& error);
    void stop();

    void setData(std::shared_ptr<const Dataset> data);
    // When set, answers every request in place of the data (the live source): with the reply
    // at once, or with none, and then through `later`, once, from another thread, while the
    // connection waits suspended. A `mark` it gives ends the request's access-log line. Set it
    // before start, and have it answer every waiting request before stop.
    using Later = std::function<void(Reply reply, std::string mark)>;
    using Answerer = std::function<std::optional<Reply>(const ServiceConfig& config, std::string_view method,
                                                        std::string_view target, std::string& mark, Later later)>;
    void setAnswerer(Answerer a) { answerer = std::move(a); }
    // The icon host is settled once the port is known; set it before start.
    void setIconHost(std::string host) { config.iconHost = std::move(host); }

    // The libmicrohttpd callbacks, public only so that the C trampolines can reach them.
    struct Watch;
    struct Exchange;
    bool answer(MHD_Connection* connection, Exchange& exchange, const char* method, std::size_t* uploadSize);
    void finish(MHD_Connection* connection, Exchange* exchange);
    void connectionStarted(MHD_Connection* connection, void** socketContext);
    void connectionClosed(void* socketContext);

private:
    std::shared_ptr<const Dataset> currentData() const;
    std::optional<Reply> refuseHead(MHD_Connection* connection, const char* method) const;
    std::optional<Reply> reply(MHD_Connection* connection, Exchange& exchange);
    bool send(MHD_Connection* connection, Exchange& exchange, const Reply& reply);
    void watchRequests();

    ServiceConfig config;
    EdgeLimits limits;
    LogSink log;
    Answerer answerer;
    mutable std::mutex dataMutex;
    std::shared_ptr<const Dataset> data;
    Unique<FdTraits> listener;
    int boundPort = 0;

    // Connections, for the request deadline that the library's idle time-out cannot give: a
    // client that trickles a byte a second is never idle.
    std::mutex watchMutex;
    std::unordered_map<Watch*, std::unique_ptr<Watch>> watches;
    bool stopping = false;
    std::condition_variable stopped;
    std::thread watcher;

    Unique<DaemonTraits> daemon;  // last: stopped first, while everything it calls still stands
};

}  // namespace forecast
