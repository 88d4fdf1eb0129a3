#include "service/data_keeper.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "service/demo.h"

namespace forecast {
namespace {

constexpr std::size_t kMaxDataFileBytes = 16 << 20;

}  // namespace

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
