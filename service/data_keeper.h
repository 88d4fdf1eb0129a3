#pragma once
// The data behind the pages: loaded at start and kept fresh while the service runs.

#include <condition_variable>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "service/forecast_data.h"
#include "service/server.h"

namespace forecast {

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
