#include "service/live_source.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "service/gbk.h"
#include "service/live_upstream.h"
#include "service/query.h"
#include "service/server.h"

namespace forecast {
namespace {

// Past this many names new ones get no forecast until old ones are forgotten, so a client
// that makes up names cannot grow the service without end; the budget bounds them anyway.
constexpr std::size_t kMaxCities = 20000;
constexpr std::size_t kMaxQueued = 256;
// Requests waiting for a first forecast at once; past this they get the page without one.
constexpr std::size_t kMaxWaiters = 10000;
constexpr std::size_t kMaxPlacesFileBytes = 4 << 20;

long long wallClock() { return static_cast<long long>(std::time(nullptr)); }

std::string forLog(const std::string& gbk) {
    std::string utf8;
    return gbkToUtf8(gbk, utf8) ? utf8 : "?";
}

// What a city name must be for the geocoder to be asked: it goes into the page as it is, so
// it keeps the data file's rules; and the geocoder answers nothing to a single character.
bool askable(const std::string& city) {
    if (city.size() < 2 || city.size() > kMaxCityBytes || !isWellFormedGbk(city)) return false;
    return city.find_first_of("<>&\" ") == std::string::npos;
}

// No city has a forecast here, so no page from it names a source.
const Dataset& noForecast() {
    static const Dataset none;
    return none;
}

// The page of a weather search without a forecast. Not to be kept by a cache in front: the
// program asks again soon, and by then the forecast may have come.
Reply unforecast(const ServiceConfig& config, std::string_view method, std::string_view target) {
    Reply reply = handleRequest(config, noForecast(), method, target, localToday());
    reply.cacheControl = "no-store";
    return reply;
}

}  // namespace

LiveSource::LiveSource(LiveOptions liveOptions, Log logSink)
    : options(std::move(liveOptions)), log(std::move(logSink)), budget(options.dailyBudget) {}

LiveSource::~LiveSource() { stop(); }

std::string LiveSource::start() {
    std::string noteText = "no places file yet at " + options.placesFile;
    std::ifstream in(options.placesFile, std::ios::binary);
    if (in) {
        std::string text(kMaxPlacesFileBytes + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<std::size_t>(in.gcount()));
        KnownPlaces known;
        std::string why;
        if (text.size() > kMaxPlacesFileBytes) {
            noteText = options.placesFile + " is larger than 4 MiB; not read";
        } else if (!readPlaces(text, known, why)) {
            noteText = options.placesFile + ": " + why + "; starting without known places";
        } else {
            const long long now = wallClock();
            for (const auto& [name, place] : known.places) {
                CityCache& c = cities[name].cache;
                c.placeState = CityCache::PlaceState::Known;
                c.place = place;
            }
            for (const auto& [name, until] : known.unknownUntil) {
                if (until <= now || cities.count(name)) continue;
                CityCache& c = cities[name].cache;
                c.placeState = CityCache::PlaceState::Unknown;
                c.unknownUntil = until;
            }
            noteText = std::to_string(known.places.size()) + " places known from " + options.placesFile;
        }
    }
    initUpstreamClient();
    for (int i = 0; i < options.workers; ++i) threads.emplace_back([this] { work(); });
    reaper = std::thread([this] { expire(); });
    return noteText;
}

void LiveSource::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    jobsReady.notify_all();
    waitersChanged.notify_all();
    for (std::thread& t : threads) {
        if (t.joinable()) t.join();
    }
    threads.clear();
    if (reaper.joinable()) reaper.join();
}

std::optional<Reply> LiveSource::answer(const ServiceConfig& config, std::string_view method, std::string_view target,
                                        std::string& mark, Later later) {
    mark.clear();
    const std::size_t question = target.find('?');
    const bool search = (method == "GET" || method == "HEAD") && target.size() <= kMaxTarget &&
                        question != std::string_view::npos && target.substr(0, question) == "/s";
    SearchQuery q = search ? parseSearchQuery(target.substr(question + 1)) : SearchQuery{};
    if (q.kind != QueryKind::Weather) return handleRequest(config, noForecast(), method, target, localToday());
    const std::string& city = q.city.empty() ? config.defaultCity : q.city;
    mark = "none";
    if (!askable(city)) return unforecast(config, method, target);

    std::unique_lock<std::mutex> lock(mutex);
    auto it = cities.find(city);
    if (it == cities.end()) {
        if (cities.size() >= kMaxCities) return unforecast(config, method, target);
        it = cities.emplace(city, Entry{}).first;
    }
    Entry& entry = it->second;  // nodes stay put; entries are never erased while running
    CacheDecision d = decide(entry.cache, wallClock(), options.policy);
    if (d.fetch && !entry.inflight && jobs.size() < kMaxQueued && !stopping) {
        entry.inflight = true;
        jobs.push_back(city);
        jobsReady.notify_one();
    }
    if (d.serve) {
        std::shared_ptr<const Dataset> data = entry.data;
        lock.unlock();
        mark = "cache";
        return handleSearch(config, *data, q, d.today);
    }
    if (!entry.inflight || waiters.size() >= kMaxWaiters || stopping) {
        lock.unlock();
        return unforecast(config, method, target);
    }
    waiters.push_back(Waiter{city, std::chrono::steady_clock::now() + std::chrono::milliseconds(options.pageWaitMs),
                             config, std::string(method), std::string(target), std::move(later)});
    if (waiters.size() == 1) waitersChanged.notify_all();
    return std::nullopt;
}

// The waiters for `city`, once its fetch has ended, well or not.
void LiveSource::complete(const std::string& city) {
    std::list<Waiter> ready;
    std::shared_ptr<const Dataset> data;
    CacheDecision d;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = waiters.begin(); it != waiters.end();) {
            auto next = std::next(it);
            if (it->city == city) ready.splice(ready.end(), waiters, it);
            it = next;
        }
        const Entry& entry = cities[city];
        d = decide(entry.cache, wallClock(), options.policy);
        data = entry.data;
    }
    for (Waiter& w : ready) {
        if (d.serve) {
            w.later(handleRequest(w.config, *data, w.method, w.target, d.today), "fresh");
        } else {
            w.later(unforecast(w.config, w.method, w.target), "none");
        }
    }
}

// Ends each wait at its deadline with the page without a forecast; on stop, every wait.
void LiveSource::expire() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!(stopping && waiters.empty())) {
        if (waiters.empty()) {
            waitersChanged.wait(lock, [this] { return stopping || !waiters.empty(); });
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!stopping && now < waiters.front().deadline) {
            waitersChanged.wait_until(lock, waiters.front().deadline);
            continue;
        }
        std::list<Waiter> expired;
        while (!waiters.empty() && (stopping || waiters.front().deadline <= now)) {
            expired.splice(expired.end(), waiters, waiters.begin());
        }
        lock.unlock();
        for (Waiter& w : expired) {
            w.later(unforecast(w.config, w.method, w.target), "none");
        }
        lock.lock();
    }
}

void LiveSource::work() {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        jobsReady.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (stopping) return;
        std::string city = std::move(jobs.front());
        jobs.pop_front();
        lock.unlock();
        refresh(city);
        lock.lock();
    }
}

bool LiveSource::takeBudget() {
    bool reached = false;
    bool ok;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ok = budget.take(wallClock(), reached);
    }
    if (reached) {
        log("upstream: the daily budget of " + std::to_string(options.dailyBudget) +
            " calls is spent; no more upstream calls until 00:00 UTC");
    }
    return ok;
}

// One city's refresh, on a worker: the geocoder when its place is not known yet, then the
// forecast. Runs without the lock but for reading and storing the entry.
void LiveSource::refresh(const std::string& city) {
    const long long started = wallClock();
    CityCache c;
    {
        std::lock_guard<std::mutex> lock(mutex);
        c = cities[city].cache;
    }
    std::string problem;
    bool placeChanged = false;
    if (c.placeState != CityCache::PlaceState::Known) {
        std::string name;
        std::string stem = nameWithoutSuffix(city);
        GeocodeAnswer g;
        g.status = GeocodeStatus::NotFound;  // also for a name without a UTF-8 spelling
        for (const std::string& asked : {city, stem}) {
            if (asked.empty() || !gbkToUtf8(asked, name)) break;
            if (!takeBudget()) {
                problem = "budget";
                break;
            }
            HttpAnswer http = fetch(geocodeUrl(options.geocoderBase, name), options.timeoutMs);
            if (!http.error.empty()) {
                problem = "geocoder cannot be reached: " + http.error;
                break;
            }
            g = parseGeocode(http.status, http.body, name);
            if (g.status != GeocodeStatus::NotFound) break;
        }
        if (problem.empty() && g.status == GeocodeStatus::Bad) problem = "geocoder: " + g.why;
        if (problem.empty()) {
            placeChanged = true;
            if (g.status == GeocodeStatus::Found) {
                c.placeState = CityCache::PlaceState::Known;
                c.place = g.place;
            } else {
                c.placeState = CityCache::PlaceState::Unknown;
                c.unknownUntil = started + options.policy.unknownSeconds;
                problem = "the geocoder does not know this name";
            }
        }
    }
    ForecastAnswer f;
    if (problem.empty()) {
        if (!takeBudget()) {
            problem = "budget";
        } else {
            HttpAnswer http = fetch(forecastUrl(options.forecastBase, c.place), options.timeoutMs);
            if (!http.error.empty()) {
                problem = "forecast cannot be reached: " + http.error;
            } else {
                f = parseForecast(http.status, http.body, wallClock());
                if (!f.ok) problem = "forecast: " + f.why;
            }
        }
    }
    bool haveForecast;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Entry& entry = cities[city];
        entry.cache.placeState = c.placeState;
        entry.cache.place = c.place;
        entry.cache.unknownUntil = c.unknownUntil;
        entry.cache.attemptedAt = started;
        entry.cache.lastFailed = !f.ok;
        if (f.ok) {
            entry.cache.hasForecast = true;
            entry.cache.firstDay = f.firstDay;
            entry.cache.utcOffset = f.utcOffset;
            auto data = std::make_shared<Dataset>();
            data->live = true;
            auto& days = data->cities[city];
            for (int i = 0; i < 3; ++i) days[f.firstDay + i] = entry.cache.days[i] = f.days[i];
            entry.data = std::move(data);
            entry.cache.fetchedAt = started;
        }
        entry.inflight = false;
        haveForecast = decide(entry.cache, wallClock(), options.policy).serve;
    }
    complete(city);
    note(city, problem, haveForecast);
    if (placeChanged) savePlaces();
}

// Each problem is logged when it first shows for a city, and its end once; the budget is
// logged once a day by takeBudget.
void LiveSource::note(const std::string& city, const std::string& problem, bool haveForecast) {
    std::string previous;
    {
        std::lock_guard<std::mutex> lock(mutex);
        Entry& entry = cities[city];
        if (entry.problem == problem) return;
        previous = entry.problem;
        entry.problem = problem;
    }
    if (problem == "budget") return;
    if (problem.empty()) {
        if (previous != "budget") log("upstream: " + forLog(city) + ": answered again");
        return;
    }
    const char* outcome = problem.find("does not know") != std::string::npos ? " (remembered for a day)"
                          : haveForecast                                     ? "; serving its last good forecast"
                                                                             : "; no forecast to serve";
    log("upstream: " + forLog(city) + ": " + problem + outcome);
}

// Written beside the file and renamed over it, so a crash never leaves half a file.
void LiveSource::savePlaces() {
    KnownPlaces known;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const auto& [name, entry] : cities) {
            if (entry.cache.placeState == CityCache::PlaceState::Known) known.places[name] = entry.cache.place;
            if (entry.cache.placeState == CityCache::PlaceState::Unknown) {
                known.unknownUntil[name] = entry.cache.unknownUntil;
            }
        }
    }
    const std::string text = writePlaces(known);
    std::lock_guard<std::mutex> lock(fileMutex);
    const std::string temporary = options.placesFile + ".new";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f) ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), options.placesFile.c_str()) != 0) {
        log("places: cannot write " + options.placesFile + ": " + std::strerror(errno));
        ::unlink(temporary.c_str());
    }
}

}  // namespace forecast
