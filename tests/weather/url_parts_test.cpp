#include "weather/url_parts.h"

#include "tests/weather/guarded_memory.h"
#include "tests/weather/random_text.h"
#include "weather/lead_byte.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

// 天气预报 and 北京, escaped as the forecast query carries them.
#define FORECAST_WORDS "%CC%EC%C6%F8%D4%A4%B1%A8"
#define CITY "%B1%B1%BE%A9"
constexpr char kSearchUrl[] = "http://search.example/s?bs=" FORECAST_WORDS "+" CITY "&f=8&wd=" FORECAST_WORDS "+" CITY;
constexpr char kSearchPath[] = "/s?bs=" FORECAST_WORDS "+" CITY "&f=8&wd=" FORECAST_WORDS "+" CITY;
constexpr char kSearchFileName[] =
    "sbs\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8\xB1\xB1\xBE\xA9"
    "f8wd\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8\xB1\xB1\xBE\xA9";

TEST(LeadByte, FollowsCodePage936) {
    // Everything below assumes the GBK lead-byte range; fail loudly if the locale is not zh_CN.
    EXPECT_FALSE(isLeadByte(0x7F));
    EXPECT_FALSE(isLeadByte(0x80));
    EXPECT_TRUE(isLeadByte(0x81));
    EXPECT_TRUE(isLeadByte(0xCC));
    EXPECT_TRUE(isLeadByte(0xFE));
    EXPECT_FALSE(isLeadByte(0xFF));
    EXPECT_FALSE(isLeadByte('A'));
}

struct ParseRow {
    const char* url;
    bool ok;
    int port;
    const char* host;
    const char* path;
    const char* fileName;
};

TEST(UrlParts, ParsesTable) {
    const ParseRow rows[] = {
        {"http://www.example.com/", true, 80, "www.example.com", "/index.html", "index.html"},
        {"http://h/dir/", true, 80, "h", "/dir/index.html", "index.html"},
        {"HTTP://Icons.Example/day/a_1.gif", true, 80, "Icons.Example", "/day/a_1.gif", "a1.gif"},
        {"FTP://files.example/pub/x.txt", true, 21, "files.example", "/pub/x.txt", "x.txt"},
        {"ftp://h/", true, 21, "h", "/index.html", "index.html"},
        {"gopher://h/x.gif", false, 65535, "", "", ""},
        {"gopher://h:70/x.gif", false, 65535, "", "", ""},
        {"http:/h/x.gif", false, 65535, "", "", ""},
        {" http://h/x.gif", false, 65535, "", "", ""},
        {"http://h:8080/x.gif", true, 8080, "h", "/x.gif", "x.gif"},
        {"http://h:70000/x.gif", true, 4464, "h", "/x.gif", "x.gif"},
        {"http://h:/x.gif", true, 0, "h", "/x.gif", "x.gif"},
        {"http://h: 81/x.gif", true, 81, "h", "/x.gif", "x.gif"},
        {"http://h:-1/x.gif", true, 65535, "h", "/x.gif", "x.gif"},
        {"http://h:123456789012345678901/x.gif", true, 27701, "h", "/x.gif", "x.gif"},
        {"http://h/a:81/x.gif", true, 81, "h", "/a:81/x.gif", "x.gif"},
        {"http://h", false, 80, "h", "", ""},
        {"http://h:8080", false, 8080, "h", "", ""},
        {"http://h?q=1", false, 80, "h", "", ""},
        {"http://h/-_+", false, 80, "h", "/-_+", ""},
        {"http://h/%CC%EC%C6%F8.gif", true, 80, "h", "/%CC%EC%C6%F8.gif", "\xCC\xEC\xC6\xF8.gif"},
        {"http://h/\xCC\xEC"
         "a.gif",
         true, 80, "h", "/%CC%ECa.gif", "a.gif"},
        {"http://h/a%41%42.gif", true, 80, "h", "/a%41%42.gif", "a4142.gif"},
        {"http://h/x.gif?to=a/b", true, 80, "h", "/x.gif?to=a/b", "b"},
        {"http://h?x/y.gif", true, 80, "h", "/y.gif", "y.gif"},
        {"http://h/\xCC", false, 80, "h", "/%CC%00", ""},
        {kSearchUrl, true, 80, "search.example", kSearchPath, kSearchFileName},
        {"http://search.example/s?bs=" FORECAST_WORDS "+&f=8&wd=" FORECAST_WORDS "+", true, 80, "search.example",
         "/s?bs=" FORECAST_WORDS "+&f=8&wd=" FORECAST_WORDS "+",
         "sbs\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8"
         "f8wd\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8"},
    };
    for (const ParseRow& row : rows) {
        SCOPED_TRACE(row.url);
        UrlParts parts;
        EXPECT_EQ(parts.parse(row.url), row.ok);
        EXPECT_EQ(parts.port(), row.port);
        EXPECT_STREQ(parts.host(), row.host);
        EXPECT_STREQ(parts.path(), row.path);
        EXPECT_STREQ(parts.fileName(), row.fileName);
    }
}

TEST(UrlParts, KeepsTheUrlAndAppendsIndexPage) {
    UrlParts parts;
    ASSERT_TRUE(parts.parse("http://h/a/"));
    EXPECT_STREQ(parts.url(), "http://h/a/index.html");
    ASSERT_TRUE(parts.parse("http://h/a/b.gif"));
    EXPECT_STREQ(parts.url(), "http://h/a/b.gif");
}

TEST(UrlParts, ClearsEveryFieldOnEachParse) {
    UrlParts parts;
    ASSERT_TRUE(parts.parse("http://long-host-name.example:8080/some/path/file.gif"));
    EXPECT_FALSE(parts.parse("http://h"));
    EXPECT_STREQ(parts.path(), "");
    EXPECT_STREQ(parts.fileName(), "");
    EXPECT_STREQ(parts.host(), "h");
    EXPECT_EQ(parts.port(), 80);
    EXPECT_FALSE(parts.parse(nullptr));
    EXPECT_STREQ(parts.url(), "");
    EXPECT_STREQ(parts.host(), "");
}

TEST(UrlParts, FreshObjectHoldsEmptyFields) {
    UrlParts parts;
    EXPECT_STREQ(parts.url(), "");
    EXPECT_STREQ(parts.host(), "");
    EXPECT_STREQ(parts.path(), "");
    EXPECT_STREQ(parts.fileName(), "");
}

// Each limit: the longest input that fits succeeds, one byte more fails.
TEST(UrlParts, RefusesWhatExceedsItsFields) {
    const std::string http = "http://";
    struct Row {
        std::string url;
        bool ok;
    };
    const std::string gbk40 = [] {
        std::string s;
        for (int i = 0; i < 40; ++i) s += "\xCC\xEC";
        return s;
    }();
    const Row rows[] = {
        {http + "h/" + std::string(255 - 11, 'a') + "/x", true},   // 255 bytes
        {http + "h/" + std::string(256 - 11, 'a') + "/x", false},  // 256 bytes
        {http + "h/" + std::string(245 - 10, 'a') + "/", true},
        {http + "h/" + std::string(246 - 10, 'a') + "/", false},
        {http + std::string(63, 'h') + "/x", true},
        {http + std::string(64, 'h') + "/x", false},
        // "/" + 40 escaped characters (240) + 18 bytes: 259 encoded bytes; one more is 260.
        {http + "h/" + gbk40 + std::string(18, 'a'), true},
        {http + "h/" + gbk40 + std::string(19, 'a'), false},
        {http + "h/" + std::string(63, 'f'), true},
        {http + "h/" + std::string(64, 'f'), false},
        {http + "h/x/" + std::string(100, '-') + std::string(63, 'f'), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url.size());
        Fenced<UrlParts> parts;
        EXPECT_EQ(parts->parse(row.url.c_str()), row.ok);
        EXPECT_TRUE(parts.guardsIntact());
        EXPECT_TRUE(terminatedWithin(parts->url(), UrlParts::kUrlSize));
        EXPECT_TRUE(terminatedWithin(parts->host(), UrlParts::kHostSize));
        EXPECT_TRUE(terminatedWithin(parts->path(), UrlParts::kPathSize));
        EXPECT_TRUE(terminatedWithin(parts->fileName(), UrlParts::kFileNameSize));
    }
}

TEST(UrlParts, ReadsNoFurtherThanItsUrlField) {
    GuardedText guarded;
    ASSERT_TRUE(guarded.ready());
    // 300 bytes without a terminator: parse must stop looking at byte 256.
    const std::string longUrl = "http://h/" + std::string(291, 'a');
    UrlParts parts;
    EXPECT_FALSE(parts.parse(guarded.placeUnterminated(longUrl.c_str(), 256)));
    const char* endings[] = {"http://h/\xCC",   "http://h/a%", "http://h/a%C",
                             "http://h/a%CC%E", "http://h:",   "http://h/",
                             "HTTP://",         "ftp:/",       "h"};
    for (const char* url : endings) {
        SCOPED_TRACE(url);
        UrlParts guardedParts;
        guardedParts.parse(guarded.place(url));
    }
}

struct CodingRow {
    const char* source;
    const char* coded;
};

template <size_t N>
void expectCoding(bool (*code)(const char*, char*, size_t), const CodingRow (&rows)[N]) {
    for (const CodingRow& row : rows) {
        SCOPED_TRACE(row.source);
        char out[64];
        ASSERT_TRUE(code(row.source, out, sizeof out));
        EXPECT_STREQ(out, row.coded);
    }
}

TEST(UrlParts, PercentEncodesDoubleByteCharactersOnly) {
    const CodingRow rows[] = {
        {"", ""},
        {"abc /%&+?#=.-_~", "abc /%&+?#=.-_~"},
        {"\xCC\xEC\xC6\xF8", "%CC%EC%C6%F8"},
        {"\xB1\xB1\xBE\xA9\xCA\xD0", "%B1%B1%BE%A9%CA%D0"},  // three characters, 18 bytes
        {"a\xCC\xEC b", "a%CC%EC b"},
        {"\x81\x40\xFE\xFE", "%81%40%FE%FE"},
        {"\x80\xFF", "\x80\xFF"},  // not lead bytes in GBK: copied as they are
        {"a\xCC", "a%CC%00"},      // a last lead byte pairs with the terminator
    };
    expectCoding(UrlParts::percentEncode, rows);
}

TEST(UrlParts, PercentEncodeNeedsRoomForItsWholeResult) {
    // One lead byte alone takes the documented worst case: 3 * 1 + 4 bytes.
    char exact[7];
    EXPECT_TRUE(UrlParts::percentEncode("\xCC", exact));
    EXPECT_EQ(std::string(exact, 7), std::string("%CC%00\0", 7));

    char shortBy1[6];
    std::memset(shortBy1, 'x', sizeof shortBy1);
    EXPECT_FALSE(UrlParts::percentEncode("\xCC\xEC", shortBy1));
    EXPECT_EQ(std::string(shortBy1, 6), "xxxxxx");
    EXPECT_FALSE(UrlParts::percentEncode(nullptr, shortBy1));
    EXPECT_EQ(std::string(shortBy1, 6), "xxxxxx");
    EXPECT_FALSE(UrlParts::percentEncode("a", nullptr, 10));

    // The forecast query encodes a city of at most 15 bytes into 49.
    char city[49];
    EXPECT_TRUE(UrlParts::percentEncode("\xB1\xB1\xBE\xA9\xB1\xB1\xBE\xA9\xB1\xB1\xBE\xA9\xB1\xB1\xBE", city));
    EXPECT_EQ(std::strlen(city), 48u);
}

TEST(UrlParts, PercentDecodesAndFiltersFileNames) {
    const CodingRow rows[] = {
        {"%CC%EC%C6%F8", "\xCC\xEC\xC6\xF8"},
        {"%cc%ec", "\xCC\xEC"},
        {"%41%42", "4142"},
        {"-_+?=&", ""},
        {"\xCC\xEC"
         "ab.gif",
         "ab.gif"},
        {"%CC%EC%C6",
         "\xCC\xEC"
         "C6"},
        {"%GG%41", "GG41"},
        {"%80%41x", "8041x"},
        {"%81%40", "\x81\x40"},
        {"a%", "a"},
        {"%%CC%EC", "\xCC\xEC"},
        {"%CC%00tail", "\xCC"},  // the second byte is a zero: the name ends there
    };
    expectCoding(UrlParts::percentDecode, rows);
}

TEST(UrlParts, PercentDecodeNeedsRoomForItsWholeResult) {
    char out[4];
    std::memset(out, 'x', sizeof out);
    EXPECT_FALSE(UrlParts::percentDecode("abcd", out));
    EXPECT_EQ(std::string(out, 4), "xxxx");
    EXPECT_TRUE(UrlParts::percentDecode("ab-c", out));
    EXPECT_STREQ(out, "abc");
    EXPECT_FALSE(UrlParts::percentDecode(nullptr, out));
}

TEST(UrlParts, HexHelpers) {
    const struct {
        char c;
        int value;
    } digits[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15},  {'G', 0},
                  {'g', 0}, {'Z', 3}, {'z', 3},  {'%', 0},  {' ', 0},  {'\xCC', 0}};
    for (const auto& row : digits) EXPECT_EQ(UrlParts::hexDigitValue(row.c), row.value) << row.c;

    const struct {
        unsigned char first, second;
        const char* hex;
    } pairs[] = {{0xCC, 0xEC, "CCEC"}, {0x00, 0x0F, "000F"}, {0xAB, 0x10, "AB10"}, {0xFF, 0x9A, "FF9A"}};
    for (const auto& row : pairs) {
        char out[4];
        UrlParts::hexPair(row.first, row.second, out);
        EXPECT_EQ(std::string(out, 4), row.hex);
    }

    for (char c : std::string("azAZ09-._")) EXPECT_TRUE(UrlParts::isHostChar(c)) << c;
    for (char c : std::string(":/@ ?#%+\xCC\x80")) EXPECT_FALSE(UrlParts::isHostChar(c)) << c;
    EXPECT_FALSE(UrlParts::isHostChar('\0'));
}

// Many malformed URLs built from the pieces that matter to the parser; whatever they
// give, every field stays terminated within itself, nothing around the object changes, and
// nothing is read past the input's terminator.
TEST(UrlParts, SurvivesRandomMalformedUrls) {
    const RandomText malformed{
        {"/", "/", ":", ":8080", ":70000", "://", "%", "%C", "%CC",   "%41",  "%00",  "\xCC",    "\xEC",
         "a", ".", "?", "&",     "-",      "_",   "+", " ",  "index", "\xFF", "\x80", "http://", "ftp://"},
        "ah/%\xCC",
        40,
        16,
        300,
        1000};
    const char* schemes[] = {"http://", "HTTP://", "ftp://"};
    std::mt19937 random(20240229);
    GuardedText guarded;
    ASSERT_TRUE(guarded.ready());
    for (int round = 0; round < 20000; ++round) {
        std::string url = random() % 8 ? schemes[random() % 3] : "";
        url += malformed(random);
        if (url.size() > 1000) url.resize(1000);
        SCOPED_TRACE(round);

        Fenced<UrlParts> parts;
        const bool ok = parts->parse(guarded.place(url.data(), url.size()));
        ASSERT_TRUE(parts.guardsIntact());
        ASSERT_TRUE(terminatedWithin(parts->url(), UrlParts::kUrlSize));
        ASSERT_TRUE(terminatedWithin(parts->host(), UrlParts::kHostSize));
        ASSERT_TRUE(terminatedWithin(parts->path(), UrlParts::kPathSize));
        ASSERT_TRUE(terminatedWithin(parts->fileName(), UrlParts::kFileNameSize));
        ASSERT_LE(parts->port(), 65535);
        if (ok) {
            ASSERT_NE(parts->fileName()[0], '\0');
            ASSERT_EQ(parts->path()[0], '/');
            for (const char* h = parts->host(); *h; ++h) ASSERT_TRUE(UrlParts::isHostChar(*h));
        }

        char encoded[64 * 3 + 4];
        char decoded[64 + 1];
        const std::string piece = url.substr(0, 64);
        std::memset(encoded, 0x5A, sizeof encoded);
        ASSERT_TRUE(UrlParts::percentEncode(guarded.place(piece.data(), piece.size()), encoded,
                                            3 * std::strlen(piece.c_str()) + 4));
        ASSERT_TRUE(UrlParts::percentDecode(guarded.place(piece.data(), piece.size()), decoded));
        ASSERT_LE(std::strlen(decoded), std::strlen(piece.c_str()));
    }
}

}  // namespace
