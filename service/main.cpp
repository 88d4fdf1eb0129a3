// pellumo-forecast: the search endpoint and icon server that Pellumo reads its forecast from.
// Run with --help for the options; the README describes the data file.

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "service/demo.h"
#include "service/gbk.h"
#include "service/page.h"
#include "service/query.h"
#include "service/server.h"

namespace {

constexpr int kDefaultPort = 8642;

const char kUsage[] =
    "usage: pellumo-forecast (--demo | --data FILE) [options]\n"
    "  --demo               serve generated demo forecasts for a few dozen cities\n"
    "  --data FILE          serve the forecasts of FILE (JSON, see the README); reloaded when it changes\n"
    "  --listen ADDRESS     address to listen on (default 127.0.0.1)\n"
    "  --port N             port to listen on (default 8642; 0 takes a free port; below 1024 needs root)\n"
    "  --icon-host HOST     host[:port] written into the icon URLs of the pages, exactly as the\n"
    "                       program's PELLUMO_ICON_HOST (default: the listening address and port)\n"
    "  --default-city NAME  city served when a query names none (default 北京)\n";

struct Options {
    std::string address = "127.0.0.1";
    int port = kDefaultPort;
    std::string iconHost;
    std::string dataFile;
    bool demo = false;
    std::string defaultCity = "\xE5\x8C\x97\xE4\xBA\xAC";  // 北京, UTF-8 like the command line
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

bool parsePort(const char* text, int& port) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
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
        if (arg == "--help" || arg == "-h") {
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
        } else if (arg == "--port" && value(text)) {
            if (!parsePort(text.c_str(), options.port)) {
                std::fprintf(stderr, "pellumo-forecast: --port wants 0..65535\n");
                return false;
            }
        } else {
            std::fprintf(stderr, "pellumo-forecast: unknown or incomplete option %s\n%s", arg.c_str(), kUsage);
            return false;
        }
    }
    if (options.demo == !options.dataFile.empty()) {
        std::fprintf(stderr, "pellumo-forecast: give either --demo or --data FILE\n%s", kUsage);
        return false;
    }
    return true;
}

void printLine(const std::string& line) {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
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
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    forecast::ServiceConfig config;
    if (!forecast::utf8ToGbk(options.defaultCity, config.defaultCity) ||
        config.defaultCity.size() > forecast::kMaxCityBytes || !forecast::isWellFormedGbk(config.defaultCity)) {
        std::fprintf(stderr, "pellumo-forecast: --default-city wants at most 15 GBK bytes (7 Chinese characters)\n");
        return 2;
    }
    if (options.demo) {
        printLine("pellumo-forecast: DEMO DATA: generated forecasts for " + std::to_string(forecast::kDemoCityCount) +
                  " cities, not real weather");
    }

    // Signals are taken by one thread with sigtimedwait, so no handler runs inside httplib's
    // workers; a peer that resets a connection must not kill the process either.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    forecast::ForecastServer server(config, printLine);
    forecast::DataKeeper keeper(options.demo ? "" : options.dataFile, server, printLine);
    std::string error;
    if (!keeper.load(error)) {
        std::fprintf(stderr, "pellumo-forecast: %s\n", error.c_str());
        return 1;
    }
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
    printLine("pellumo-forecast: listening on http://" + options.address + ":" + std::to_string(server.port()) +
              " (icon host " + iconHost + ")");

    keeper.start(1000);
    std::atomic<bool> finished{false};
    std::thread signals([&] {
        bool stopping = false;
        timespec tick{0, 200 * 1000 * 1000};
        while (!finished) {
            int got = sigtimedwait(&stopSignals, nullptr, &tick);
            if (got > 0 && !stopping) {
                stopping = true;
                printLine(std::string("pellumo-forecast: ") + strsignal(got) + ", stopping");
            }
            // Repeated until run returns: a stop that lands before the listener runs is lost.
            if (stopping) server.stop();
        }
    });
    server.run();
    finished = true;
    signals.join();
    keeper.stop();
    printLine("pellumo-forecast: stopped");
    return 0;
}
