// The fetcher against scripted servers on 127.0.0.1. No case measures time or counts
// connections: waiting for a server's close, or using a connection that has no script, runs
// into the fetcher's silence bound and fails the download.
#include "net/http_fetcher.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace test_support;  // the scripted server and its steps
using Failure = HttpFetcher::Failure;
using Text = std::optional<std::string>;  // what text mode took; none when the download failed

constexpr char kMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
constexpr int kBelowHoldMs = 3000;
static_assert(kBelowHoldMs < ScriptedServer::kHoldMs);
const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n";

std::string chunked(const std::string& body, size_t size, const std::string& head = kChunkedHead) {
    std::ostringstream out;
    out << head << "\r\n" << std::hex;
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
std::string withMarker(int at) { return filler(3000).replace(at, sizeof kMarker - 1, kMarker); }

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

// A text download, then a second one: over the same connection when the first response
// leaves it in step (`kept`: its script goes on), else over a fresh one, as the server
// answers nothing more on the first.
TEST(HttpFetcher, TakesTextAndReusesTheConnectionOnlyWhenInStep) {
    const std::string request =  // the server closes instead of answering any other request
        "<GET /%CC%EC.html?q=1&f=8 HTTP/1.1\r\nHost:127.0.0.1\r\nAccept:*/*\r\nUser-Agent:Mozilla/4.0 "
        "(compatible; MSIE 6.0; Windows NT 5.1)\r\nConnection:Keep-Alive\r\n\r\n";
    const std::string split = ok(withMarker(480)), untilClose = "HTTP/1.1 200 OK\r\n\r\n", long4999 = filler(6000);
    const std::string abc = ok("abc");
    const size_t cut = abc.find("\r\n\r\n") + 3;
    // Name, the first connection's script, its marker, what it takes, whether the connection is kept.
    const std::tuple<const char*, Script, const char*, Text, bool> rows[] = {
        {"200", {request, ">" + ok("two hundred")}, nullptr, "two hundred", true},
        {"206", {"<", ">" + ok("partial", "HTTP/1.1 206 Partial Content\r\n")}, nullptr, "partial", true},
        {"302", {"<", ">" + ok("moved", "HTTP/1.1 302 Found\r\nLocation: http://e.example/\r\n")}, nullptr, {}, 0},
        {"status line only", {"<", ">" + ok("no", "HTTP/1.1 404 Not Found\r\nX-Y: http/ 200\r\n")}, nullptr, {}, 0},
        // Receives take a waiting body 1000 bytes at a time; a pause of the server longer than
        // the fetcher's own second of waiting splits it elsewhere.
        {"marker across two receives", {"<", ">" + ok(withMarker(990))}, kMarker, withMarker(990).substr(990), 1},
        {"marker after a pause",
         {"<", ">" + split.substr(0, split.size() - 2500), "~1500", ">" + split.substr(split.size() - 2500)},
         kMarker,
         withMarker(480).substr(480),
         true},
        {"no marker", {"<", ">" + ok(filler(3000))}, kMarker, "", true},
        {"blank line split after its third byte", {"<", ">" + abc.substr(0, cut), "~300", ">" + abc.substr(cut)},
         nullptr, "abc", true},
        {"4999 bytes, the rest left unread",
         {"<", ">" + ok(kMarker + long4999)},
         kMarker,
         (kMarker + long4999).substr(0, 4999),
         false},
        {"body ended by the close", {"<", ">" + untilClose + "one", "|"}, nullptr, "one", false},
        {"said close", {"<", ">" + ok("one", "HTTP/1.1 200 OK\r\nConnection: close\r\n")}, nullptr, "one", 0},
        {"both lengths", {"<", ">" + chunked("one", 2, kChunkedHead + "Content-Length: 3\r\n")}, nullptr, "one", 0},
        {"stray bytes after the body", {"<", ">" + ok("one") + "junk"}, nullptr, "one", false},
        {"stray bytes after the last chunk", {"<", ">" + chunked("one", 2) + "junk"}, nullptr, "one", false},
        {"closed while idle", {"<", ">" + ok("one"), "~100", "|"}, nullptr, "one", false},
        {"closed on the next request", {"<", ">" + ok("one"), "<", "|"}, nullptr, "one", false},
    };
    const Script second{"<", ">" + ok("second")};
    for (auto [name, first, marker, text, kept] : rows) {
        SCOPED_TRACE(name);
        if (kept) first.insert(first.end(), second.begin(), second.end());
        ScriptedServer server(kept ? std::vector<Script>{first} : std::vector<Script>{first, second});
        HttpFetcher fetcher(kBelowHoldMs);
        EXPECT_EQ(fetchText(fetcher, server.url("/\xCC\xEC.html?q=1&f=8"), marker), text);
        Sleep(300);  // lets an idle close reach the fetcher's side
        EXPECT_EQ(fetchText(fetcher, server.url("/t")), "second");
    }
}

// Files over one kept connection: a chunked body, a header of almost 16 KB (two long
// cookies, as real sites send) whose body only its length ends, taken well inside a short
// deadline, and a GBK name whose second byte is 0x5C (乗), no folder separator. The third is
// on disk already.
TEST(HttpFetcher, SavesFilesOverOneKeptConnection) {
    const std::string day = filler(5000, true), night = filler(700, true);
    const std::string cookies = "HTTP/1.1 200 OK\r\nSet-Cookie: a=" + std::string(7900, 'c') +
                                "\r\nSet-Cookie: b=" + std::string(7900, 'd') + "\r\n";
    ScriptedServer server({{"<", ">" + chunked(day, 700), "<", ">" + ok(night, cookies)}});
    TempFolder folder("pellumo-fetch");
    HttpFetcher fetcher(kBelowHoldMs, 2000);
    ASSERT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(readFile(fetcher.savedPath()), day);
    ASSERT_TRUE(save(fetcher, server.url("/night/%81%5C.gif"), folder.prefix("night")));
    EXPECT_EQ(readFile(folder.prefix("night\x81\x5C.gif")), night);
    EXPECT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(folder.files(), 2);
}

TEST(HttpFetcher, NeverReusesTheConnectionOfAnotherHostOrPort) {
    ScriptedServer first({{"<", ">" + ok("first")}});
    ScriptedServer second({{"<", ">" + ok("second")}, {"<", ">" + ok("by name")}});
    HttpFetcher fetcher(kBelowHoldMs);
    EXPECT_EQ(fetchText(fetcher, first.url("/x.txt")), "first");
    EXPECT_EQ(fetchText(fetcher, second.url("/x.txt")), "second");
    EXPECT_EQ(fetchText(fetcher, second.url("/x.txt").replace(7, 9, "localhost")), "by name");
}

// Each fault of a server fails the download with the failure that names it and leaves no file.
TEST(HttpFetcher, FailsOnEachFaultAndLeavesNoFile) {
    const std::string whole = ok(filler(5000, true)), coded = chunked(filler(5000, true), 1000);
    const std::string untilClose = "HTTP/1.1 200 OK\r\n\r\n";
    Script trickle{"<", ">" + untilClose};
    for (int i = 0; i < 12; ++i) trickle.insert(trickle.end(), {"~250", ">x"});
    trickle.push_back("|");  // ends the body after 3 s: a later deadline would take it whole
    const std::tuple<const char*, Script, Failure> rows[] = {
        // Silence, not the close that ends the server's hold: the bound gave up first.
        {"stalls mid-body", {"<", ">" + whole.substr(0, 2000)}, Failure::silence},
        {"closes mid-body", {"<", ">" + whole.substr(0, 2000), "|"}, Failure::closed},
        {"closes before the last chunk", {"<", ">" + coded.substr(0, coded.size() - 5), "|"}, Failure::closed},
        {"broken chunk size", {"<", ">" + kChunkedHead + "\r\nxyz\r\n"}, Failure::body},
        // A byte every 250 ms never trips the silence bound; the 2 s deadline ends it.
        {"endless trickle", trickle, Failure::deadline},
        {"just within the size cap", {"<", ">" + untilClose + filler(1 << 20, true), "|"}, Failure::none},
        {"one byte over the size cap", {"<", ">" + untilClose + filler((1 << 20) + 1, true), "|"}, Failure::tooLarge},
        {"header of 16 KB", {"<", ">" + ok("x", "HTTP/1.1 200 OK\r\nX-Pad: " + std::string(16337, 'p') + "\r\n")},
         Failure::none},
        {"header over 16 KB", {"<", ">HTTP/1.1 200 OK\r\nX-Pad: " + std::string(16384, 'p'), "|"}, Failure::header},
        {"NUL in the header",
         {"<", ">" + ok("abc", std::string("HTTP/1.1 200 OK\r\nX-A: a\0b\r\n", 27))},
         Failure::nulInHeader},
        {"gzip", {"<", ">" + ok("\x1F\x8B\x08", "HTTP/1.1 200 OK\r\ncontent-encoding : gzip\r\n")}, Failure::encoded},
        {"identity", {"<", ">" + ok("abc", "HTTP/1.1 200 OK\r\nContent-Encoding: identity \r\n")}, Failure::none},
    };
    for (const auto& [name, steps, failure] : rows) {
        SCOPED_TRACE(name);
        ScriptedServer server({steps});
        TempFolder folder("pellumo-fetch");
        // The silence bound leaves room for a busy scheduler, well below the hold.
        HttpFetcher fetcher(2500, failure == Failure::deadline ? 2000 : 30000);
        static_assert(2500 < ScriptedServer::kHoldMs);
        EXPECT_EQ(save(fetcher, server.url("/icon.gif"), folder.prefix("day")), failure == Failure::none);
        EXPECT_EQ(fetcher.failure(), failure);
        EXPECT_EQ(folder.files(), failure == Failure::none ? 1 : 0);
    }
}

// Arguments past their limits fail at once, unsent: a text limit of 1000 bytes (1001 holds
// a receive), and a request path of 241 bytes once encoded (240 go out).
TEST(HttpFetcher, RefusesArgumentsPastTheirLimitsUnsent) {
    ScriptedServer server({{"<", ">" + ok("fits"), "<GET /%CC", ">" + ok("fits")}});
    std::string path = "/";
    for (int i = 0; i < 39; ++i) path += "\xCC\xEC";  // 6 bytes each once encoded
    HttpFetcher fetcher(kBelowHoldMs);
    char page[1001] = "";
    EXPECT_FALSE(fetcher.download(server.url("/t").c_str(), nullptr, page, 1000));
    EXPECT_EQ(fetcher.failure(), Failure::input);
    EXPECT_TRUE(fetcher.download(server.url("/t").c_str(), nullptr, page, 1001) && page == std::string("fits"));
    EXPECT_EQ(fetchText(fetcher, server.url(path + "abcdef")), Text{});
    EXPECT_EQ(fetcher.failure(), Failure::input);
    EXPECT_EQ(fetchText(fetcher, server.url(path + "abcde")), "fits");
}

// A saved path of 255 bytes is taken; one of 256 fails at once, without connecting.
TEST(HttpFetcher, RefusesASavedPathBeyondItsField) {
    ScriptedServer server({{"<", ">" + ok("abc")}});
    TempFolder folder("pellumo-fetch");
    const std::string prefix250 = folder.prefix(std::string(250 - folder.prefix().size(), 'p'));
    HttpFetcher fetcher(kBelowHoldMs);
    EXPECT_FALSE(save(fetcher, server.url("/abcdef"), prefix250));
    EXPECT_STREQ(fetcher.savedPath(), "");
    EXPECT_TRUE(save(fetcher, server.url("/abcde"), prefix250));
    EXPECT_EQ(readFile(fetcher.savedPath()), "abc");
}

}  // namespace
