// The text side of a download (what holds for any input is the fuzzers'), then the fetcher on 127.0.0.1.
#include "net/body_framing.h"
#include "net/chunked_decoder.h"
#include "net/http_fetcher.h"
#include "net/http_head.h"
#include "net/url_parts.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using namespace test_support;

TEST(UrlParts, SplitsUrlsAndCodesTheirDoubleByteCharacters) {
    using Fields = std::tuple<bool, int, std::string, std::string, std::string>;  // ok, port, host, path, file name
    const std::pair<const char*, Fields> rows[] = {
        {"HTTP://Icons.Example/day/a_1.gif", {true, 80, "Icons.Example", "/day/a_1.gif", "a1.gif"}},
        {"http://h", {false, 80, "h", "", ""}},  // after a full parse: every field is cleared
        {"FTP://files.example/pub/x.txt", {true, 21, "files.example", "/pub/x.txt", "x.txt"}},
        {"http://www.example.com/", {true, 80, "www.example.com", "/index.html", "index.html"}},
        {"gopher://h/x.gif", {false, 65535, "", "", ""}},
        {"http://h:70000/x.gif", {true, 4464, "h", "/x.gif", "x.gif"}},
        {"http://h:/x.gif", {true, 0, "h", "/x.gif", "x.gif"}},
        {"http://h/-_+ /%&?#=~", {false, 80, "h", "/-_+ /%&?#=~", ""}},  // single bytes pass, and decode to nothing
        {"http://h/\xCC\xECx.gif\xC6\xF8", {true, 80, "h", "/%CC%ECx.gif%C6%F8", "x.gif"}},  // raw ones dropped
        {"http://h/x%CC%EC", {true, 80, "h", "/x%CC%EC", "x\xCC\xEC"}},                      // a coded one at the end
    };
    UrlParts parts;  // one object throughout, so that a field left over from a row shows
    for (const auto& [url, fields] : rows) {
        const bool ok = parts.parse(url);
        EXPECT_EQ(Fields(ok, parts.port(), parts.host(), parts.path(), parts.fileName()), fields) << url;
    }
}

// Each field's limit: the longest input that fits passes, one byte more fails cleanly.
TEST(UrlParts, RefusesWhatExceedsItsFields) {
    std::string gbk40;
    for (int i = 0; i < 40; ++i) gbk40 += "\xCC\xEC";
    const std::tuple<std::string, size_t, std::string> rows[] = {
        // before, the most that fits, after
        {"http://h/", 244, "/x"},       // a URL of 255 bytes
        {"http://h/", 235, "/"},        // 255 with "index.html"
        {"http://", 63, "/x"},          // the host
        {"http://h/" + gbk40, 18, ""},  // a path of 259 bytes once encoded
        {"http://h/", 63, ""},          // the file name
    };
    UrlParts parts;
    for (const auto& [before, fits, after] : rows) {
        EXPECT_TRUE(parts.parse(atPageEnd(before + std::string(fits, 'a') + after))) << fits;
        EXPECT_FALSE(parts.parse(atPageEnd(before + std::string(fits + 1, 'a') + after))) << fits;
    }
    char room[8];
    EXPECT_FALSE(parts.parse(nullptr) || UrlParts::percentEncode(nullptr, room) ||
                 UrlParts::percentDecode(nullptr, room));
}

TEST(HttpResponseHead, ReadsItsFields) {
    using Fields = std::tuple<int, int, std::string, std::string>;  // status, length, type, location
    const std::pair<std::string, Fields> rows[] = {
        {"HTTP/1.1 404 Not Found\r\nX-Y: http/ 200\r\n", {404, 0, "", ""}},  // the status line only
        {"X-Y: http/ 200\r\nContent-Length: abc\r\n", {-1, -1, "", ""}},
        {"HTTP/1.1 302 Found\r\nLocation: http://O.X/A B\r\nContent-Length: 9\r\n", {302, 9, "", "http://o.x/ab"}},
        {"http/1.1 206 P\r\nContent-Type:  text/html; charset=GB2312\r\n", {206, 0, "text/html;charset=gb2312", ""}},
        {"HTTP/1.1 200 OK\r\nContent-Length: -99999999999\r\n", {200, INT_MIN, "", ""}},
        {"HTTP/1.1 200 OK\r\nX-Content-Type: " + std::string(70, 'a') + "\r\n", {200, 0, std::string(64, 'a'), ""}},
        {"HTTP/1.1 200 OK\r\nX: " + std::string(983, 'p') + "\r\nContent-Length: 123", {200, 12, "", ""}},  // 1023 read
    };
    HttpResponseHead head;  // one object throughout, so that a field left over from a row shows
    for (const auto& [header, fields] : rows) {
        EXPECT_TRUE(head.parse(header.c_str()));
        EXPECT_EQ(Fields(head.status(), head.contentLength(), head.contentType(), head.location()), fields) << header;
    }
    EXPECT_FALSE(head.parse("") || head.parse(nullptr));
}

TEST(BodyFraming, ReadsHowTheBodyEnds) {
    using K = BodyFraming::Kind;
    const std::tuple<const char*, K, uint32_t, bool> rows[] = {
        // header, kind, length, keep-alive
        {"HTTP/1.1 200 OK\r\ncontent-length:  4294967295 \r\n\r\n", K::length, 4294967295u, true},
        {"HTTP/1.1 200 OK\nContent-Length: 3\nContent-Length: 3\n\n", K::length, 3, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n", K::chunked, 0, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n", K::chunked, 0, false},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", K::length, 5, false},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nConnection: Keep-Alive\r\n\r\n", K::length, 5, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive, close\r\n\r\n", K::length, 5, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\n", K::untilClose, 0, false},  // not plain digits
        {"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n\r\n", K::untilClose, 0, false},
    };
    for (const auto& [header, kind, length, keepAlive] : rows) {
        BodyFraming framing;
        framing.parse(header);
        EXPECT_TRUE(framing.kind == kind && framing.length == length && framing.keepAlive == keepAlive) << header;
    }
}

// A size line's limit counts its extension from the ';' on, and never the line end.
TEST(ChunkedDecoder, LimitsTheSizeLine) {
    const size_t limit = ChunkedDecoder::kMaxLineLength;
    for (const size_t over : {0, 1}) {  // leading zeros keep the size small
        for (std::string text : {std::string(limit - 1 + over, '0') + "5\r\nWiki!\r\n",
                                 "5;" + std::string(limit - 2 + over, 'e') + "\r\nWiki!\r\n",
                                 "5;" + std::string(limit - 2 + over, 'e') + "\nWiki!\r\n"}) {
            ChunkedDecoder limited;
            limited.decode(&text[0], text.size());
            EXPECT_EQ(limited.failed(), over == 1) << text.substr(0, 2) << text.size();
        }
    }
}

using Failure = HttpFetcher::Failure;
using Text = std::optional<std::string>;  // what a download took; none when it failed

constexpr char kMarker[] = "<table cellspacing=\"0\" cellpadding=\"0\" class=\"al_wt\">";
constexpr char kFile[] = "file mode";  // in place of a marker: the body saved to a file
constexpr int kSilenceMs = 2000;       // room for a busy scheduler, well below the server's hold
const std::string k200 = "HTTP/1.1 200 OK\r\n", kChunked = k200 + "Transfer-Encoding: chunked\r\n";
const std::string kPad = "X-Pad: " + std::string(16337, 'p');  // a head of 16 KB after k200, before a length of 1 digit

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

// A download, then a second one: over the same connection when the first leaves it in step.
TEST(HttpFetcher, TakesBodiesAndReusesTheConnectionOnlyWhenInStep) {
    const std::string request =  // the server closes instead of answering any other request
        "<GET /%CC%EC.html?q=1&f=8 HTTP/1.1\r\nHost:127.0.0.1\r\nAccept:*/*\r\nUser-Agent:Mozilla/4.0 "
        "(compatible; MSIE 6.0; Windows NT 5.1)\r\nConnection:Keep-Alive\r\n\r\n";
    // The marker's first 20 bytes come before a pause longer than the fetcher's own second of waiting.
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

// Each fault of a server fails the download with the failure that names it and leaves no file.
TEST(HttpFetcher, FailsOnEachFaultAndLeavesNoFile) {
    const std::string whole = ok(filler(5000, true)), coded = chunked(filler(5000, true), 1000), open = k200 + "\r\n";
    Script trickle{"<", ">" + open};
    for (int i = 0; i < 10; ++i) trickle.insert(trickle.end(), {"~150", ">x"});
    trickle.push_back("|");  // ends after 1.5 s: a deadline later than the 1 s asked for would take it whole
    const std::tuple<const char*, Script, Failure> rows[] = {
        {"stalls mid-body", {"<", ">" + whole.substr(0, 2000)}, Failure::silence},  // before the server's hold ends
        {"closes mid-body", {"<", ">" + whole.substr(0, 2000), "|"}, Failure::closed},
        {"closes before the last chunk", {"<", ">" + coded.substr(0, coded.size() - 5), "|"}, Failure::closed},
        {"broken chunk size", {"<", ">" + kChunked + "\r\nxyz\r\n"}, Failure::body},
        {"endless trickle", trickle, Failure::deadline},  // never silent for long
        {"just within the size cap", {"<", ">" + open + filler(1 << 20, true), "|"}, Failure::none},
        {"one byte over the size cap", {"<", ">" + open + filler((1 << 20) + 1, true), "|"}, Failure::tooLarge},
        {"head of 16 KB + 1", {"<", ">" + ok("x", k200 + kPad + "p\r\n")}, Failure::header},
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
        EXPECT_TRUE(fetcher.failure() == failure &&
                    std::filesystem::is_empty(folder.path) == (failure != Failure::none));
    }
}

// One kept connection: a chunked body, a head of just 16 KB inside a short deadline, a GBK name ending
// in 0x5C (乗), a file on disk already; another host is not kept. Arguments past their limits go unsent.
TEST(HttpFetcher, SavesFilesOverOneKeptConnectionPerHostAndRefusesArgumentsPastTheirLimits) {
    const std::string day = filler(5000, true), night = filler(7, true);
    ScriptedServer server({{"<", ">" + chunked(day, 700), "<", ">" + ok(night, k200 + kPad + "\r\n")}});
    ScriptedServer other({{"<", ">" + ok("other")},
                          {"<", ">" + ok("by name")},
                          {"<", ">" + ok("fits"), "<GET /%CC", ">" + ok("fits"), "<", ">" + ok("abc")}});
    TempFolder folder("pellumo-fetch");
    HttpFetcher fetcher(kSilenceMs, 2000);
    ASSERT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(readFile(fetcher.savedPath()), day);
    ASSERT_TRUE(save(fetcher, server.url("/night/%81%5C.gif"), folder.prefix("night")));
    EXPECT_EQ(readFile(folder.prefix("night\x81\x5C.gif")), night);
    EXPECT_TRUE(save(fetcher, server.url("/day/rain.gif"), folder.prefix("day")));
    EXPECT_EQ(fetcher.savedPath(), folder.prefix("dayrain.gif"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path), {}), 2);
    EXPECT_EQ(take(fetcher, other.url("/x.txt")), "other");
    EXPECT_EQ(take(fetcher, other.url("/x.txt").replace(7, 9, "localhost")), "by name");

    std::string path = "/";
    for (int i = 0; i < 39; ++i) path += "\xCC\xEC";  // 6 bytes each once encoded
    const std::string prefix250 = folder.prefix(std::string(250 - folder.prefix().size(), 'p'));
    char page[1001] = "";
    EXPECT_FALSE(fetcher.download(other.url("/t").c_str(), nullptr, page, 1000) || fetcher.failure() != Failure::input);
    EXPECT_TRUE(fetcher.download(other.url("/t").c_str(), nullptr, page, 1001) && page == std::string("fits"));
    EXPECT_FALSE(take(fetcher, other.url(path + "abcdef")) || fetcher.failure() != Failure::input);
    EXPECT_EQ(take(fetcher, other.url(path + "abcde")), "fits");
    EXPECT_FALSE(save(fetcher, other.url("/abcdef"), prefix250) || fetcher.failure() != Failure::input ||
                 fetcher.savedPath()[0]);
    EXPECT_TRUE(save(fetcher, other.url("/abcde"), prefix250) && readFile(fetcher.savedPath()) == "abc");
}

}  // namespace
