#include "service/server.h"

#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <sstream>
#include <string_view>

#include "common/ascii.h"

namespace forecast {

using Clock = std::chrono::steady_clock;

// Where a connection stands, for the request deadline: `waiting` from the moment it is
// accepted or its answer is sent until the next request, head and body, is complete.
struct ForecastServer::Watch {
    int fd = -1;
    std::atomic<bool> waiting{true};
    std::atomic<Clock::rep> waitingSince{Clock::now().time_since_epoch().count()};
    bool cut = false;  // under watchMutex
};

// One request from its request line to the access log.
struct ForecastServer::Exchange {
    Clock::time_point start = Clock::now();
    std::string target;  // raw, as the client sent it; the core decodes it
    std::string method;  // empty until the head is complete
    std::size_t bodyBytes = 0;
    int status = 0;  // 0 until ours is queued
    std::size_t sent = 0;
    std::string mark;  // how the answerer came by the reply, for the log
    // A reply that comes later, while the connection waits suspended: the exchange outlives
    // the wait, since the library ends no request of a suspended connection.
    std::mutex laterMutex;
    std::optional<Reply> later;
    std::string laterMark;
    bool suspended = false;
};

namespace {

constexpr std::size_t kMaxLoggedTarget = 512;
// Descriptors the process keeps for itself beside the connections: the listener, the
// library's epoll and wake-up pipes, the data file.
constexpr int kSpareFiles = 32;
constexpr int kWatchTicksPerSecond = 4;

std::string printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text.substr(0, kMaxLoggedTarget)) {
        if (c > 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += ascii::hexDigit(c >> 4);
            out += ascii::hexDigit(c);
        }
    }
    return out.empty() ? "-" : out;
}

// The local time as the log and the pages want it, worked out once a second per thread:
// localtime_r takes a process-wide lock, which the serving threads would otherwise meet on
// every request.
struct LocalSecond {
    std::time_t second = -1;
    int today = 0;
    char stamp[40] = {};
};

const LocalSecond& localSecond() {
    thread_local LocalSecond cached;
    std::time_t now = std::time(nullptr);
    if (now != cached.second) {
        std::tm tm{};
        localtime_r(&now, &tm);
        cached.second = now;
        cached.today = dayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        std::strftime(cached.stamp, sizeof cached.stamp, "%Y-%m-%dT%H:%M:%S%z", &tm);
    }
    return cached;
}

bool equalsIgnoringCase(const char* text, const char* word) {
    return ascii::equalsIgnoringCase(text, std::strlen(text), word);
}

// A method HTTP does not define is a malformed request rather than one we decline.
bool knownMethod(std::string_view method) {
    for (const char* known : {"GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH"}) {
        if (method == known) return true;
    }
    return false;
}

// What the head says about a body, and how many fields it has.
struct Framing {
    int fields = 0;
    int lengths = 0;
    int encodings = 0;
    const char* length = nullptr;
    const char* encoding = nullptr;
};

MHD_Result countField(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto& framing = *static_cast<Framing*>(cls);
    ++framing.fields;
    if (equalsIgnoringCase(key, "Content-Length")) {
        ++framing.lengths;
        framing.length = value;
    } else if (equalsIgnoringCase(key, "Transfer-Encoding")) {
        ++framing.encodings;
        framing.encoding = value;
    }
    return MHD_YES;
}

ForecastServer::Watch* watchOf(MHD_Connection* connection) {
    auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ForecastServer::Watch*>(info->socket_context) : nullptr;
}

// The C entry points of the library, each handing over to the server.

void* requestBegins(void* cls, const char* uri, MHD_Connection*) {
    (void)cls;
    auto exchange = std::make_unique<ForecastServer::Exchange>();
    exchange->target = uri ? uri : "";
    return exchange.release();  // owned by the connection's request until requestEnds
}

MHD_Result requestHead(void* cls, MHD_Connection* connection, const char*, const char* method, const char*, const char*,
                       std::size_t* uploadSize, void** requestContext) {
    if (*requestContext == nullptr) return MHD_NO;
    auto& exchange = *static_cast<ForecastServer::Exchange*>(*requestContext);
    return static_cast<ForecastServer*>(cls)->answer(connection, exchange, method, uploadSize) ? MHD_YES : MHD_NO;
}

void requestEnds(void* cls, MHD_Connection* connection, void** requestContext, MHD_RequestTerminationCode) {
    std::unique_ptr<ForecastServer::Exchange> exchange(static_cast<ForecastServer::Exchange*>(*requestContext));
    *requestContext = nullptr;
    static_cast<ForecastServer*>(cls)->finish(connection, exchange.get());
}

void connectionChanges(void* cls, MHD_Connection* connection, void** socketContext,
                       MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<ForecastServer*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        server.connectionStarted(connection, socketContext);
    } else {
        server.connectionClosed(*socketContext);
    }
}

}  // namespace

void FdTraits::close(int fd) { ::close(fd); }
void DaemonTraits::close(MHD_Daemon* daemon) { MHD_stop_daemon(daemon); }

int localToday() { return localSecond().today; }

ForecastServer::ForecastServer(ServiceConfig serviceConfig, EdgeLimits edgeLimits, LogSink logSink)
    : config(std::move(serviceConfig)),
      limits(edgeLimits),
      log(std::move(logSink)),
      data(std::make_shared<Dataset>()) {}

ForecastServer::~ForecastServer() { stop(); }

bool ForecastServer::bind(const std::string& address, int port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    int resolved = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
    std::string why = resolved == 0 ? "" : gai_strerror(resolved);
    for (addrinfo* a = found; a && !listener; a = a->ai_next) {
        Unique<FdTraits> fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        // SO_REUSEADDR only: SO_REUSEPORT would let a second service bind the same port and
        // silently take half of the connections, where a taken port must fail instead.
        int yes = 1;
        if (fd && setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
            ::bind(fd.get(), a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd.get(), limits.backlog) == 0) {
            listener = std::move(fd);
        } else {
            why = std::strerror(errno);
        }
    }
    if (found) freeaddrinfo(found);
    if (!listener) {
        error = "cannot listen on " + address + ":" + std::to_string(port);
        if (!why.empty()) error += ": " + why;
        if (port > 0 && port < 1024) error += " (ports below 1024 need root)";
        return false;
    }
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(listener.get(), reinterpret_cast<sockaddr*>(&bound), &size);
    boundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return true;
}

bool ForecastServer::start(std::string& error) {
    // Every connection is a descriptor: take what the hard limit allows, and keep the cap on
    // connections below it, so that the cap and not accept's failure is what turns clients away.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
        getrlimit(RLIMIT_NOFILE, &files);
    }
    rlim_t room = files.rlim_cur > rlim_t(2 * kSpareFiles) ? files.rlim_cur - kSpareFiles : kSpareFiles;
    auto connections = static_cast<unsigned>(std::min<rlim_t>(rlim_t(limits.maxConnections), room));

    // No Date field, as the answers never had one: a cache in front goes by Cache-Control.
    // Strict parsing refuses an HTTP/1.1 request without Host, or with blanks in its target:
    // what a front could read one way and the service another is not read at all.
    // Suspending lets a request wait for the live source's upstream without holding a thread.
    unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_SUPPRESS_DATE_NO_CLOCK | MHD_ALLOW_SUSPEND_RESUME;
    daemon.reset(MHD_start_daemon(flags, 0, nullptr, nullptr, &requestHead, this,                                   //
                                  MHD_OPTION_LISTEN_SOCKET, listener.get(),                                         //
                                  MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(limits.threads),               //
                                  MHD_OPTION_CONNECTION_LIMIT, connections,                                         //
                                  MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(limits.maxPerAddress),  //
                                  MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(limits.idleSeconds),         //
                                  MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<std::size_t>(limits.headBytes),   //
                                  MHD_OPTION_STRICT_FOR_CLIENT, 1,                                                  //
                                  MHD_OPTION_URI_LOG_CALLBACK, &requestBegins, this,                                //
                                  MHD_OPTION_NOTIFY_COMPLETED, &requestEnds, this,                                  //
                                  MHD_OPTION_NOTIFY_CONNECTION, &connectionChanges, this,                           //
                                  MHD_OPTION_END));
    if (!daemon) {
        error = "the HTTP server did not start";
        return false;
    }
    listener.release();  // the library closes it when it stops
    watcher = std::thread([this] { watchRequests(); });
    return true;
}

void ForecastServer::stop() {
    {
        std::lock_guard<std::mutex> lock(watchMutex);
        stopping = true;
    }
    stopped.notify_all();
    if (watcher.joinable()) watcher.join();
    daemon.reset();
}

void ForecastServer::setData(std::shared_ptr<const Dataset> fresh) {
    std::lock_guard<std::mutex> lock(dataMutex);
    data = std::move(fresh);
}

std::shared_ptr<const Dataset> ForecastServer::currentData() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return data;
}

// The head's own faults.
std::optional<Reply> ForecastServer::refuseHead(MHD_Connection* connection, const char* method) const {
    Framing framing;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &countField, &framing);
    unsigned long long bodyLength = framing.length ? std::strtoull(framing.length, nullptr, 10) : 0;
    if (framing.fields > limits.maxHeaderFields) return errorReply(431, "Request Header Fields Too Large");
    // Two framings of one body are how a request is smuggled past a front that reads the
    // other one; neither is guessed at.
    if (framing.lengths > 1 || framing.encodings > 1 || (framing.lengths && framing.encodings) ||
        (framing.encoding && !equalsIgnoringCase(framing.encoding, "chunked"))) {
        return errorReply(400, "Bad Request");
    }
    if (bodyLength > static_cast<unsigned long long>(limits.maxBodyBytes)) return errorReply(413, "Content Too Large");
    if (!knownMethod(method)) return errorReply(400, "Bad Request");
    return std::nullopt;
}

// Called once the head is complete, again with each piece of a body, and once more when the
// request is complete. The library closes the connection after an answer queued at the first
// call, which suits a refusal: the rest of such a connection cannot be read reliably.
bool ForecastServer::answer(MHD_Connection* connection, Exchange& exchange, const char* method,
                            std::size_t* uploadSize) {
    if (exchange.method.empty()) {
        exchange.method = method;
        std::optional<Reply> refused = refuseHead(connection, method);
        if (!refused) return true;
        refused->closeAfter = true;
        return send(connection, exchange, *refused);
    }
    if (*uploadSize > 0) {
        // Read and dropped, so that it cannot pass for the next request. A chunked body past
        // the cap ends the connection unanswered: the library takes no answer halfway through.
        exchange.bodyBytes += *uploadSize;
        *uploadSize = 0;
        return exchange.bodyBytes <= static_cast<std::size_t>(limits.maxBodyBytes);
    }
    std::optional<Reply> answered = reply(connection, exchange);
    if (!answered) return true;  // suspended until the reply comes
    Reply& reply = *answered;
    // HEAD sends no body, so there is nothing to read to the end of.
    reply.closeAfter = reply.closeAfter && exchange.method != "HEAD";
    return send(connection, exchange, reply);
}

// The reply to a complete request: the data's, the answerer's at once, or, once the connection
// is resumed, the answerer's later one. Nothing when the connection was suspended to wait.
std::optional<Reply> ForecastServer::reply(MHD_Connection* connection, Exchange& exchange) {
    if (!answerer) return handleRequest(config, *currentData(), exchange.method, exchange.target, localToday());
    if (!exchange.suspended) {
        // Two pointers: the callback stays inside std::function, with nothing allocated for it.
        Exchange* waiting = &exchange;
        std::optional<Reply> now = answerer(config, exchange.method, exchange.target, exchange.mark,
                                            [waiting, connection](Reply r, std::string mark) {
                                                std::lock_guard<std::mutex> guard(waiting->laterMutex);
                                                waiting->later = std::move(r);
                                                waiting->laterMark = std::move(mark);
                                                if (waiting->suspended) MHD_resume_connection(connection);
                                            });
        if (now) return now;
    }
    // Resumed, the reply is in; else it may have come before the connection could be suspended.
    std::lock_guard<std::mutex> lock(exchange.laterMutex);
    if (!exchange.later) {
        exchange.suspended = true;
        MHD_suspend_connection(connection);
        return std::nullopt;
    }
    exchange.mark = exchange.laterMark;
    return std::move(exchange.later);
}

bool ForecastServer::send(MHD_Connection* connection, Exchange& exchange, const Reply& reply) {
    // The request is in; sending the answer is bounded by the idle time-out alone.
    if (Watch* watch = watchOf(connection)) watch->waiting = false;
    MHD_Response* response =
        MHD_create_response_from_buffer(reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return false;
    // The fields the answers have always carried; the library adds Content-Length, and puts
    // Connection first.
    if (reply.status == 405) MHD_add_response_header(response, "Allow", "GET, HEAD");
    MHD_add_response_header(response, "Cache-Control", reply.cacheControl.c_str());
    if (reply.closeAfter) MHD_add_response_header(response, "Connection", "close");
    MHD_add_response_header(response, "Content-Type", reply.contentType.c_str());
    MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    exchange.status = reply.status;
    exchange.sent = exchange.method == "HEAD" ? 0 : reply.body.size();
    return queued == MHD_YES;
}

void ForecastServer::finish(MHD_Connection* connection, Exchange* exchange) {
    if (Watch* watch = watchOf(connection)) {
        watch->waitingSince = Clock::now().time_since_epoch().count();
        watch->waiting = true;
    }
    if (!exchange) return;
    std::ostringstream line;
    line << localSecond().stamp << ' ';
    if (exchange->status != 0) {
        auto micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - exchange->start).count();
        line << exchange->method << ' ' << printable(exchange->target) << ' ' << exchange->status << ' '
             << exchange->sent << ' ' << micros / 1000 << '.' << micros / 100 % 10 << "ms";
        if (!exchange->mark.empty()) line << ' ' << exchange->mark;
    } else {
        // Refused by the library before the head was complete, or left unanswered.
        auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
        if (!info || info->http_status == 0) return;
        line << "- " << printable(exchange->target) << ' ' << info->http_status << " - -";
    }
    log(line.str());
}

void ForecastServer::connectionStarted(MHD_Connection* connection, void** socketContext) {
    auto watch = std::make_unique<Watch>();
    if (auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
        watch->fd = info->connect_fd;
        // An answer that leaves in two segments would otherwise wait for the peer's delayed
        // acknowledgement, some 40 ms.
        int yes = 1;
        setsockopt(watch->fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    }
    std::lock_guard<std::mutex> lock(watchMutex);
    *socketContext = watch.get();
    Watch* key = watch.get();
    watches.emplace(key, std::move(watch));
}

void ForecastServer::connectionClosed(void* socketContext) {
    std::lock_guard<std::mutex> lock(watchMutex);
    watches.erase(static_cast<Watch*>(socketContext));
}

// Cuts every connection whose request is overdue. The library then sees the connection
// end and closes it; the descriptor stays valid until then, since the library tells
// connectionClosed, which waits for this lock, before it closes it.
void ForecastServer::watchRequests() {
    auto deadline = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(limits.requestSeconds)).count();
    std::unique_lock<std::mutex> lock(watchMutex);
    while (
        !stopped.wait_for(lock, std::chrono::milliseconds(1000 / kWatchTicksPerSecond), [this] { return stopping; })) {
        Clock::rep now = Clock::now().time_since_epoch().count();
        for (auto& [key, watch] : watches) {
            if (watch->cut || !watch->waiting || now - watch->waitingSince < deadline) continue;
            shutdown(watch->fd, SHUT_RDWR);
            watch->cut = true;
        }
    }
}

}  // namespace forecast
