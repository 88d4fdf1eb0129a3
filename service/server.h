#pragma once
// The HTTP edge of the forecast service: cpp-httplib's threaded server in front of
// handleRequest, the access log, and the keeper that loads the data and keeps it fresh.

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/forecast_data.h"
#include "service/service.h"

namespace httplib {
class Server;
}

namespace forecast {

// Receives one line of output (no newline): the access log and the data keeper's notes.
using LogSink = std::function<void(const std::string& line)>;

// The server's local date as a day number.
int localToday();

class ForecastServer {
public:
    ForecastServer(ServiceConfig config, LogSink log);
    ~ForecastServer();
    ForecastServer(const ForecastServer&) = delete;
    ForecastServer& operator=(const ForecastServer&) = delete;

    // Port 0 takes an ephemeral port. False with a reason when the address cannot be bound.
    bool bind(const std::string& address, int port, std::string& error);
    int port() const { return boundPort; }
    // Serves until stop; call after bind. Safe to call stop from any thread, also before run.
    void run();
    void stop();
    bool isRunning() const;

    void setData(std::shared_ptr<const Dataset> data);
    // When set, answers every request in place of the data (the live source); a `mark` it
    // gives is added to the request's access-log line. Set it before run.
    using Answerer = std::function<Reply(const ServiceConfig& config, std::string_view method, std::string_view target,
                                         std::string& mark)>;
    void setAnswerer(Answerer a) { answerer = std::move(a); }
    // The icon host is settled once the port is known; set it before run.
    void setIconHost(std::string host) { config.iconHost = std::move(host); }

private:
    std::shared_ptr<const Dataset> currentData() const;

    ServiceConfig config;
    LogSink log;
    Answerer answerer;
    std::unique_ptr<httplib::Server> http;
    mutable std::mutex dataMutex;
    std::shared_ptr<const Dataset> data;
    int boundPort = 0;
};

// Loads the data file (or generates demo data) and keeps the server's data fresh from a
// thread of its own: a changed file is reloaded, and demo data follows the date. A file that
// is missing or malformed while running leaves the last good data in place, and says why once.
class DataKeeper {
public:
    // `path` empty means demo data.
    DataKeeper(std::string path, ForecastServer& server, LogSink log);
    ~DataKeeper();
    DataKeeper(const DataKeeper&) = delete;
    DataKeeper& operator=(const DataKeeper&) = delete;

    // The first load; false with the reason when the file cannot be used.
    bool load(std::string& error);
    // Polls every `interval` milliseconds until stop.
    void start(int intervalMs);
    void stop();
    // One poll: reload when the file changed, regenerate demo data when the date changed.
    void poll();

private:
    struct FileStamp {
        bool exists = false;
        std::timespec modified{};
        long long size = -1;
        unsigned long long inode = 0;
        bool operator==(const FileStamp& o) const;
    };
    FileStamp stamp() const;
    bool readFile(Dataset& out, std::string& error) const;

    std::string path;
    ForecastServer& server;
    LogSink log;
    FileStamp loaded;
    int demoDay = 0;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
};

}  // namespace forecast
