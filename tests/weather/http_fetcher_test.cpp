// The fetcher against scripted servers on 127.0.0.1. No case measures time or counts
// connections: waiting for a server's close, or using a connection that has no script, runs
// into the fetcher's silence bound and fails the download.
#include "weather/http_fetcher.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using test_support::TempFolder;

// Plays one script per connection, in the order they come, byte for byte and pause for pause.
// A script that ends without closing holds its connection until the client closes it; every
// wait ends after kHoldMs, and connections beyond the scripts go unserved.
struct Step {
    enum Kind { read, send, pause, close } kind;  // read: one request, up to its blank line
    std::string bytes;                            // what send sends; for read, the request expected, if any
    int ms = 0;
};
const Step kRead{Step::read, {}}, kClose{Step::close, {}};
Step reads(std::string request) { return {Step::read, std::move(request)}; }
Step sends(std::string bytes) { return {Step::send, std::move(bytes)}; }
Step pauses(int ms) { return {Step::pause, {}, ms}; }

class ScriptedServer {
public:
    static constexpr int kHoldMs = 5000;
    explicit ScriptedServer(std::vector<std::vector<Step>> scripts) : scripts_(std::move(scripts)) {}
    ~ScriptedServer() { thread.join(); }
    std::string url(const std::string& path) const { return "http://" + listener.host() + path; }
    int accepted() const { return accepted_; }

private:
    static bool readable(SOCKET socket) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval bound{kHoldMs / 1000, 0};
        return select(0, &set, nullptr, nullptr, &bound) > 0;
    }
    static void play(SOCKET connection, const std::vector<Step>& steps) {
        char c;
        for (const Step& step : steps) {
            std::string request;
            switch (step.kind) {
                case Step::read:
                    while (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0) {
                        if (!readable(connection) || recv(connection, &c, 1, 0) <= 0) return;
                        request += c;
                    }
                    if (!step.bytes.empty() && request != step.bytes) return;
                    break;
                case Step::send:
                    send(connection, step.bytes.data(), static_cast<int>(step.bytes.size()), 0);
                    break;
                case Step::pause:
                    Sleep(step.ms);
                    break;
                case Step::close:
                    return;
            }
        }
        while (readable(connection) && recv(connection, &c, 1, 0) > 0) continue;
    }

    std::vector<std::vector<Step>> scripts_;
    test_support::LoopbackListener listener;
    std::atomic<int> accepted_{0};
    std::thread thread{[this] {
        for (const std::vector<Step>& script : scripts_) {
            if (!readable(listener.socket)) return;
            const SOCKET connection = accept(listener.socket, nullptr, nullptr);
            ++accepted_;
            play(connection, script);
            closesocket(connection);
        }
    }};
};

namespace fs = std::filesystem;
using test_support::ok;
using Failure = HttpFetcher::Failure;
using Text = std::optional<std::string>;  // what text mode took; none when the download failed

constexpr char kMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
constexpr int kQuickMs = 600;
constexpr int kBelowHoldMs = 3000;
static_assert(kBelowHoldMs < ScriptedServer::kHoldMs);
const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

std::string chunked(const std::string& body, size_t size) {
    std::ostringstream out;
    out << kChunkedHead << std::hex;
    for (size_t at = 0; at < body.size(); at += size)
        out << body.substr(at, size).size() << "\r\n" << body.substr(at, size) << "\r\n";
    return out.str() + "0\r\n\r\n";
}
// Printable text that never holds the marker, or every byte value, so that a file must match exactly.
std::string filler(size_t length, bool binary = false) {
    std::string out(length, '\0');
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(binary ? i * 7 + i / 256 : 'a' + i % 23);
    return out;
}

Text fetchText(HttpFetcher& fetcher, const std::string& url, const char* marker = nullptr) {
    char page[5000] = "";
    if (!fetcher.download(url.c_str(), marker, page, sizeof page)) return std::nullopt;
    return page;
}
bool save(HttpFetcher& fetcher, const std::string& url, const std::string& prefix) {
    return fetcher.download(url.c_str(), prefix.c_str(), nullptr, 0);
}
std::string readFile(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

TEST(HttpFetcher, SendsTheRequestAndAcceptsOnly200And206) {
    // The server closes instead of answering any other request than this one.
    const Step request = reads(
        "GET /%CC%EC.html?q=1&f=8 HTTP/1.1\r\nHost:127.0.0.1\r\nAccept:*/*\r\n"
        "User-Agent:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\nConnection:Keep-Alive\r\n\r\n");
    // A null marker takes the whole body, all but its zero bytes.
    const std::tuple<const char*, std::string, Text> rows[] = {
        {"200", ok("two hundred"), "two hundred"},
        {"206", ok("partial", "HTTP/1.1 206 Partial Content\r\n"), "partial"},
        {"302", ok("moved", "HTTP/1.1 302 Found\r\nLocation: http://else.example/a.html\r\n"), std::nullopt},
        {"no status", "Server: none\r\n\r\nbody", std::nullopt},
        {"upper-case status line", ok("old", "HTTP/1.0 200 OK\r\n"), "old"},
        {"stray spaces", ok("typed", "HTTP/1.1 200 OK\r\nContent-Type:  text/html; charset=GB2312\r\n"), "typed"},
        {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: many\r\n\r\nto the close", "to the close"},
        {"zero bytes", ok(std::string("ab\0cd\0", 6)), "abcd"},
        {"status from another line", ok("no", "HTTP/1.1 404 Not Found\r\nX-Y: http/ 200\r\n"), std::nullopt},
    };
    for (const auto& [name, response, text] : rows) {
        ScriptedServer server({{request, sends(response), kClose}});
        HttpFetcher fetcher(kQuickMs);
        EXPECT_EQ(fetchText(fetcher, server.url("/\xCC\xEC.html?q=1&f=8")), text) << name;
    }
}

TEST(HttpFetcher, FindsTheMarkerHoweverTheBodyIsSplitAndEndsItByItsLength) {
    // Receives take a waiting body 1000 bytes at a time, a pause of the server splits it elsewhere,
    // and as the server keeps the connection past the silence bound, each body must end by its length.
    const int length = sizeof kMarker - 1;
    const std::pair<int, int> rows[] = {{1000, 0}, {990, 0}, {1000 - length, 0}, {-1, 0}, {480, 500}};
    for (const auto& [at, pauseAfter] : rows) {
        std::string body = filler(3000);
        if (at >= 0) body.replace(at, length, kMarker);
        const std::string response = ok(body);
        const size_t split = response.size() - body.size() + pauseAfter;
        // The pause outlasts the fetcher's own second of waiting, so the first part is read alone.
        ScriptedServer server(
            {{kRead, sends(response.substr(0, split)), pauses(pauseAfter ? 1500 : 0), sends(response.substr(split))}});
        HttpFetcher fetcher(kBelowHoldMs);
        EXPECT_EQ(fetchText(fetcher, server.url("/s"), kMarker), at >= 0 ? body.substr(at) : "") << at;
    }
}

TEST(HttpFetcher, TakesAtMost4999BytesAndThenConnectsAfresh) {
    const std::string body = filler(300) + kMarker + filler(6000);
    ScriptedServer server({{kRead, sends(ok(body))}, {kRead, sends(ok("second"))}});
    HttpFetcher fetcher(kBelowHoldMs);
    EXPECT_EQ(fetchText(fetcher, server.url("/s"), kMarker), body.substr(300, 4999));
    // The rest of that body is still on the first connection: it must not be read as a reply.
    EXPECT_EQ(fetchText(fetcher, server.url("/t")), "second");
}

TEST(HttpFetcher, SavesFilesOverOneKeptConnection) {
    const std::string day = filler(5000, true), night = filler(700, true);
    ScriptedServer server({{kRead, sends(chunked(day, 700)), kRead, sends(ok(night))}});
    TempFolder folder("pellumo-fetch");
    HttpFetcher fetcher(kBelowHoldMs);
    ASSERT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(readFile(fetcher.savedPath()), day);
    ASSERT_TRUE(save(fetcher, server.url("/night/rain.gif"), folder.prefix("night")));
    EXPECT_EQ(readFile(fetcher.savedPath()), night);
    // Already saved: taken from the disk, as the server would answer no third request.
    EXPECT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(folder.files(), 2);
}

TEST(HttpFetcher, ConnectsAfreshWhenTheHeldConnectionCannotServe) {
    const std::string one = filler(300, true), two = filler(200, true);
    const std::tuple<const char*, std::vector<Step>, bool> rows[] = {
        {"body ended by the close", {kRead, sends("HTTP/1.1 200 OK\r\n\r\n" + one), kClose}, true},
        {"said close", {kRead, sends(ok(one, "HTTP/1.1 200 OK\r\nConnection: close\r\n"))}, true},
        {"failed", {kRead, sends(ok(one, "HTTP/1.1 404 Not Found\r\n"))}, false},
        {"stray bytes after the body", {kRead, sends(ok(one) + "junk")}, true},
        {"stray bytes after the last chunk", {kRead, sends(chunked(one, 100) + "junk")}, true},
        {"closed while idle", {kRead, sends(ok(one)), pauses(100), kClose}, true},
        {"closed on the next request", {kRead, sends(ok(one)), kRead, kClose}, true},
    };
    for (const auto& [name, first, firstOk] : rows) {
        SCOPED_TRACE(name);
        ScriptedServer server({first, {kRead, sends(ok(two))}});
        TempFolder folder("pellumo-fetch");
        HttpFetcher fetcher(kBelowHoldMs);
        EXPECT_EQ(save(fetcher, server.url("/1.gif"), folder.prefix()), firstOk);
        Sleep(300);  // lets an idle close reach the fetcher's side
        ASSERT_TRUE(save(fetcher, server.url("/2.gif"), folder.prefix()));
        EXPECT_EQ(readFile(fetcher.savedPath()), two);
    }
}

TEST(HttpFetcher, NeverReusesTheConnectionOfAnotherHostOrPort) {
    ScriptedServer first({{kRead, sends(ok("first"))}});
    ScriptedServer second({{kRead, sends(ok("second"))}, {kRead, sends(ok("by name"))}});
    TempFolder folder("pellumo-fetch");
    HttpFetcher fetcher(kBelowHoldMs);
    EXPECT_TRUE(save(fetcher, first.url("/x.txt"), folder.prefix("1")));
    EXPECT_TRUE(save(fetcher, second.url("/x.txt"), folder.prefix("2")));
    EXPECT_TRUE(save(fetcher, second.url("/x.txt").replace(7, 9, "localhost"), folder.prefix("3")));
    EXPECT_EQ(readFile(folder.prefix("3x.txt")), "by name");
}

// Each fault of a server fails the download with the failure that names it and leaves no file.
TEST(HttpFetcher, FailsOnEachFaultAndLeavesNoFile) {
    const std::string whole = ok(filler(5000, true)), coded = chunked(filler(5000, true), 1000);
    const std::string untilClose = "HTTP/1.1 200 OK\r\n\r\n";
    std::vector<Step> trickle{kRead, sends(untilClose)};
    for (int i = 0; i < 12; ++i) trickle.insert(trickle.end(), {pauses(250), sends("x")});
    const std::tuple<const char*, std::vector<Step>, Failure> rows[] = {
        // Silence, not the close that ends the server's hold: the bound gave up first.
        {"stalls mid-body", {kRead, sends(whole.substr(0, 2000))}, Failure::silence},
        {"silence inside the header", {kRead, sends("HTTP/1.1 200 OK\r\nContent-")}, Failure::silence},
        {"closes mid-body", {kRead, sends(whole.substr(0, 2000)), kClose}, Failure::closed},
        {"closes before the last chunk", {kRead, sends(coded.substr(0, coded.size() - 5)), kClose}, Failure::closed},
        {"broken chunk size", {kRead, sends(kChunkedHead + "xyz\r\n")}, Failure::body},
        // A byte every 250 ms never trips the 1 s silence bound; the 2 s deadline ends it.
        {"endless trickle", trickle, Failure::deadline},
        {"just within the size cap",
         {kRead, sends(untilClose + filler(HttpFetcher::kMaxFileBytes, true)), kClose},
         Failure::none},
        {"one byte over the size cap",
         {kRead, sends(untilClose + filler(HttpFetcher::kMaxFileBytes + 1, true)), kClose},
         Failure::tooLarge},
        {"header over 16 KB",
         {kRead, sends("HTTP/1.1 200 OK\r\nX-Pad: " + std::string(HttpFetcher::kMaxHeaderBytes, 'p')), kClose},
         Failure::header},
    };
    for (const auto& [name, steps, failure] : rows) {
        SCOPED_TRACE(name);
        ScriptedServer server({steps});
        TempFolder folder("pellumo-fetch");
        // Under Wine a 16 KB header, read a byte per call, takes seconds by itself on a loaded machine.
        HttpFetcher fetcher(1000, failure == Failure::deadline ? 2000 : 30000);
        EXPECT_EQ(save(fetcher, server.url("/icon.gif"), folder.prefix("day")), failure == Failure::none);
        EXPECT_EQ(fetcher.failure(), failure);
        EXPECT_EQ(folder.files(), failure == Failure::none ? 1 : 0);
    }
}

// A header past the 1000 bytes that headerText keeps, as two cookies and a security policy
// make it: the body is still framed by its length, on a kept connection and on one the
// server closes.
TEST(HttpFetcher, FramesTheBodyByTheWholeHeader) {
    const std::string cookies = "HTTP/1.1 200 OK\r\nSet-Cookie: a=" + std::string(400, 'c') +
                                "\r\nSet-Cookie: b=" + std::string(400, 'd') +
                                "\r\nContent-Security-Policy: default-src " + std::string(220, 's') + "\r\n";
    const std::string body = filler(3000, true);
    const std::string head = cookies + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    ASSERT_GT(head.size(), 1100u);
    for (const bool closes : {false, true}) {
        // Closing, the server need not say the length; kept open, only the length ends the body.
        ScriptedServer server({closes ? std::vector<Step>{kRead, sends(cookies + "\r\n" + body), kClose}
                                      : std::vector<Step>{kRead, sends(head + body)}});
        TempFolder folder("pellumo-fetch");
        HttpFetcher fetcher(kBelowHoldMs);
        ASSERT_TRUE(save(fetcher, server.url("/long.gif"), folder.prefix())) << closes;
        EXPECT_EQ(readFile(fetcher.savedPath()), body) << closes;
        EXPECT_EQ(fetcher.headerText(), (closes ? cookies : head).substr(0, 1000)) << closes;
    }
}

// Only a regular file counts as saved: a folder or a device name does not, and a GBK
// character whose second byte is 0x5C (乗) is no folder separator.
TEST(HttpFetcher, SavesUnderAnyNameButTrustsOnlyRegularFiles) {
    TempFolder folder("pellumo-fetch");
    fs::create_directory(folder.path / "folder.gif");
    const std::pair<const char*, bool> rows[] = {
        {"/%81%5C.gif", true}, {"/folder.gif", false}, {"/con", false}, {"/nul.gif", false}, {"/COM1.gif", false},
    };
    for (const auto& [path, saved] : rows) {
        ScriptedServer server({{kRead, sends(ok("GIF89a")), kClose}});
        HttpFetcher fetcher(kQuickMs);
        EXPECT_EQ(save(fetcher, server.url(path), folder.prefix()), saved) << path;
        EXPECT_EQ(server.accepted(), 1) << path << ": asked the server";
        if (saved) {
            EXPECT_EQ(readFile(folder.prefix("\x81\x5C.gif")), "GIF89a");
        }
    }
}

// Just within each limit the download goes ahead; beyond it the call fails at once, without
// connecting, without touching the destination and without leaving a file.
TEST(HttpFetcher, RefusesInputsBeyondItsFields) {
    ScriptedServer server({{kRead, sends(ok(filler(1500)))}, {kRead, sends(ok(filler(1500)))}});
    const std::string base = server.url("/"), marker1001(1001, 'm');
    std::string gbk39;
    for (int i = 0; i < 39; ++i) gbk39 += "\xCC\xEC";
    const std::tuple<std::string, const char*, int, const char*, bool> rows[] = {
        // URL, marker, limit, what the destination holds (null: no terminator), accepted
        {base + std::string(256 - base.size(), 'u'), nullptr, 5000, "", false},
        {base + gbk39 + "x.gif", nullptr, 1001, "abc", true},  // a path of 240 bytes
        {base + gbk39 + "x.gif1", nullptr, 1001, "", false},
        {base + "x", nullptr, 1000, "", false},
        {base + "x", nullptr, 1001, nullptr, false},
        {base + "x", marker1001.c_str(), 5000, "", false},
        {"http:///x.gif", nullptr, 5000, "", false},
    };
    for (const auto& [url, marker, limit, before, accepted] : rows) {
        std::vector<char> page(5100, 'Z');
        page[limit] = '\0';  // a terminator only where the fetcher must not look
        if (before) std::copy_n(before, std::strlen(before) + 1, page.begin());
        const std::vector<char> untouched = page;
        HttpFetcher fetcher(kQuickMs);
        EXPECT_EQ(fetcher.download(url.c_str(), marker, page.data(), limit), accepted) << url.size();
        const size_t mayChange = accepted ? limit : 0;
        EXPECT_EQ(std::string(page.data(), mayChange), accepted ? "abc" + filler(997) + '\0' : "");
        EXPECT_TRUE(std::equal(page.begin() + mayChange, page.end(), untouched.begin() + mayChange));
    }
    TempFolder folder("pellumo-fetch");
    const std::string prefix250 = folder.prefix(std::string(250 - folder.prefix().size(), 'p'));
    HttpFetcher fetcher;
    EXPECT_TRUE(save(fetcher, base + "abcde", prefix250));
    EXPECT_EQ(std::strlen(fetcher.savedPath()), 255u);
    EXPECT_FALSE(save(fetcher, base + "abcdef", prefix250));  // a saved path of 256 bytes
    EXPECT_STREQ(fetcher.savedPath(), "");
    EXPECT_EQ(folder.files(), 1);
}

}  // namespace
