#pragma once
// The live source: answers the search endpoint with forecasts asked of Open-Meteo (or a
// mirror), city by city, through the cache (live_cache.h). Page requests never call the
// upstream themselves: a few worker threads do, one call per city at a time, within a daily
// budget; a request waits for a city's first forecast a bounded time and otherwise gets the
// page without one.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service/live_cache.h"
#include "service/service.h"

namespace forecast {

struct LiveOptions {
    std::string geocoderBase = "https://geocoding-api.open-meteo.com";
    std::string forecastBase = "https://api.open-meteo.com";
    std::string placesFile = "pellumo-places.json";
    CachePolicy policy;
    int dailyBudget = 2000;  // the provider's free use allows 10,000 calls a day
    long timeoutMs = 10000;  // whole-request limit of each upstream call
    long pageWaitMs = 3000;  // longest a page request waits for a city's first forecast
    int workers = 3;         // upstream calls at once
};

class LiveSource {
public:
    using Log = std::function<void(const std::string& line)>;
    LiveSource(LiveOptions options, Log log);
    ~LiveSource();
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    // Reads the places file and starts the workers; returns a note on what was read.
    std::string start();
    void stop();

    // The reply to one request, as handleRequest gives it, with the forecast of the city asked
    // for when it has one. `mark` becomes "cache", "fresh" or "none" for a forecast search and
    // stays empty for anything else. For a city whose first forecast is on its way the reply
    // comes later instead, so that no serving thread waits: nothing is returned, and `later`
    // gets the reply and its mark once, from another thread (perhaps before this returns), when
    // the forecast arrives or at the latest when the page wait ends.
    using Later = std::function<void(Reply reply, std::string mark)>;
    std::optional<Reply> answer(const ServiceConfig& config, std::string_view method, std::string_view target,
                                std::string& mark, Later later);

private:
    struct Entry {
        CityCache cache;
        std::shared_ptr<const Dataset> data;  // the forecast held, ready for handleRequest
        bool inflight = false;
        std::string problem;  // last logged, so that each is logged once per city and change
    };
    struct Waiter {
        std::string city;
        std::chrono::steady_clock::time_point deadline;
        ServiceConfig config;
        std::string method, target;
        Later later;
    };

    void work();
    void expire();
    void complete(const std::string& city);
    void refresh(const std::string& city);
    bool takeBudget();
    void savePlaces();
    void note(const std::string& city, const std::string& problem, bool haveForecast);

    LiveOptions options;
    Log log;
    std::mutex mutex;
    std::condition_variable jobsReady;
    std::condition_variable waitersChanged;
    std::unordered_map<std::string, Entry> cities;  // GBK name
    std::deque<std::string> jobs;
    std::list<Waiter> waiters;  // in the order of their deadlines, since all wait as long
    DailyBudget budget;
    bool stopping = false;
    std::vector<std::thread> threads;
    std::thread reaper;  // ends the waits that reach their deadline
    std::mutex fileMutex;
};

}  // namespace forecast
