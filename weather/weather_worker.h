#pragma once
// The one thread that runs the network part of weather refreshes, so that the window's
// thread never waits on the network. Each request carries its own copy of what the query
// needs; the finished result waits in a slot and a posted message tells the window, whose
// thread takes it and commits it to the panel at once. One refresh runs at a time; a
// request made meanwhile waits for it to end, and a newer request replaces one still
// waiting. Besides its copy the thread reads only the icon host of weatherHosts, which is
// set once at start, before any refresh.

#include <windows.h>

#include "common/unique.h"
#include "weather/weather_panel.h"

#include <atomic>

class WeatherWorker {
public:
    WeatherWorker() = default;
    WeatherWorker(const WeatherWorker&) = delete;
    WeatherWorker& operator=(const WeatherWorker&) = delete;
    // Leaves a thread that did not stop in time to the end of the process, with the handles
    // it waits on: closed under it, its bounded wait would fail at once and spin.
    ~WeatherWorker() {
        if (!thread) return;
        thread.release();
        wake.release();
    }

    // Starts the thread; each finished refresh is announced to `window` by posting
    // `message`, for finish(). False when the thread could not be started: refreshes then run
    // on the caller's thread. Window's thread only, as are request and finish.
    bool start(HWND window, UINT message);
    // Hands the query for `panel`'s city to the thread; false, taking nothing, when the
    // thread does not run.
    bool request(const WeatherPanel& panel);

    // Drops the requests made so far: one waiting goes, one in flight ends unseen.
    void forget();
    // Whether the newest request's result has yet to be finished.
    bool busy() const { return finishedSerial != latestSerial; }

    // partly: the forecast's texts came, not all its icons.
    enum class Outcome { superseded, failed, partly, succeeded };
    // Takes the finished result, if any: commits it to `panel` when it answers the newest
    // request, and says how that went; an older request's result is dropped. The message
    // carries no pointer, so a stray or forged one finds nothing and is superseded.
    Outcome finish(WeatherPanel& panel);

    // Tells a refresh in flight to stop (its downloads end within a few tens of ms, leaving
    // no partial file) and waits at most `ms` for the thread to end. Requests are refused
    // from then on (refreshes run on the caller's thread) until start is called again.
    void stop(DWORD ms);

    struct Job;

private:
    static DWORD WINAPI run(void* self);
    void loop();

    UniqueKernelHandle thread;
    UniqueKernelHandle wake;  // auto-reset: a request, or the stop, is waiting
    HWND window_ = nullptr;
    UINT message_ = 0;
    unsigned latestSerial = 0;            // of the newest request; window's thread only
    unsigned finishedSerial = 0;          // of the newest result finished
    std::atomic<Job*> pending{nullptr};   // the newest request, waiting for the thread
    std::atomic<Job*> finished{nullptr};  // the newest result, waiting for finish
    std::atomic<bool> stopping{false};
};

extern WeatherWorker weatherWorker;
