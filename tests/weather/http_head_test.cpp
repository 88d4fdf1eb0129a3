#include "weather/http_head.h"

#include "tests/weather/guarded_memory.h"
#include "tests/weather/random_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

struct HeadRow {
    const char* header;
    int status;
    int contentLength;
    const char* contentType;
    const char* location;
};

TEST(HttpResponseHead, ParsesTable) {
    const HeadRow rows[] = {
        {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", 200, 0, "text/html", ""},
        {"HTTP/1.0 200 OK\r\n\r\n", 200, 0, "", ""},
        {"http/1.1 206 Partial Content\r\nContent-Length: 100\r\n\r\n", 206, 100, "", ""},
        {"HTTP/1.1 302 Found\r\nLocation: http://Other.Example/A B.html\r\n\r\n", 302, 0, "",
         "http://other.example/ab.html"},
        {"HTTP/1.1 200 OK\r\nContent-Type:  text/html; charset=GB2312\r\n\r\n", 200, 0, "text/html;charset=gb2312", ""},
        {"Server: x\r\nContent-Length: 5\r\n\r\n", -1, 5, "", ""},
        {"HTTP/1.1", -1, 0, "", ""},
        {"HTTP/1.1 abc\r\n\r\n", -1, 0, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", 200, -1, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n", 200, -1, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 010\r\n\r\n", 200, 8, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0x1F\r\n\r\n", 200, 31, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", 200, -5, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n", 200, INT_MAX, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Length: -99999999999\r\n\r\n", 200, INT_MIN, "", ""},
        {"HTTP/1.1 0x1F OK\r\n\r\n", 31, 0, "", ""},
        {"HTTP/1.1 200 OK\r\nX-Content-Type: a/b\r\n\r\n", 200, 0, "a/b", ""},
        {"HTTP/1.1 200 OK\r\nContent-Type: "
         "a123456789b123456789c123456789d123456789e123456789f123456789g123456789\r\n\r\n",
         200, 0, "a123456789b123456789c123456789d123456789e123456789f123456789g123", ""},
        {"HTTP/1.1 200 OK\r\nLocation: a b c d e f g h i j k l m n o p q r s t u v w x y z 0 1 2 3 4 5 6 7 8 9\r\n",
         200, 0, "", "abcdefghijklmnopqrstuvwxyz012345"},
    };
    for (const HeadRow& row : rows) {
        SCOPED_TRACE(row.header);
        HttpResponseHead head;
        EXPECT_TRUE(head.parse(row.header));
        EXPECT_EQ(head.status(), row.status);
        EXPECT_EQ(head.contentLength(), row.contentLength);
        EXPECT_STREQ(head.contentType(), row.contentType);
        EXPECT_STREQ(head.location(), row.location);
    }
}

TEST(HttpResponseHead, EmptyHeaderChangesNothing) {
    HttpResponseHead head;
    EXPECT_FALSE(head.parse(""));
    EXPECT_FALSE(head.parse(nullptr));
    EXPECT_EQ(head.status(), 0);
    ASSERT_TRUE(head.parse("HTTP/1.1 404 Not Found\r\nContent-Type: a\r\n\r\n"));
    EXPECT_FALSE(head.parse(""));
    EXPECT_EQ(head.status(), 404);
    EXPECT_STREQ(head.contentType(), "a");
}

TEST(HttpResponseHead, ReadsOnlyTheFirst1023Bytes) {
    const std::string padding = "X-Pad: " + std::string(1100, 'p') + "\r\n";
    const std::string header = "HTTP/1.1 200 OK\r\n" + padding + "Content-Length: 5\r\n\r\n";
    GuardedText guarded;
    ASSERT_TRUE(guarded.ready());
    HttpResponseHead head;
    ASSERT_TRUE(head.parse(guarded.place(header.c_str())));
    EXPECT_EQ(head.status(), 200);
    EXPECT_EQ(head.contentLength(), 0);
}

struct FramingRow {
    const char* header;
    BodyFraming::Kind kind;
    uint32_t length;
    bool keepAlive;
};

TEST(BodyFraming, ReadsHeaderLines) {
    using K = BodyFraming::Kind;
    const FramingRow rows[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n\r\n", K::length, 12, true},
        {"HTTP/1.1 200 OK\r\ncontent-length:0\r\n\r\n", K::length, 0, true},
        {"HTTP/1.1 200 OK\r\nContent-Length:   7  \r\n\r\n", K::length, 7, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n", K::length, 4294967295u, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", K::length, 5, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", K::chunked, 0, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n", K::chunked, 0, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n", K::chunked, 0, false},
        {"HTTP/1.1 200 OK\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n", K::length, 5, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive, Close\r\n\r\n", K::length, 5, false},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", K::length, 5, false},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nConnection: Keep-Alive\r\n\r\n", K::length, 5, true},
        {"HTTP/2.0 200 OK\r\nContent-Length: 5\r\n\r\n", K::length, 5, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0x10\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5 5\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: x\r\nContent-Length: 6\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\nX-Content-Length: 5\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\n Content-Length: 5\r\n\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\r\n\r\nContent-Length: 5\r\n", K::untilClose, 0, false},
        {"HTTP/1.1 200 OK\nContent-Length: 3\n\n", K::length, 3, true},
        {"HTTP/1.1 200 OK\r\nContent-Length: 3", K::length, 3, true},
        {"", K::untilClose, 0, false},
    };
    for (const FramingRow& row : rows) {
        SCOPED_TRACE(row.header);
        BodyFraming framing;
        framing.parse(row.header);
        EXPECT_EQ(framing.kind, row.kind);
        EXPECT_EQ(framing.length, row.length);
        EXPECT_EQ(framing.keepAlive, row.keepAlive);
    }
    BodyFraming framing;
    framing.parse(nullptr);
    EXPECT_EQ(framing.kind, K::untilClose);
}

// Decodes `encoded` cut into pieces at the given offsets.
std::string decodeInPieces(ChunkedDecoder& decoder, const std::string& encoded, std::initializer_list<size_t> cuts) {
    std::string body;
    size_t start = 0;
    std::vector<size_t> ends(cuts);
    ends.push_back(encoded.size());
    for (size_t end : ends) {
        std::string piece = encoded.substr(start, end - start);
        body.append(piece.data(), decoder.decode(&piece[0], piece.size()));
        start = end;
    }
    return body;
}

TEST(ChunkedDecoder, DecodesAtEveryCutPoint) {
    const std::string encoded =
        "4\r\nWiki\r\n5;name=value\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n"
        "0\r\nTrailer: x\r\n\r\n";
    const std::string body = "Wikipedia in\r\n\r\nchunks.";
    for (size_t cut = 0; cut <= encoded.size(); ++cut) {
        SCOPED_TRACE(cut);
        ChunkedDecoder decoder;
        EXPECT_EQ(decodeInPieces(decoder, encoded, {cut}), body);
        EXPECT_TRUE(decoder.done());
        EXPECT_EQ(decoder.excess(), 0u);
    }
    ChunkedDecoder byteByByte;
    std::string decoded;
    for (char c : encoded) {
        char one = c;
        decoded.append(&one, byteByByte.decode(&one, 1));
    }
    EXPECT_EQ(decoded, body);
    EXPECT_TRUE(byteByByte.done());
}

TEST(ChunkedDecoder, CountsBytesAfterTheEnd) {
    const std::string encoded = "3\r\nabc\r\n0\r\n\r\nHTTP/1.1";
    for (size_t cut = 0; cut <= encoded.size(); ++cut) {
        ChunkedDecoder decoder;
        EXPECT_EQ(decodeInPieces(decoder, encoded, {cut}), "abc");
        EXPECT_TRUE(decoder.done());
        EXPECT_EQ(decoder.excess(), 8u) << cut;
    }
}

struct ChunkRow {
    const char* encoded;
    const char* body;  // what came out before the end or the fault
    bool done;
    bool failed;
};

TEST(ChunkedDecoder, AcceptsAndRefusesTable) {
    const std::string longExtension = "1;" + std::string(ChunkedDecoder::kMaxLineLength, 'e') + "\r\n";
    const std::string longTrailer = "0\r\nX: " + std::string(ChunkedDecoder::kMaxLineLength, 't') + "\r\n\r\n";
    const ChunkRow rows[] = {
        {"3\nabc\n0\n\n", "abc", true, false},
        {"a\r\n0123456789\r\nA\r\n0123456789\r\n0\r\n\r\n", "01234567890123456789", true, false},
        {"0000000000005\r\nhello\r\n0\r\n\r\n", "hello", true, false},
        {"5 \r\nhello\r\n0\r\n\r\n", "hello", true, false},
        {"4\r\nWiki\r\n", "Wiki", false, false},
        {"FFFFFFFF\r\nabc", "abc", false, false},
        {"zz\r\n", "", false, true},
        {"\r\n", "", false, true},
        {";x\r\n", "", false, true},
        {"3\r\nabcX", "abc", false, true},
        {"3\rX", "", false, true},
        {"100000000\r\n", "", false, true},
        {"-1\r\n", "", false, true},
        {longExtension.c_str(), "", false, true},
        {longTrailer.c_str(), "", false, true},
    };
    for (const ChunkRow& row : rows) {
        SCOPED_TRACE(std::string(row.encoded).substr(0, 40));
        std::string encoded = row.encoded;
        ChunkedDecoder decoder;
        const size_t count = decoder.decode(&encoded[0], encoded.size());
        EXPECT_EQ(encoded.substr(0, count), row.body);
        EXPECT_EQ(decoder.done(), row.done);
        EXPECT_EQ(decoder.failed(), row.failed);
    }
}

// Malformed headers and chunked bodies from the pieces that matter to the parsers: every
// text field stays terminated within itself, nothing around the objects changes, nothing
// is read past the input, and decoding never produces more than it was given.
TEST(HttpParsers, SurviveRandomMalformedInput) {
    const RandomText malformed{{"HTTP/1.1 ",
                                "http/",
                                "200",
                                " ",
                                "\r\n",
                                "\n",
                                "\r",
                                ":",
                                "content-type:",
                                "location:",
                                "content-length:",
                                "transfer-encoding:",
                                "chunked",
                                "connection:",
                                "close",
                                "0x",
                                "-",
                                "99999999999",
                                ";",
                                ",",
                                "\xCC",
                                "\x7F"},
                               " a\r",
                               60,
                               12,
                               400,
                               2000};
    std::mt19937 random(77);
    GuardedText guarded;
    ASSERT_TRUE(guarded.ready());
    for (int round = 0; round < 5000; ++round) {
        const std::string text = malformed(random);
        SCOPED_TRACE(round);

        Fenced<HttpResponseHead> head;
        head->parse(guarded.place(text.data(), text.size()));
        ASSERT_TRUE(head.guardsIntact());
        ASSERT_LE(std::strlen(head->contentType()), 64u);
        ASSERT_LE(std::strlen(head->location()), 64u);

        Fenced<BodyFraming> framing;
        framing->parse(guarded.place(text.data(), text.size()));
        ASSERT_TRUE(framing.guardsIntact());
        ASSERT_FALSE(framing->kind == BodyFraming::Kind::untilClose && framing->keepAlive);

        Fenced<ChunkedDecoder> decoder;
        std::string body = text;
        size_t start = 0;
        while (start < body.size()) {
            const size_t length = std::min<size_t>(body.size() - start, 1 + random() % 50);
            ASSERT_LE(decoder->decode(&body[start], length), length);
            start += length;
        }
        ASSERT_TRUE(decoder.guardsIntact());
    }
}

}  // namespace
