// The text side of a download, without sockets: URL splitting and GBK percent coding, the
// response head, body framing and the chunked decoder. Random input, and the promises that
// hold for every input (a coder's exact room, a URL read no further than its 256th byte, cuts
// anywhere), are the fuzzers' part.
#include "net/body_framing.h"
#include "net/chunked_decoder.h"
#include "net/http_head.h"
#include "net/url_parts.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

namespace {

using test_support::atPageEnd;

// The forecast search for 天气预报 北京 in GBK: the whole URL relies on code page 936.
#define WORDS "%CC%EC%C6%F8%D4%A4%B1%A8+%B1%B1%BE%A9"
#define RAW_WORDS "\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8\xB1\xB1\xBE\xA9"

TEST(UrlParts, SplitsUrlsAndCodesTheirDoubleByteCharacters) {
    using Fields = std::tuple<bool, int, std::string, std::string, std::string>;  // ok, port, host, path, file name
    const std::pair<const char*, Fields> rows[] = {
        {"http://search.example/s?bs=" WORDS "&f=8&wd=" WORDS,
         {true, 80, "search.example", "/s?bs=" WORDS "&f=8&wd=" WORDS, "sbs" RAW_WORDS "f8wd" RAW_WORDS}},
        {"http://h", {false, 80, "h", "", ""}},  // after a full parse: every field is cleared
        {"HTTP://Icons.Example/day/a_1.gif", {true, 80, "Icons.Example", "/day/a_1.gif", "a1.gif"}},
        {"FTP://files.example/pub/x.txt", {true, 21, "files.example", "/pub/x.txt", "x.txt"}},
        {"http://www.example.com/", {true, 80, "www.example.com", "/index.html", "index.html"}},
        {"gopher://h/x.gif", {false, 65535, "", "", ""}},
        {"http://h:8080/x.gif", {true, 8080, "h", "/x.gif", "x.gif"}},
        {"http://h:70000/x.gif", {true, 4464, "h", "/x.gif", "x.gif"}},
        {"http://h:/x.gif", {true, 0, "h", "/x.gif", "x.gif"}},
        {"http://h/-_+ /%&?#=~", {false, 80, "h", "/-_+ /%&?#=~", ""}},  // single bytes pass, and decode to nothing
        {"http://h/\xCC\xECx.gif\xC6\xF8", {true, 80, "h", "/%CC%ECx.gif%C6%F8", "x.gif"}},  // raw ones dropped
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
        // 1024 bytes: the 1023rd is the last one read.
        {"HTTP/1.1 200 OK\r\nX: " + std::string(983, 'p') + "\r\nContent-Length: 123", {200, 12, "", ""}},
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

// A size line's limit counts its extension from the ';' on, and never the line end. Decoding
// itself, extensions, bare line feeds, trailers and what follows the body, is the fuzzer's.
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

}  // namespace
