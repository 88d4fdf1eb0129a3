#include "service/server.h"

#include <httplib.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

#include "service/demo.h"

namespace forecast {
namespace {

// Enough workers that a few idle kept-alive connections never starve the rest; each
// connection holds one worker until it closes or idles out.
constexpr int kWorkers = 32;
constexpr int kIdleSeconds = 5;
constexpr std::size_t kMaxDataFileBytes = 16 << 20;
constexpr std::size_t kMaxLoggedTarget = 512;

// What the logger needs about the request that this worker is answering; httplib calls the
// pre-routing handler and the logger on the same worker for one request.
struct RequestNote {
    bool set = false;
    std::chrono::steady_clock::time_point start;
    std::size_t bytes = 0;
    std::string mark;
};
thread_local RequestNote note;

std::string printable(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text.substr(0, kMaxLoggedTarget)) {
        if (c > 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out.empty() ? "-" : out;
}

std::string localTimestamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &tm);
    return text;
}

void fillResponse(const httplib::Request& req, httplib::Response& res, Reply reply) {
    res.status = reply.status;
    res.set_header("Cache-Control", reply.cacheControl);
    if (reply.status == 405) res.set_header("Allow", "GET, HEAD");
    note.bytes = req.method == "HEAD" ? 0 : reply.body.size();
    if (!reply.closeAfter || req.method == "HEAD") {
        res.set_content(std::move(reply.body), reply.contentType);
        return;
    }
    // httplib lets no handler end a kept-alive connection, but it drops the connection when a
    // content provider fails. So the provider writes the whole body and then reports failure.
    res.set_header("Connection", "close");
    auto body = std::make_shared<std::string>(std::move(reply.body));
    res.set_content_provider(body->size(), reply.contentType,
                             [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 sink.write(body->data() + offset, length);
                                 return false;
                             });
}

}  // namespace

int localToday() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return dayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

ForecastServer::ForecastServer(ServiceConfig serviceConfig, LogSink logSink)
    : config(std::move(serviceConfig)),
      log(std::move(logSink)),
      http(std::make_unique<httplib::Server>()),
      data(std::make_shared<Dataset>()) {
    http->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    http->set_keep_alive_max_count(100000);
    http->set_keep_alive_timeout(kIdleSeconds);
    http->set_read_timeout(kIdleSeconds, 0);
    http->set_write_timeout(kIdleSeconds, 0);
    http->set_payload_max_length(4096);
    // httplib sends the header and the body with separate writes; with Nagle's algorithm the
    // body then waits for the peer's delayed acknowledgement, some 40 ms a request.
    http->set_tcp_nodelay(true);
    // httplib's default also sets SO_REUSEPORT, which lets a second service bind the same port
    // and silently take half of the connections; a taken port must fail instead.
    http->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    // Every request is answered here, before httplib's routing, so that one function decides
    // every method and path; nothing is registered with the router.
    http->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        note.set = true;
        note.start = std::chrono::steady_clock::now();
        fillResponse(req, res,
                     answerer ? answerer(config, req.method, req.target, note.mark)
                              : handleRequest(config, *currentData(), req.method, req.target, localToday()));
        return httplib::Server::HandlerResponse::Handled;
    });
    // Requests that httplib itself refuses (a bad request line, a header too long) get a
    // short body like ours.
    http->set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty() || res.has_header("Content-Length")) return httplib::Server::HandlerResponse::Unhandled;
        const char* reason = res.status == 400 ? " Bad Request" : res.status == 414 ? " URI Too Long" : "";
        res.set_content(std::to_string(res.status) + reason + "\n", "text/plain; charset=us-ascii");
        res.set_header("Cache-Control", "no-store");
        return httplib::Server::HandlerResponse::Handled;
    }));
    http->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        std::ostringstream line;
        line << localTimestamp() << ' ' << (req.method.empty() ? "-" : req.method) << ' ' << printable(req.target)
             << ' ' << res.status << ' ';
        if (note.set) {
            auto micros =
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - note.start);
            line << note.bytes << ' ' << micros.count() / 1000 << '.' << micros.count() / 100 % 10 << "ms";
            if (!note.mark.empty()) line << ' ' << note.mark;
        } else {
            line << (req.method == "HEAD" ? 0 : res.body.size()) << " -";
        }
        note = RequestNote{};
        log(line.str());
    });
}

ForecastServer::~ForecastServer() = default;

bool ForecastServer::bind(const std::string& address, int port, std::string& error) {
    errno = 0;
    if (port == 0) {
        boundPort = http->bind_to_any_port(address);
        if (boundPort > 0) return true;
    } else if (http->bind_to_port(address, port)) {
        boundPort = port;
        return true;
    }
    error = "cannot listen on " + address + ":" + std::to_string(port);
    if (errno != 0) error += std::string(": ") + std::strerror(errno);
    if (port > 0 && port < 1024) error += " (ports below 1024 need root)";
    return false;
}

void ForecastServer::run() { http->listen_after_bind(); }

void ForecastServer::stop() { http->stop(); }

bool ForecastServer::isRunning() const { return http->is_running(); }

void ForecastServer::setData(std::shared_ptr<const Dataset> fresh) {
    std::lock_guard<std::mutex> lock(dataMutex);
    data = std::move(fresh);
}

std::shared_ptr<const Dataset> ForecastServer::currentData() const {
    std::lock_guard<std::mutex> lock(dataMutex);
    return data;
}

bool DataKeeper::FileStamp::operator==(const FileStamp& o) const {
    return exists == o.exists && modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           size == o.size && inode == o.inode;
}

DataKeeper::DataKeeper(std::string dataPath, ForecastServer& target, LogSink logSink)
    : path(std::move(dataPath)), server(target), log(std::move(logSink)) {}

DataKeeper::~DataKeeper() { stop(); }

DataKeeper::FileStamp DataKeeper::stamp() const {
    FileStamp s;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.modified = st.st_mtim;
    s.size = static_cast<long long>(st.st_size);
    s.inode = static_cast<unsigned long long>(st.st_ino);
    return s;
}

bool DataKeeper::readFile(Dataset& out, std::string& error) const {
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = std::string("cannot open: ") + std::strerror(errno), false;
    std::string text;
    char piece[1 << 16];
    while (in.read(piece, sizeof piece) || in.gcount() > 0) {
        text.append(piece, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxDataFileBytes) return error = "larger than 16 MiB", false;
    }
    return parseDataset(text, out, error);
}

bool DataKeeper::load(std::string& error) {
    if (path.empty()) {
        demoDay = localToday();
        server.setData(std::make_shared<Dataset>(makeDemoDataset(demoDay - 1, 5)));
        return true;
    }
    loaded = stamp();
    auto fresh = std::make_shared<Dataset>();
    std::string why;
    if (!loaded.exists || !readFile(*fresh, why)) {
        error = path + ": " + (loaded.exists ? why : "missing");
        return false;
    }
    server.setData(fresh);
    log("data: loaded " + std::to_string(fresh->cities.size()) + " cities from " + path);
    return true;
}

void DataKeeper::poll() {
    if (path.empty()) {
        int today = localToday();
        if (today == demoDay) return;
        demoDay = today;
        server.setData(std::make_shared<Dataset>(makeDemoDataset(today - 1, 5)));
        log("data: demo data generated for the new day");
        return;
    }
    FileStamp now = stamp();
    if (now == loaded) return;
    // Remembered whatever the outcome, so that a broken file is reported once, not every poll.
    loaded = now;
    auto fresh = std::make_shared<Dataset>();
    std::string why;
    if (!now.exists) {
        why = "missing";
    } else if (readFile(*fresh, why)) {
        server.setData(fresh);
        log("data: reloaded " + std::to_string(fresh->cities.size()) + " cities from " + path);
        return;
    }
    log("data: " + path + ": " + why + "; keeping the last good data");
}

void DataKeeper::start(int intervalMs) {
    thread = std::thread([this, intervalMs] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!wake.wait_for(lock, std::chrono::milliseconds(intervalMs), [this] { return stopping; })) {
            lock.unlock();
            poll();
            lock.lock();
        }
    });
}

void DataKeeper::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
}

}  // namespace forecast
