// The weather worker: a single-slot hand-over from the window's thread, one thread that
// fetches, and a single-slot hand-back announced by a posted message.

#include "weather/weather_worker.h"

#include "weather/weather_hosts.h"

#include <cstring>
#include <memory>
#include <new>

WeatherWorker weatherWorker;

// One request and, once fetched, its result: a scratch copy of the panel that only the
// worker touches until it is handed back.
struct WeatherWorker::Job {
    unsigned serial = 0;
    char searchHost[kWeatherHostSize] = {};
    WeatherPanel panel;
    WeatherPanel::Fetched fetched = WeatherPanel::Fetched::nothing;
};

bool WeatherWorker::start(HWND window, UINT message) {
    if (thread) return true;
    window_ = window;
    message_ = message;
    stopping = false;
    wake.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!wake) return false;
    thread.reset(CreateThread(nullptr, 0, run, this, 0, nullptr));
    return static_cast<bool>(thread);
}

bool WeatherWorker::request(const WeatherPanel& panel) {
    if (!thread || stopping) return false;
    std::unique_ptr<Job> job(new (std::nothrow) Job);
    if (!job) return false;
    job->serial = ++latestSerial;
    std::memcpy(job->searchHost, weatherHosts.search, sizeof job->searchHost);
    WeatherPanel& copy = job->panel;
    std::memcpy(copy.city, panel.city, sizeof copy.city);
    std::memcpy(copy.pictureFolder, panel.pictureFolder, sizeof copy.pictureFolder);
    // Days not reached by a failing fetch keep what is on show now.
    std::memcpy(copy.days, panel.days, sizeof copy.days);
    std::memcpy(copy.iconUrls, panel.iconUrls, sizeof copy.iconUrls);
    delete pending.exchange(job.release());  // a request still waiting is replaced
    SetEvent(wake.get());
    return true;
}

void WeatherWorker::forget() {
    delete pending.exchange(nullptr);
    finishedSerial = ++latestSerial;
}

WeatherWorker::Outcome WeatherWorker::finish(WeatherPanel& panel) {
    const std::unique_ptr<Job> job(finished.exchange(nullptr));
    if (!job || job->serial != latestSerial) return Outcome::superseded;
    finishedSerial = job->serial;
    panel.commit(job->panel, job->fetched);
    switch (job->fetched) {
        case WeatherPanel::Fetched::nothing:
            return Outcome::failed;
        case WeatherPanel::Fetched::texts:
            return Outcome::partly;
        case WeatherPanel::Fetched::all:
            break;
    }
    return Outcome::succeeded;
}

void WeatherWorker::stop(DWORD ms) {
    if (!thread) return;
    stopping = true;
    SetEvent(wake.get());
    if (WaitForSingleObject(thread.get(), ms) == WAIT_OBJECT_0) {
        thread.reset();
        delete pending.exchange(nullptr);
        delete finished.exchange(nullptr);
    }
    finishedSerial = latestSerial;  // nothing more will come
}

DWORD WINAPI WeatherWorker::run(void* self) {
    static_cast<WeatherWorker*>(self)->loop();
    return 0;
}

void WeatherWorker::loop() {
    while (!stopping) {
        // Bounded, so that even a lost wake-up costs a request no more than this.
        WaitForSingleObject(wake.get(), 1000);
        std::unique_ptr<Job> job(pending.exchange(nullptr));
        if (!job || stopping) continue;
        job->fetched = job->panel.fetchForecast(job->searchHost, &stopping);
        if (stopping) continue;
        // An older result not yet finished is superseded by this one anyway.
        delete finished.exchange(job.release());
        PostMessageA(window_, message_, 0, 0);
    }
}
