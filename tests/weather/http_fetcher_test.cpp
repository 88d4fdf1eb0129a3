#include "weather/http_fetcher.h"

#include "tests/weather/scripted_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace s = script;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kQuickSilenceMs = 600;
constexpr char kMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Printable filler that never contains the marker.
std::string filler(size_t length, char first = 'a') {
    std::string text(length, ' ');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(first + i % 23);
    return text;
}

// Every byte value, zeros and line ends included, so that a file must match byte for byte.
std::string binary(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return bytes;
}

struct TextResult {
    bool ok;
    std::string text;
};

TextResult fetchText(HttpFetcher& fetcher, const std::string& url, const char* marker, int limit = 5000) {
    std::vector<char> page(static_cast<size_t>(limit), '\0');
    const bool ok = fetcher.download(url.c_str(), marker, page.data(), limit);
    return {ok, page.data()};
}

// A folder of its own under the temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        static int serial = 0;
        path = fs::temp_directory_path() /
               ("pellumo-fetch-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string prefix(const std::string& word) const { return path.string() + "\\" + word; }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
        return names;
    }

private:
    fs::path path;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(HttpFetcher, SendsTheRequestByteForByte) {
    ScriptedServer server({{s::request(), s::send(withLength(kOk, "hello"))}});
    ASSERT_TRUE(server.listening());
    HttpFetcher fetcher;
    const TextResult result = fetchText(fetcher, server.url("/dir/\xCC\xEC.html?q=1&f=8"), nullptr);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text, "hello");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0],
              "GET /dir/%CC%EC.html?q=1&f=8 HTTP/1.1\r\n"
              "Host:127.0.0.1\r\n"
              "Accept:*/*\r\n"
              "User-Agent:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n"
              "Connection:Keep-Alive\r\n"
              "\r\n");
    EXPECT_TRUE(fetcher.close());
    EXPECT_FALSE(fetcher.close());
}

struct StatusRow {
    const char* name;
    std::string response;
    bool ok;
    const char* text;
};

TEST(HttpFetcher, AcceptsOnly200And206) {
    const StatusRow rows[] = {
        {"200", withLength("HTTP/1.1 200 OK\r\n", "two hundred"), true, "two hundred"},
        {"206", withLength("HTTP/1.1 206 Partial Content\r\n", "partial"), true, "partial"},
        {"302", withLength("HTTP/1.1 302 Found\r\nLocation:  http://Elsewhere.Example/ next.html\r\n", "moved"), false,
         ""},
        {"404", withLength("HTTP/1.1 404 Not Found\r\n", "missing"), false, ""},
        {"no status", "Server: none\r\n\r\nbody", false, ""},
        {"upper-case status line", withLength("HTTP/1.0 200 OK\r\n", "old server"), true, "old server"},
        {"content type with stray spaces",
         withLength("HTTP/1.1 200 OK\r\nContent-Type:  text/html; charset=GB2312\r\n", "typed"), true, "typed"},
        {"length that is not a number", "HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\nto the close", true,
         "to the close"},
        {"zero bytes in the body", withLength(kOk, std::string("ab\0cd\0", 6)), true, "abcd"},
    };
    for (const StatusRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server({{s::request(), s::send(row.response), s::close()}});
        HttpFetcher fetcher(kQuickSilenceMs);
        const TextResult result = fetchText(fetcher, server.url("/page.html"), nullptr);
        EXPECT_EQ(result.ok, row.ok);
        EXPECT_EQ(result.text, row.text);
        EXPECT_EQ(fetcher.failure() == HttpFetcher::Failure::status, !row.ok);
    }
}

TEST(HttpFetcher, KeepsTheHeaderOfARefusedResponse) {
    ScriptedServer server(
        {{s::request(), s::send(withLength("HTTP/1.1 302 Found\r\nLocation:  http://Elsewhere.Example/ "
                                           "next.html\r\nContent-Type:  text/html; charset=GB2312\r\n",
                                           ""))}});
    TempFolder folder;
    HttpFetcher fetcher;
    EXPECT_FALSE(fetcher.download(server.url("/x.gif").c_str(), folder.prefix("day").c_str(), nullptr, 0));
    HttpResponseHead head;
    ASSERT_TRUE(head.parse(fetcher.headerText()));
    EXPECT_EQ(head.status(), 302);
    EXPECT_STREQ(head.location(), "http://elsewhere.example/next.html");
    EXPECT_STREQ(head.contentType(), "text/html;charset=gb2312");
    EXPECT_TRUE(folder.files().empty());
}

struct MarkerRow {
    const char* name;
    int offset;   // where the marker starts in the body; -1 for nowhere
    int splitAt;  // where the server pauses between two sends; 0 for one send
};

TEST(HttpFetcher, FindsTheMarkerHoweverTheBodyIsSplit) {
    // With the whole body waiting on the socket, receives take it 1000 bytes at a time.
    const MarkerRow rows[] = {
        {"first byte", 0, 0},
        {"start of the second receive", 1000, 0},
        {"across two receives", 990, 0},
        {"one byte in the first receive", 999, 0},
        {"ending the first receive", 1000 - 53, 0},
        {"across a pause of the server", 480, 500},
        {"nowhere", -1, 0},
    };
    for (const MarkerRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::string body = filler(3000);
        if (row.offset >= 0) body.replace(static_cast<size_t>(row.offset), sizeof kMarker - 1, kMarker);
        const std::string response = withLength(kOk, body);
        ConnectionScript steps = {s::request()};
        if (row.splitAt > 0) {
            const size_t headLength = response.size() - body.size();
            steps.push_back(s::send(response.substr(0, headLength + static_cast<size_t>(row.splitAt))));
            steps.push_back(s::pause(1500));  // past the fetcher's pause, so the first part is read alone
            steps.push_back(s::send(response.substr(headLength + static_cast<size_t>(row.splitAt))));
        } else {
            steps.push_back(s::send(response));
        }
        ScriptedServer server({steps});
        HttpFetcher fetcher;
        const TextResult result = fetchText(fetcher, server.url("/s"), kMarker);
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.text, row.offset >= 0 ? body.substr(static_cast<size_t>(row.offset)) : "");
    }
}

TEST(HttpFetcher, TakesAtMostLimitLessOneBytesAndThenReconnects) {
    const std::string body = filler(300) + kMarker + filler(6000, 'A');
    ScriptedServer server({
        {s::request(), s::send(withLength(kOk, body))},  // kept open with 1000 bytes unread
        {s::request(), s::send(withLength(kOk, "second"))},
    });
    HttpFetcher fetcher;
    const auto start = Clock::now();
    const TextResult first = fetchText(fetcher, server.url("/s"), kMarker);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(first.text.size(), 4999u);
    EXPECT_EQ(first.text, body.substr(300, 4999));

    // The rest of the first body is still on that connection: the next download must not read it.
    const TextResult second = fetchText(fetcher, server.url("/t"), nullptr);
    EXPECT_TRUE(second.ok);
    EXPECT_EQ(second.text, "second");
    EXPECT_EQ(server.connections(), 2);
}

TEST(HttpFetcher, AppendsToWhatTheDestinationAlreadyHolds) {
    ScriptedServer server({{s::request(), s::send(withLength(kOk, filler(2000)))}});
    HttpFetcher fetcher;
    char page[1001] = "abc";
    EXPECT_TRUE(fetcher.download(server.url("/s").c_str(), nullptr, page, sizeof page));
    EXPECT_EQ(std::string(page), "abc" + filler(997));
}

TEST(HttpFetcher, ReturnsPromptlyWhileTheServerKeepsTheConnection) {
    // The server holds the connection for longer than the fetcher's silence bound: a fetcher
    // that waited for the close would fail instead of returning true.
    const std::string body = filler(2500);
    ScriptedServer server({{s::request(), s::send(withLength(kOk, body)), s::hold(8000)}});
    HttpFetcher fetcher(3000);
    const auto start = Clock::now();
    const TextResult result = fetchText(fetcher, server.url("/s"), nullptr);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text, body);
    EXPECT_LT(secondsSince(start), 2.8);
}

TEST(HttpFetcher, SavesAChunkedBodyByteForByte) {
    const std::string body = binary(5000);
    const std::string coded = chunked(body, {1, 999, 1000, 7, 2500});
    ScriptedServer server({{
        s::request(),
        s::send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + coded.substr(0, 1503)),
        s::pause(200),
        s::send(coded.substr(1503)),
        s::request(),
        s::send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked("after", {})),
    }});
    TempFolder folder;
    HttpFetcher fetcher(3000);
    const auto start = Clock::now();
    ASSERT_TRUE(fetcher.download(server.url("/imag/day/rain.gif").c_str(), folder.prefix("day").c_str(), nullptr, 0));
    EXPECT_LT(secondsSince(start), 2.8);
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(readFile(fetcher.savedPath()), body);

    // Read to its last chunk, the connection carries the next request too.
    const TextResult text = fetchText(fetcher, server.url("/s"), nullptr);
    EXPECT_TRUE(text.ok);
    EXPECT_EQ(text.text, "after");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(folder.files(), std::vector<std::string>{"dayrain.gif"});
}

TEST(HttpFetcher, TwoDownloadsShareOneKeptConnection) {
    const std::string day = binary(1500);
    const std::string night = binary(700);
    ScriptedServer server({{
        s::request(),
        s::send(withLength("HTTP/1.1 200 OK\r\n", day)),
        s::request(),
        s::send(withLength("HTTP/1.1 200 OK\r\n", night)),
    }});
    TempFolder folder;
    HttpFetcher fetcher(3000);
    ASSERT_TRUE(fetcher.download(server.url("/day/a.gif").c_str(), folder.prefix("day").c_str(), nullptr, 0));
    EXPECT_EQ(readFile(fetcher.savedPath()), day);
    ASSERT_TRUE(fetcher.download(server.url("/night/a.gif").c_str(), folder.prefix("night").c_str(), nullptr, 0));
    EXPECT_EQ(readFile(fetcher.savedPath()), night);
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_TRUE(fetcher.close());
    EXPECT_FALSE(fetcher.close());
}

struct FreshConnectionRow {
    const char* name;
    ConnectionScript first;
    bool firstOk;
};

TEST(HttpFetcher, ConnectsAfreshWhenTheHeldConnectionCannotServe) {
    const std::string one = binary(300);
    const FreshConnectionRow rows[] = {
        {"body ended by the close", {s::request(), s::send("HTTP/1.1 200 OK\r\n\r\n" + one), s::close()}, true},
        {"response said close",
         {s::request(), s::send(withLength("HTTP/1.1 200 OK\r\nConnection: close\r\n", one))},
         true},
        {"HTTP/1.0 without keep-alive", {s::request(), s::send(withLength("HTTP/1.0 200 OK\r\n", one))}, true},
        {"refused status, body unread", {s::request(), s::send(withLength("HTTP/1.1 404 Not Found\r\n", one))}, false},
        {"stray bytes after the body", {s::request(), s::send(withLength("HTTP/1.1 200 OK\r\n", one) + "junk")}, true},
        {"closed while idle",
         {s::request(), s::send(withLength("HTTP/1.1 200 OK\r\n", one)), s::pause(100), s::close()},
         true},
        {"closed on the next request",
         {s::request(), s::send(withLength("HTTP/1.1 200 OK\r\n", one)), s::request(), s::close()},
         true},
    };
    const std::string two = binary(200);
    for (const FreshConnectionRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server({row.first, {s::request(), s::send(withLength("HTTP/1.1 200 OK\r\n", two))}});
        TempFolder folder;
        HttpFetcher fetcher(2000);
        EXPECT_EQ(fetcher.download(server.url("/1.gif").c_str(), folder.prefix("").c_str(), nullptr, 0), row.firstOk);
        Sleep(300);  // lets an idle close reach the fetcher's side
        ASSERT_TRUE(fetcher.download(server.url("/2.gif").c_str(), folder.prefix("").c_str(), nullptr, 0));
        EXPECT_EQ(readFile(fetcher.savedPath()), two);
        EXPECT_EQ(server.connections(), 2);
    }
}

TEST(HttpFetcher, NeverSendsOverAnotherHostsConnection) {
    ScriptedServer first({{s::request(), s::send(withLength(kOk, "from the first"))}});
    ScriptedServer second({{s::request(), s::send(withLength(kOk, "from the second"))}});
    TempFolder folder;
    HttpFetcher fetcher(2000);
    ASSERT_TRUE(fetcher.download(first.url("/a.txt").c_str(), folder.prefix("1").c_str(), nullptr, 0));
    ASSERT_TRUE(fetcher.download(second.url("/a.txt").c_str(), folder.prefix("2").c_str(), nullptr, 0));
    EXPECT_EQ(readFile(folder.prefix("2a.txt")), "from the second");
    EXPECT_EQ(first.requests().size(), 1u);
    EXPECT_EQ(second.requests().size(), 1u);
}

TEST(HttpFetcher, TellsHostsApartOnTheSamePort) {
    ScriptedServer server({
        {s::request(), s::send(withLength(kOk, "by address"))},
        {s::request(), s::send(withLength(kOk, "by name"))},
    });
    TempFolder folder;
    HttpFetcher fetcher(2000);
    ASSERT_TRUE(fetcher.download(server.url("/a.txt").c_str(), folder.prefix("1").c_str(), nullptr, 0));
    const std::string byName = "http://localhost:" + std::to_string(server.port()) + "/a.txt";
    ASSERT_TRUE(fetcher.download(byName.c_str(), folder.prefix("2").c_str(), nullptr, 0));
    EXPECT_EQ(readFile(folder.prefix("2a.txt")), "by name");
    EXPECT_EQ(server.connections(), 2);
}

struct CutRow {
    const char* name;
    ConnectionScript steps;
    HttpFetcher::Failure failure;
};

TEST(HttpFetcher, LeavesNoFileWhenTheBodyIsCutOrStalls) {
    const std::string body = binary(5000);
    const std::string response = withLength("HTTP/1.1 200 OK\r\n", body);
    const std::string coded = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(body, {1000});
    const CutRow rows[] = {
        {"stalls mid-body",
         {s::request(), s::send(response.substr(0, 2000)), s::hold(10000)},
         HttpFetcher::Failure::silence},
        {"stalls before the header", {s::request(), s::hold(10000)}, HttpFetcher::Failure::silence},
        {"closes mid-body",
         {s::request(), s::send(response.substr(0, 2000)), s::close()},
         HttpFetcher::Failure::closed},
        {"closes mid-header",
         {s::request(), s::send("HTTP/1.1 200 OK\r\nContent-"), s::close()},
         HttpFetcher::Failure::closed},
        {"closes before the header", {s::request(), s::close()}, HttpFetcher::Failure::closed},
        {"closes before the last chunk",
         {s::request(), s::send(coded.substr(0, coded.size() - 5)), s::close()},
         HttpFetcher::Failure::closed},
        {"broken chunk size",
         {s::request(), s::send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nxyz\r\n")},
         HttpFetcher::Failure::body},
    };
    for (const CutRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server({row.steps});
        TempFolder folder;
        HttpFetcher fetcher(kQuickSilenceMs);
        const auto start = Clock::now();
        EXPECT_FALSE(fetcher.download(server.url("/icon.gif").c_str(), folder.prefix("day").c_str(), nullptr, 0));
        EXPECT_LT(secondsSince(start), kQuickSilenceMs / 1000.0 + 2.5);
        EXPECT_EQ(fetcher.failure(), row.failure);
        EXPECT_TRUE(folder.files().empty());
    }
}

TEST(HttpFetcher, TextModeGivesUpOnAStalledServer) {
    ScriptedServer server({{s::request(), s::send(withLength(kOk, filler(3000)).substr(0, 1500)), s::hold(10000)}});
    HttpFetcher fetcher(kQuickSilenceMs);
    const auto start = Clock::now();
    EXPECT_FALSE(fetchText(fetcher, server.url("/s"), nullptr).ok);
    EXPECT_LT(secondsSince(start), 1.0 + kQuickSilenceMs / 1000.0 + 2.5);
    EXPECT_EQ(fetcher.failure(), HttpFetcher::Failure::silence);
}

TEST(HttpFetcher, CachedFileNeedsNoConnection) {
    ScriptedServer server({{s::request(), s::send(withLength("HTTP/1.1 200 OK\r\n", "GIF89a"))}});
    TempFolder folder;
    const std::string url = server.url("/vip/imag/day/sun.gif");
    HttpFetcher fetcher(2000);
    ASSERT_TRUE(fetcher.download(url.c_str(), folder.prefix("day").c_str(), nullptr, 0));
    const std::string saved = fetcher.savedPath();
    ASSERT_TRUE(fetcher.close());

    HttpFetcher again(2000);
    EXPECT_TRUE(again.download(url.c_str(), folder.prefix("day").c_str(), nullptr, 0));
    EXPECT_EQ(again.savedPath(), saved);
    EXPECT_EQ(readFile(saved), "GIF89a");
    EXPECT_FALSE(again.close());  // no socket was ever made
    EXPECT_EQ(server.connections(), 1);
}

TEST(HttpFetcher, CloseOnAFreshFetcherDoesNothing) {
    HttpFetcher fetcher;
    EXPECT_FALSE(fetcher.close());
    EXPECT_FALSE(fetcher.close());
}

TEST(HttpFetcher, FailsFastWhenNothingListens) {
    int port = 0;
    {
        ScriptedServer closedSoon({});
        port = closedSoon.port();
    }
    HttpFetcher fetcher(3000);
    TempFolder folder;
    const auto start = Clock::now();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/x.gif";
    EXPECT_FALSE(fetcher.download(url.c_str(), folder.prefix("").c_str(), nullptr, 0));
    EXPECT_EQ(fetcher.failure(), HttpFetcher::Failure::connect);
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_TRUE(fetcher.close());
}

TEST(HttpFetcher, RefusesInputsBeyondItsFieldsWithoutConnecting) {
    ScriptedServer server({});
    TempFolder folder;
    const std::string base = server.url("/");
    std::string gbk41;
    for (int i = 0; i < 41; ++i) gbk41 += "\xCC\xEC";
    const std::string marker1001(1001, 'm');
    const std::string longPrefix = folder.prefix(std::string(255 - folder.prefix("").size() - 4, 'p'));

    struct Row {
        const char* name;
        std::string url;
        const char* text;
        bool textMode;
        int limit;
    };
    const Row rows[] = {
        {"URL of 256 bytes", base + std::string(256 - base.size(), 'u'), nullptr, true, 5000},
        {"path over 240 bytes once encoded", base + gbk41 + "x", nullptr, true, 5000},
        {"limit of 1000", base + "x", nullptr, true, 1000},
        {"limit of 0", base + "x", nullptr, true, 0},
        {"marker of 1001 bytes", base + "x", marker1001.c_str(), true, 5000},
        {"saved path of 256 bytes", base + "abcde", longPrefix.c_str(), false, 0},
        {"empty host", "http:///x.gif", nullptr, true, 5000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        HttpFetcher fetcher(kQuickSilenceMs);
        // The destination sits between guard bytes; its room is what the limit says, or 1001.
        std::vector<char> fenced(64 + 5000 + 64, '\x5A');
        char* page = fenced.data() + 64;
        std::fill(page, page + (row.limit > 0 ? row.limit : 1), '\0');
        EXPECT_FALSE(fetcher.download(row.url.c_str(), row.text, row.textMode ? page : nullptr, row.limit));
        EXPECT_STREQ(page, "");
        EXPECT_EQ(std::string(fenced.data(), 64), std::string(64, '\x5A'));
        const size_t filled = 64 + static_cast<size_t>(row.limit > 0 ? row.limit : 1);
        EXPECT_EQ(std::string(fenced.begin() + static_cast<long>(filled), fenced.end()),
                  std::string(fenced.size() - filled, '\x5A'));
        if (!row.textMode) {
            EXPECT_STREQ(fetcher.savedPath(), "");
        }
    }
    char unterminated[1001];
    std::fill(unterminated, unterminated + sizeof unterminated, 'x');
    HttpFetcher fetcher(kQuickSilenceMs);
    EXPECT_FALSE(fetcher.download((base + "x").c_str(), nullptr, unterminated, sizeof unterminated));
    EXPECT_EQ(std::string(unterminated, sizeof unterminated), std::string(sizeof unterminated, 'x'));

    Sleep(200);
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(folder.files().empty());
}

TEST(HttpFetcher, AcceptsInputsRightAtTheirLimits) {
    std::string gbk39;
    for (int i = 0; i < 39; ++i) gbk39 += "\xCC\xEC";
    ScriptedServer server({
        {s::request(), s::send(withLength(kOk, filler(1500)))},  // left with 500 bytes unread
        {s::request(), s::send(withLength(kOk, "saved"))},
    });
    TempFolder folder;
    HttpFetcher fetcher(2000);
    // "/" + 39 escaped characters (234) + "x.gif": a 240-byte path, the longest a request line takes.
    const TextResult text = fetchText(fetcher, server.url("/" + gbk39 + "x.gif"), nullptr, 1001);
    EXPECT_TRUE(text.ok);
    EXPECT_EQ(text.text, filler(1000));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].find(" HTTP/1.1\r\n"), 4u + 240u);

    const std::string prefix = folder.prefix("");
    const std::string longPrefix = prefix + std::string(255 - prefix.size() - 5, 'p');
    EXPECT_TRUE(fetcher.download(server.url("/abcde").c_str(), longPrefix.c_str(), nullptr, 0));
    EXPECT_EQ(std::string(fetcher.savedPath()).size(), 255u);
    EXPECT_EQ(readFile(fetcher.savedPath()), "saved");
}

TEST(HttpFetcher, TakesTheRestOfAnOverlongHeaderAsBody) {
    const std::string head = "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(1100, 'p') + "\r\nContent-Length: 4\r\n\r\n";
    ScriptedServer server({{s::request(), s::send(head + "body"), s::close()}});
    HttpFetcher fetcher(2000);
    const TextResult result = fetchText(fetcher, server.url("/s"), nullptr);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text, head.substr(1000) + "body");
}

}  // namespace
