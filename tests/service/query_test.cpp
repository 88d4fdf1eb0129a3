#include "service/query.h"

#include <gtest/gtest.h>

#include "service/gbk.h"

using namespace forecast;

TEST(PercentDecode, DecodesEscapesAndBlanksAndRejectsBrokenEscapes) {
    struct Row {
        const char* in;
        bool ok;
        const char* out;
    } rows[] = {
        {"a+b", true, "a b"},     {"%B1%b1", true, "\xB1\xB1"},
        {"100%25", true, "100%"}, {"", true, ""},
        {"%", false, ""},         {"%4", false, ""},
        {"a%zz", false, ""},      {"%G1", false, ""},
        {"%0g", false, ""},       {"%%41", false, ""},
    };
    for (const Row& r : rows) {
        std::string out;
        EXPECT_EQ(percentDecode(r.in, out), r.ok) << r.in;
        if (r.ok) {
            EXPECT_EQ(out, r.out) << r.in;
        }
    }
}

TEST(WellFormedGbk, AcceptsTextAndRejectsBrokenPairsAndControls) {
    EXPECT_TRUE(isWellFormedGbk("\xB1\xB1\xBE\xA9 Beijing"));  // 北京
    EXPECT_TRUE(isWellFormedGbk("\x81\x40"));
    EXPECT_FALSE(isWellFormedGbk("\xB1"));      // lead byte at the end
    EXPECT_FALSE(isWellFormedGbk("\xB1\x30"));  // trail byte below 0x40
    EXPECT_FALSE(isWellFormedGbk("\xB1\x7F"));
    EXPECT_FALSE(isWellFormedGbk("\x80"));
    EXPECT_FALSE(isWellFormedGbk("\xFF\xA1"));
    EXPECT_FALSE(isWellFormedGbk("a\nb"));
}

TEST(SearchQuery, FindsTheCityOfAWeatherSearch) {
    const std::string words = "%CC%EC%C6%F8%D4%A4%B1%A8";  // 天气预报
    struct Row {
        std::string query;
        QueryKind kind;
        const char* city;
    } rows[] = {
        // the program's own query for 北京, and with an empty city
        {"bs=" + words + "+%B1%B1%BE%A9&f=8&wd=" + words + "+%B1%B1%BE%A9", QueryKind::Weather, "\xB1\xB1\xBE\xA9"},
        {"bs=" + words + "+&f=8&wd=" + words + "+", QueryKind::Weather, ""},
        {"wd=" + words, QueryKind::Weather, ""},
        {"wd=" + words + "%20%20Lhasa+", QueryKind::Weather, "Lhasa"},
        {"wd=" + words + "+a&wd=x", QueryKind::Weather, "a"},
        {"wd=" + words + "abc", QueryKind::OtherSearch, ""},
        {"wd=news", QueryKind::OtherSearch, ""},
        {"bs=x&f=8", QueryKind::Malformed, ""},                  // no wd
        {"wd=" + words + "+%B1", QueryKind::Malformed, ""},      // not GBK
        {"wd=" + words + "+%0A", QueryKind::Malformed, ""},      // control byte
        {"bs=%E&wd=" + words + "+a", QueryKind::Malformed, ""},  // broken escape in any key
        {"", QueryKind::Malformed, ""},
    };
    for (const Row& r : rows) {
        SearchQuery q = parseSearchQuery(r.query);
        EXPECT_EQ(q.kind, r.kind) << r.query;
        EXPECT_EQ(q.city, r.city) << r.query;
    }
}

TEST(Gbk, ConvertsBothWaysAndRefusesWhatGbkLacks) {
    std::string gbk, utf8;
    ASSERT_TRUE(utf8ToGbk("\xE5\x8C\x97\xE4\xBA\xAC\xE2\x84\x83\xEF\xBD\x9E", gbk));  // 北京℃～
    EXPECT_EQ(gbk, "\xB1\xB1\xBE\xA9\xA1\xE6\xA1\xAB");
    ASSERT_TRUE(gbkToUtf8(gbk, utf8));
    EXPECT_EQ(utf8, "\xE5\x8C\x97\xE4\xBA\xAC\xE2\x84\x83\xEF\xBD\x9E");
    EXPECT_FALSE(utf8ToGbk("\xF0\x9F\x8C\xA7", gbk));  // a rain-cloud emoji
    EXPECT_FALSE(utf8ToGbk("\xE5\x8C", gbk));          // cut UTF-8
    EXPECT_FALSE(gbkToUtf8("\xB1", utf8));             // cut GBK
}
