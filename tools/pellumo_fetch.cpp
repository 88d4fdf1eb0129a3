// pellumo-fetch: the program's HTTP fetcher from a console, for running or debugging the
// forecast service and the icon server.
//   pellumo-fetch [--marker TEXT] [--limit N] URL   takes the body (from TEXT on, at most
//                                                   N - 1 bytes, N 1001..16777216, default
//                                                   5000) and writes it to stdout as is
//   pellumo-fetch --save PREFIX URL                 saves the body to PREFIX followed by the
//                                                   URL's file name and prints that path
// Exit codes: 0 done, 1 the download failed (the reason on stderr), 2 bad arguments.

#include "tools/number_argument.h"
#include "net/http_fetcher.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kDefaultLimit = 5000;  // what the forecast query gives the page
constexpr unsigned long kMaxLimit = 16UL * 1024 * 1024;

constexpr char kUsage[] =
    "usage: pellumo-fetch [--marker TEXT] [--limit N] URL\n"
    "       pellumo-fetch --save PREFIX URL\n";

struct Options {
    const char* url = nullptr;
    const char* marker = nullptr;
    const char* prefix = nullptr;
    int limit = kDefaultLimit;
    bool limitGiven = false;
};

bool parseLimit(const char* text, int& value) {
    unsigned long total = 0;
    if (!parseDigits(text, 8, total) || total <= HttpFetcher::kChunkSize || total > kMaxLimit) return false;
    value = static_cast<int>(total);
    return true;
}

bool usageError(const char* why) {
    std::fprintf(stderr, "pellumo-fetch: %s\n%s", why, kUsage);
    return false;
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        const bool takesValue =
            !std::strcmp(argument, "--marker") || !std::strcmp(argument, "--limit") || !std::strcmp(argument, "--save");
        if (takesValue && i + 1 >= argc) return usageError("an option lacks its value");
        if (!std::strcmp(argument, "--marker")) {
            options.marker = argv[++i];
        } else if (!std::strcmp(argument, "--limit")) {
            if (!parseLimit(argv[++i], options.limit))
                return usageError("N must be a whole number from 1001 to 16777216");
            options.limitGiven = true;
        } else if (!std::strcmp(argument, "--save")) {
            options.prefix = argv[++i];
        } else if (argument[0] == '-' && argument[1] == '-') {
            return usageError("unknown option");
        } else if (options.url) {
            return usageError("only one URL is taken");
        } else {
            options.url = argument;
        }
    }
    if (!options.url) return usageError("no URL given");
    if (options.prefix && (options.marker || options.limitGiven)) {
        return usageError("--save does not go with --marker or --limit");
    }
    return true;
}

void reportFailure(const HttpFetcher& fetcher) {
    if (fetcher.failure() == HttpFetcher::Failure::status) {
        HttpResponseHead head;
        head.parse(fetcher.headerText());
        if (head.location()[0] != '\0') {
            std::fprintf(stderr, "pellumo-fetch: the server answered with status %d (location %s)\n", head.status(),
                         head.location());
        } else {
            std::fprintf(stderr, "pellumo-fetch: the server answered with status %d\n", head.status());
        }
        return;
    }
    std::fprintf(stderr, "pellumo-fetch: %s\n", HttpFetcher::describe(fetcher.failure()));
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) return 2;

    HttpFetcher fetcher;
    if (options.prefix) {
        const bool ok = fetcher.download(options.url, options.prefix, nullptr, 0);
        fetcher.close();
        if (!ok) {
            reportFailure(fetcher);
            return 1;
        }
        std::printf("%s\n", fetcher.savedPath());
        return 0;
    }

    std::vector<char> page(static_cast<size_t>(options.limit), '\0');
    const bool ok = fetcher.download(options.url, options.marker, page.data(), options.limit);
    fetcher.close();
    if (!ok) {
        reportFailure(fetcher);
        return 1;
    }
    // The page's bytes go out untouched: no CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
    std::fwrite(page.data(), 1, std::strlen(page.data()), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
