// pellumo-forecast: the search endpoint and icon server that Pellumo reads its forecast from.
// Run with --help for the options; the README describes the data file.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service/data_keeper.h"
#include "service/demo.h"
#include "service/gbk.h"
#include "service/live_source.h"
#include "service/page.h"
#include "service/query.h"
#include "service/server.h"

namespace {

constexpr int kDefaultPort = 8642;

const char kUsage[] =
    "usage: pellumo-forecast (--demo | --data FILE | --source live) [options]\n"
    "  --demo               serve generated demo forecasts for a few dozen cities\n"
    "  --data FILE          serve the forecasts of FILE (JSON, see the README); reloaded when it changes\n"
    "  --source live        serve real forecasts from Open-Meteo, asked for as cities are searched\n"
    "  --listen ADDRESS     address to listen on (default 127.0.0.1)\n"
    "  --port N             port to listen on (default 8642; 0 takes a free port; below 1024 needs root)\n"
    "  --icon-host HOST     host[:port] written into the icon URLs of the pages, exactly as the\n"
    "                       program's PELLUMO_ICON_HOST (default: the listening address and port)\n"
    "  --default-city NAME  city served when a query names none (default 北京)\n"
    "live source:\n"
    "  --geocoder URL       geocoder base address (default https://geocoding-api.open-meteo.com)\n"
    "  --forecast-api URL   forecast base address (default https://api.open-meteo.com)\n"
    "  --places FILE        file that keeps the places found (default pellumo-places.json)\n"
    "  --refresh SECONDS    a city's forecast is asked for at most once in this (default 1800)\n"
    "  --budget N           upstream calls a day at most (default 2000)\n"
    "  --upstream-timeout SECONDS  time limit of each upstream call (default 10)\n"
    "limits on clients (defaults in brackets):\n"
    "  --idle-timeout S     close a kept-alive connection idle this many seconds [5]\n"
    "  --request-timeout S  close a connection whose request (head and body) is not complete this\n"
    "                       many seconds after the connection was accepted or answered [10]\n"
    "  --max-connections N  connections at once, at most the open-file limit allows [8192]\n"
    "  --max-per-address N  connections at once from one client address [4096]\n"
    "  --backlog N          connections waiting to be accepted [1024]\n"
    "  --threads N          threads serving the connections [2]\n"
    "  --max-head-bytes N   memory for one request head and its answer's head [32768]\n"
    "  --max-header-fields N  header fields in one request [64]\n"
    "  --max-body-bytes N   a longer request body is refused; a shorter one is read and dropped [4096]\n";

struct LimitOption {
    const char* name;
    int forecast::EdgeLimits::*field;
    int low, high;
};
constexpr LimitOption kLimitOptions[] = {
    {"--idle-timeout", &forecast::EdgeLimits::idleSeconds, 1, 3600},
    {"--request-timeout", &forecast::EdgeLimits::requestSeconds, 1, 3600},
    {"--max-connections", &forecast::EdgeLimits::maxConnections, 1, 1000000},
    {"--max-per-address", &forecast::EdgeLimits::maxPerAddress, 1, 1000000},
    {"--backlog", &forecast::EdgeLimits::backlog, 1, 65535},
    {"--threads", &forecast::EdgeLimits::threads, 1, 64},
    {"--max-head-bytes", &forecast::EdgeLimits::headBytes, 4096, 1 << 20},
    {"--max-header-fields", &forecast::EdgeLimits::maxHeaderFields, 1, 1000},
    {"--max-body-bytes", &forecast::EdgeLimits::maxBodyBytes, 0, 1 << 20},
};

struct Options {
    std::string address = "127.0.0.1";
    int port = kDefaultPort;
    std::string iconHost;
    std::string dataFile;
    bool demo = false;
    bool live = false;
    forecast::LiveOptions liveOptions;
    std::string defaultCity = "\xE5\x8C\x97\xE4\xBA\xAC";  // 北京, UTF-8 like the command line
    forecast::EdgeLimits limits;
};

bool validIconHost(const std::string& host) {
    if (host.empty() || host.size() > forecast::kMaxIconHost) return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                  c == ':';
        if (!ok) return false;
    }
    return true;
}

bool parseNumber(const char* text, int low, int high, int& number) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    number = static_cast<int>(value);
    return true;
}

// An upstream base: http or https, a host, an optional port and path, no query.
bool validBase(std::string& base) {
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (base.size() > 200 || base.find_first_of("?# \t\r\n") != std::string::npos) return false;
    std::size_t host = base.rfind("https://", 0) == 0 ? 8 : base.rfind("http://", 0) == 0 ? 7 : 0;
    return host != 0 && base.size() > host;
}

// 0 when `arg` is no limit's option, 1 when it took its value, -1 after saying why not.
int parseLimit(const std::string& arg, const char* value, forecast::EdgeLimits& limits) {
    for (const LimitOption& option : kLimitOptions) {
        if (arg != option.name) continue;
        if (value && parseNumber(value, option.low, option.high, limits.*option.field)) return 1;
        std::fprintf(stderr, "pellumo-forecast: %s wants %d..%d\n", option.name, option.low, option.high);
        return -1;
    }
    return 0;
}

// False after printing the reason (exit 2); `help` is set for --help (exit 0).
bool parseOptions(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        int limit = parseLimit(arg, i + 1 < argc ? argv[i + 1] : nullptr, options.limits);
        if (limit < 0) return false;
        if (limit > 0) {
            ++i;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        } else if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--data" && value(options.dataFile)) {
        } else if (arg == "--listen" && value(options.address)) {
        } else if (arg == "--icon-host" && value(options.iconHost)) {
            if (!validIconHost(options.iconHost)) {
                std::fprintf(stderr, "pellumo-forecast: --icon-host wants host[:port], at most %zu characters\n",
                             forecast::kMaxIconHost);
                return false;
            }
        } else if (arg == "--default-city" && value(options.defaultCity)) {
        } else if (arg == "--source" && value(text)) {
            if (text != "live") {
                std::fprintf(stderr, "pellumo-forecast: --source wants live\n");
                return false;
            }
            options.live = true;
        } else if ((arg == "--geocoder" && value(options.liveOptions.geocoderBase)) ||
                   (arg == "--forecast-api" && value(options.liveOptions.forecastBase))) {
            std::string& base =
                arg == "--geocoder" ? options.liveOptions.geocoderBase : options.liveOptions.forecastBase;
            if (!validBase(base)) {
                std::fprintf(stderr, "pellumo-forecast: %s wants http:// or https:// with a host, no query\n",
                             arg.c_str());
                return false;
            }
        } else if (arg == "--places" && value(options.liveOptions.placesFile)) {
        } else if ((arg == "--refresh" || arg == "--budget" || arg == "--upstream-timeout") && value(text)) {
            int number = 0;
            const int high = arg == "--refresh" ? 86400 : arg == "--budget" ? 1000000 : 120;
            if (!parseNumber(text.c_str(), 1, high, number)) {
                std::fprintf(stderr, "pellumo-forecast: %s wants 1..%d\n", arg.c_str(), high);
                return false;
            }
            if (arg == "--refresh") options.liveOptions.policy.refreshSeconds = number;
            if (arg == "--budget") options.liveOptions.dailyBudget = number;
            if (arg == "--upstream-timeout") options.liveOptions.timeoutMs = number * 1000L;
        } else if (arg == "--port" && value(text)) {
            if (!parseNumber(text.c_str(), 0, 65535, options.port)) {
                std::fprintf(stderr, "pellumo-forecast: --port wants 0..65535\n");
                return false;
            }
        } else {
            std::fprintf(stderr, "pellumo-forecast: unknown or incomplete option %s\n%s", arg.c_str(), kUsage);
            return false;
        }
    }
    if (options.demo + !options.dataFile.empty() + options.live != 1) {
        std::fprintf(stderr, "pellumo-forecast: give one of --demo, --data FILE and --source live\n%s", kUsage);
        return false;
    }
    return true;
}

// One write per line, straight to the descriptor: the serving threads log every request, and
// stdio's stream lock would have them wait for each other's writes.
void printLine(const std::string& line) {
    std::string out = line + "\n";
    for (std::size_t done = 0; done < out.size();) {
        ssize_t wrote = ::write(STDOUT_FILENO, out.data() + done, out.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;  // a closed or full log loses the line, not the service
        done += static_cast<std::size_t>(wrote);
    }
}

bool settleDefaultCity(const Options& options, forecast::ServiceConfig& config) {
    if (forecast::utf8ToGbk(options.defaultCity, config.defaultCity) &&
        config.defaultCity.size() <= forecast::kMaxCityBytes && forecast::isWellFormedGbk(config.defaultCity)) {
        return true;
    }
    std::fprintf(stderr, "pellumo-forecast: --default-city wants at most 15 GBK bytes (7 Chinese characters)\n");
    return false;
}

// Blocked in every thread, the library's included, and taken by main alone; a peer that
// resets a connection must not kill the process either.
sigset_t blockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return stopSignals;
}

// The exit status when the service cannot run, 0 once it serves.
int startServer(const Options& options, forecast::ForecastServer& server) {
    std::string error;
    if (!server.bind(options.address, options.port, error)) {
        std::fprintf(stderr, "pellumo-forecast: %s\n", error.c_str());
        return 1;
    }
    std::string iconHost = options.iconHost;
    if (iconHost.empty()) {
        bool anyAddress = options.address == "0.0.0.0" || options.address == "::";
        iconHost = anyAddress ? "localhost" : options.address;
        if (server.port() != 80) iconHost += ":" + std::to_string(server.port());
        if (!validIconHost(iconHost)) {
            std::fprintf(stderr, "pellumo-forecast: give --icon-host; '%s' does not fit\n", iconHost.c_str());
            return 2;
        }
    }
    server.setIconHost(iconHost);
    if (!server.start(error)) {
        std::fprintf(stderr, "pellumo-forecast: %s\n", error.c_str());
        return 1;
    }
    printLine("pellumo-forecast: listening on http://" + options.address + ":" + std::to_string(server.port()) +
              " (icon host " + iconHost + ")");
    return 0;
}

// The live source, started and answering in place of the data; its first line names the upstream.
void startLive(Options& options, forecast::LiveSource& live, forecast::ForecastServer& server) {
    const std::string known = live.start();
    printLine("pellumo-forecast: LIVE DATA from Open-Meteo (CC BY 4.0): geocoder " + options.liveOptions.geocoderBase +
              ", forecast " + options.liveOptions.forecastBase + "; " + known);
    server.setAnswerer([&live](const forecast::ServiceConfig& c, std::string_view method, std::string_view target,
                               std::string& mark, forecast::ForecastServer::Later later) {
        return live.answer(c, method, target, mark, std::move(later));
    });
}

bool loadData(forecast::DataKeeper& keeper) {
    std::string error;
    if (keeper.load(error)) return true;
    std::fprintf(stderr, "pellumo-forecast: %s\n", error.c_str());
    return false;
}

// Serving is the library's threads' and the keeper's; main only waits to be told to stop.
void waitForStopSignal(const sigset_t& stopSignals) {
    int got = 0;
    while (sigwait(&stopSignals, &got) != 0) continue;
    printLine(std::string("pellumo-forecast: ") + strsignal(got) + ", stopping");
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!parseOptions(argc, argv, options, help)) return 2;
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    forecast::ServiceConfig config;
    if (!settleDefaultCity(options, config)) return 2;
    if (options.demo) {
        printLine("pellumo-forecast: DEMO DATA: generated forecasts for " + std::to_string(forecast::kDemoCityCount) +
                  " cities, not real weather");
    }
    sigset_t stopSignals = blockStopSignals();

    forecast::ForecastServer server(config, options.limits, printLine);
    forecast::DataKeeper keeper(options.demo ? "" : options.dataFile, server, printLine);
    // A failed city is retried after a minute, or sooner when the period is shorter.
    options.liveOptions.policy.retrySeconds = std::min<long long>(60, options.liveOptions.policy.refreshSeconds);
    forecast::LiveSource live(options.liveOptions, printLine);
    if (options.live) {
        startLive(options, live, server);
    } else if (!loadData(keeper)) {
        return 1;
    }
    if (int status = startServer(options, server)) return status;
    if (!options.live) keeper.start(1000);
    waitForStopSignal(stopSignals);
    live.stop();  // first: it answers every waiting request, so that no connection stays suspended
    server.stop();
    keeper.stop();
    printLine("pellumo-forecast: stopped");
    return 0;
}
