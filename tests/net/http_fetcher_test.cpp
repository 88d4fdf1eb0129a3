// The fetcher against scripted servers on 127.0.0.1. No case measures time or counts
// connections: waiting for a close, or a connection without a script, runs into the fetcher's
// silence bound and fails the download.
#include "net/http_fetcher.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <tuple>

namespace {

using namespace test_support;
using Failure = HttpFetcher::Failure;
using Text = std::optional<std::string>;  // what a download took; none when it failed

constexpr char kMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
constexpr char kFile[] = "file mode";  // in place of a marker: the body saved to a file
constexpr int kSilenceMs = 2000;       // room for a busy scheduler, well below the server's hold
static_assert(kSilenceMs < ScriptedServer::kHoldMs);
const std::string k200 = "HTTP/1.1 200 OK\r\n", kChunked = k200 + "Transfer-Encoding: chunked\r\n";

std::string chunked(const std::string& body, size_t size) {
    std::ostringstream out;
    out << kChunked << "\r\n" << std::hex;
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
std::string readFile(const std::string& path) {
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}
bool save(HttpFetcher& fetcher, const std::string& url, const std::string& prefix) {
    return fetcher.download(url.c_str(), prefix.c_str(), nullptr, 0);
}
// Text mode from `marker` on (the whole body when null), or with kFile a file, read and removed.
Text take(HttpFetcher& fetcher, const std::string& url, const char* marker = kFile) {
    static const TempFolder folder("pellumo-fetch-taken");
    char page[5000] = "";
    if (marker != kFile) return fetcher.download(url.c_str(), marker, page, sizeof page) ? Text(page) : Text();
    if (!save(fetcher, url, folder.prefix())) return {};
    const std::string saved = readFile(fetcher.savedPath());
    DeleteFileA(fetcher.savedPath());
    return saved;
}

// A download, then a second one: over the same connection when the first response leaves it
// in step (`kept`: its script goes on), else over a fresh one, as the server answers nothing
// more on the first.
TEST(HttpFetcher, TakesBodiesAndReusesTheConnectionOnlyWhenInStep) {
    const std::string request =  // the server closes instead of answering any other request
        "<GET /%CC%EC.html?q=1&f=8 HTTP/1.1\r\nHost:127.0.0.1\r\nAccept:*/*\r\nUser-Agent:Mozilla/4.0 "
        "(compatible; MSIE 6.0; Windows NT 5.1)\r\nConnection:Keep-Alive\r\n\r\n";
    // The marker's first 20 bytes come before a pause longer than the fetcher's own second of
    // waiting, so it is split between two receives however the network cuts the rest.
    const std::string marked = filler(3000).replace(480, sizeof kMarker - 1, kMarker), split = ok(marked);
    const std::string abc = ok("abc"), long4999 = kMarker + filler(6000), moved = "HTTP/1.1 302 Found\r\n";
    const size_t cut = abc.find("\r\n\r\n") + 3, late = split.size() - 2500;
    const Script pausedInMarker{"<", ">" + split.substr(0, late), "~1500", ">" + split.substr(late)};
    const Script pausedInBlank{"<", ">" + abc.substr(0, cut), "~300", ">" + abc.substr(cut)};
    // Name, the first connection's script, the marker or kFile, what it takes, whether the connection is kept.
    const std::tuple<const char*, Script, const char*, Text, bool> rows[] = {
        {"200", {request, ">" + ok("two hundred")}, nullptr, "two hundred", true},
        {"206", {"<", ">" + ok("partial", "HTTP/1.1 206 Partial Content\r\n")}, kFile, "partial", true},
        {"302", {"<", ">" + ok("x", moved + "Location: http://e.example/\r\nX: http/ 200\r\n")}, kFile, {}, false},
        {"marker split", pausedInMarker, kMarker, marked.substr(480), true},
        {"no marker", {"<", ">" + ok(filler(3000))}, kMarker, "", true},
        {"blank line split after its third byte", pausedInBlank, kFile, "abc", true},
        {"4999 bytes, the rest left unread", {"<", ">" + ok(long4999)}, kMarker, long4999.substr(0, 4999), false},
        {"body ended by the close", {"<", ">" + k200 + "\r\none", "|"}, kFile, "one", false},
        {"said close", {"<", ">" + ok("one", k200 + "Connection: close\r\n")}, kFile, "one", false},
        {"stray bytes after the body", {"<", ">" + ok("one") + "junk"}, kFile, "one", false},
        {"stray bytes after the last chunk", {"<", ">" + chunked("one", 2) + "junk"}, kFile, "one", false},
        {"closed on the next request", {"<", ">" + ok("one"), "<", "|"}, kFile, "one", false},
    };
    const Script second{"<", ">" + ok("second")};
    for (auto [name, first, marker, taken, kept] : rows) {
        SCOPED_TRACE(name);
        if (kept) first.insert(first.end(), second.begin(), second.end());
        ScriptedServer server(kept ? std::vector<Script>{first} : std::vector<Script>{first, second});
        HttpFetcher fetcher(kSilenceMs);
        EXPECT_EQ(take(fetcher, server.url("/\xCC\xEC.html?q=1&f=8"), marker), taken);
        EXPECT_EQ(take(fetcher, server.url("/t")), "second");
    }
}

// Over one kept connection: a chunked body, a head of almost 16 KB (two long cookies, as real
// sites send) taken well inside a short deadline, and a GBK name whose second byte is 0x5C
// (乗), no folder separator. The third is on disk already; another host or port is not kept.
TEST(HttpFetcher, SavesFilesOverOneKeptConnectionPerHostAndPort) {
    const std::string day = filler(5000, true), night = filler(700, true);
    const std::string cookies =
        k200 + "Set-Cookie: a=" + std::string(7900, 'c') + "\r\nSet-Cookie: b=" + std::string(7900, 'd') + "\r\n";
    ScriptedServer server({{"<", ">" + chunked(day, 700), "<", ">" + ok(night, cookies)}});
    ScriptedServer other({{"<", ">" + ok("other")}, {"<", ">" + ok("by name")}});
    TempFolder folder("pellumo-fetch");
    HttpFetcher fetcher(kSilenceMs, 2000);
    ASSERT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(readFile(fetcher.savedPath()), day);
    ASSERT_TRUE(save(fetcher, server.url("/night/%81%5C.gif"), folder.prefix("night")));
    EXPECT_EQ(readFile(folder.prefix("night\x81\x5C.gif")), night);
    EXPECT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_TRUE(fetcher.savedPath() == folder.prefix("dayrain.gif") && folder.files() == 2);
    EXPECT_EQ(take(fetcher, other.url("/x.txt")), "other");
    EXPECT_EQ(take(fetcher, other.url("/x.txt").replace(7, 9, "localhost")), "by name");
}

// Each fault of a server fails the download with the failure that names it and leaves no file.
TEST(HttpFetcher, FailsOnEachFaultAndLeavesNoFile) {
    const std::string whole = ok(filler(5000, true)), coded = chunked(filler(5000, true), 1000), open = k200 + "\r\n";
    Script trickle{"<", ">" + open};
    for (int i = 0; i < 10; ++i) trickle.insert(trickle.end(), {"~150", ">x"});
    const auto padded = [](size_t n) {
        return Script{"<", ">" + ok("x", k200 + "X-Pad: " + std::string(n, 'p') + "\r\n")};
    };
    trickle.push_back("|");  // ends after 1.5 s: a deadline later than the 1 s asked for would take it whole
    const std::tuple<const char*, Script, Failure> rows[] = {
        {"stalls mid-body", {"<", ">" + whole.substr(0, 2000)}, Failure::silence},  // before the server's hold ends
        {"closes mid-body", {"<", ">" + whole.substr(0, 2000), "|"}, Failure::closed},
        {"closes before the last chunk", {"<", ">" + coded.substr(0, coded.size() - 5), "|"}, Failure::closed},
        {"broken chunk size", {"<", ">" + kChunked + "\r\nxyz\r\n"}, Failure::body},
        {"endless trickle", trickle, Failure::deadline},  // never silent for long
        {"just within the size cap", {"<", ">" + open + filler(1 << 20, true), "|"}, Failure::none},
        {"one byte over the size cap", {"<", ">" + open + filler((1 << 20) + 1, true), "|"}, Failure::tooLarge},
        {"head of 16 KB", padded(16337), Failure::none},
        {"head of 16 KB and a byte", padded(16338), Failure::header},
        {"NUL in the head", {"<", ">" + ok("abc", k200 + std::string("X-A: a\0b\r\n", 10))}, Failure::nulInHeader},
        {"gzip", {"<", ">" + ok("\x1F\x8B\x08", k200 + "content-encoding : gzip\r\n")}, Failure::encoded},
        {"identity", {"<", ">" + ok("abc", k200 + "Content-Encoding: identity \r\n")}, Failure::none},
    };
    for (const auto& [name, steps, failure] : rows) {
        SCOPED_TRACE(name);
        ScriptedServer server({steps});
        TempFolder folder("pellumo-fetch");
        HttpFetcher fetcher(kSilenceMs, failure == Failure::deadline ? 1000 : 30000);
        EXPECT_EQ(save(fetcher, server.url("/icon.gif"), folder.prefix()), failure == Failure::none);
        EXPECT_TRUE(fetcher.failure() == failure && folder.files() == (failure == Failure::none));
    }
}

// Arguments past their limits fail at once, unsent: a text limit of 1000 bytes (1001 holds a
// receive), a request path of 241 bytes once encoded (240 go out), a saved path of 256 (255 fit).
TEST(HttpFetcher, RefusesArgumentsPastTheirLimitsUnsent) {
    ScriptedServer server({{"<", ">" + ok("fits"), "<GET /%CC", ">" + ok("fits"), "<", ">" + ok("abc")}});
    std::string path = "/";
    for (int i = 0; i < 39; ++i) path += "\xCC\xEC";  // 6 bytes each once encoded
    TempFolder folder("pellumo-fetch");
    const std::string prefix250 = folder.prefix(std::string(250 - folder.prefix().size(), 'p'));
    HttpFetcher fetcher(kSilenceMs);
    char page[1001] = "";
    EXPECT_FALSE(fetcher.download(server.url("/t").c_str(), nullptr, page, 1000) ||
                 fetcher.failure() != Failure::input);
    EXPECT_TRUE(fetcher.download(server.url("/t").c_str(), nullptr, page, 1001) && page == std::string("fits"));
    EXPECT_FALSE(take(fetcher, server.url(path + "abcdef")) || fetcher.failure() != Failure::input);
    EXPECT_EQ(take(fetcher, server.url(path + "abcde")), "fits");
    EXPECT_FALSE(save(fetcher, server.url("/abcdef"), prefix250) || fetcher.failure() != Failure::input ||
                 fetcher.savedPath()[0]);
    EXPECT_TRUE(save(fetcher, server.url("/abcde"), prefix250) && readFile(fetcher.savedPath()) == "abc");
}

}  // namespace
