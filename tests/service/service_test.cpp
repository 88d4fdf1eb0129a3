#include "service/service.h"

#include <gtest/gtest.h>

#include "service/conditions.h"
#include "service/demo.h"
#include "service/icons.h"
#include "service/page.h"
#include "service/query.h"

using namespace forecast;

namespace {

const std::string kWords = "%CC%EC%C6%F8%D4%A4%B1%A8";  // 天气预报
constexpr int kToday = 20000;

struct ServiceTest : ::testing::Test {
    ServiceConfig config{"127.0.0.1:8642", "\xC9\xCF\xBA\xA3"};  // default city 上海
    Dataset data = makeDemoDataset(kToday - 1, 5);

    Reply get(const std::string& target, const char* method = "GET") {
        return handleRequest(config, data, method, target, kToday);
    }
};

}  // namespace

TEST_F(ServiceTest, AnswersTheProgramsQueryWithTheForecastPage) {
    Reply r = get("/s?bs=" + kWords + "+%B1%B1%BE%A9&f=8&wd=" + kWords + "+%B1%B1%BE%A9");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.contentType, "text/html; charset=gbk");
    EXPECT_NE(r.cacheControl.find("max-age="), std::string::npos);
    EXPECT_NE(r.body.find(kTableMarker), std::string::npos);
    EXPECT_NE(r.body.find("\xB1\xB1\xBE\xA9"), std::string::npos);
    EXPECT_FALSE(r.closeAfter);
    EXPECT_EQ(get("/s?wd=" + kWords + "+%B1%B1%BE%A9", "HEAD").body, r.body);  // the edge drops it
}

TEST_F(ServiceTest, ServesTheDefaultCityForNoCityAndNoTableForUnknownOrStale) {
    Reply none = get("/s?bs=" + kWords + "+&f=8&wd=" + kWords + "+");
    EXPECT_NE(none.body.find("<h3>\xCC\xEC\xC6\xF8\xD4\xA4\xB1\xA8\xA3\xBA\xC9\xCF\xBA\xA3"), std::string::npos);

    const std::string unknown = "/s?wd=" + kWords + "+Atlantis";
    const std::string other = "/s?wd=news";
    for (const std::string& target : {unknown, other}) {
        Reply r = get(target);
        EXPECT_EQ(r.status, 200) << target;
        EXPECT_EQ(r.body.find("al_wt"), std::string::npos) << target;
        EXPECT_TRUE(r.closeAfter) << target;
    }
    // Data that ends yesterday, or the day after tomorrow is missing: no stale forecast.
    data = makeDemoDataset(kToday - 5, 5);
    EXPECT_EQ(get("/s?wd=" + kWords + "+%B1%B1%BE%A9").body.find("al_wt"), std::string::npos);
    data = makeDemoDataset(kToday, 2);
    EXPECT_EQ(get("/s?wd=" + kWords + "+%B1%B1%BE%A9").body.find("al_wt"), std::string::npos);
}

TEST_F(ServiceTest, BadRequestsGetTheirStatus) {
    struct Row {
        const char* method;
        std::string target;
        int status;
    } rows[] = {
        {"POST", "/s?wd=x", 405},
        {"DELETE", "/vip/baidu/imag/day/qing.gif", 405},
        {"GET", "/s?wd=" + std::string(kMaxTarget, 'a'), 414},
        {"GET", "/s?wd=" + kWords + "+%B1%B1%BE%A", 400},
        {"GET", "/s?wd=" + kWords + "+%B1", 400},
        {"GET", "/s?bs=x&f=8", 400},
        {"GET", "/s", 400},
        {"GET", "/", 404},
        {"GET", "/s/", 404},
        {"GET", "/S?wd=x", 404},
    };
    for (const Row& r : rows) {
        Reply reply = get(r.target, r.method);
        EXPECT_EQ(reply.status, r.status) << r.method << " " << r.target;
        EXPECT_LT(reply.body.size(), 100u);
    }
}

TEST_F(ServiceTest, ServesOnlyTheExactPathsOfKnownIcons) {
    for (int i = 0; i < kConditionCount; ++i) {
        for (const char* variant : {"day/", "night/"}) {
            Reply r = get(std::string("/vip/baidu/imag/") + variant + kConditions[i].icon + ".gif");
            ASSERT_EQ(r.status, 200) << variant << kConditions[i].icon;
            EXPECT_EQ(r.contentType, "image/gif");
            EXPECT_EQ(r.cacheControl, "public, max-age=86400");
            EXPECT_TRUE(r.closeAfter);
            EXPECT_EQ(r.body.substr(0, 10), std::string("GIF89a1\0"
                                                        "1\0",
                                                        10));  // 49 x 49
        }
    }
    EXPECT_NE(get("/vip/baidu/imag/day/qing.gif").body, get("/vip/baidu/imag/night/qing.gif").body);
    const char* refused[] = {
        "/vip/baidu/imag/day/sunny.gif",
        "/vip/baidu/imag/day/QING.gif",
        "/vip/baidu/imag/day/%71ing.gif",
        "/vip/baidu/imag/day/qing.png",
        "/vip/baidu/imag/day/qing.gif/",
        "/vip/baidu/imag/day/qing.gif?v=1",
        "/vip/baidu/imag/day//qing.gif",
        "/vip/baidu/imag/day/../night/qing.gif",
        "/vip/baidu/imag/dusk/qing.gif",
        "/vip/baidu/imag/day/.gif",
        "/vip/baidu/imag/../../../etc/passwd",
        "/vip/baidu/imag/day/..%2F..%2Fetc%2Fpasswd",
        "/vip/baidu/imag/qing.gif",
        "/vip/baidu/imag/day/",
    };
    for (const char* target : refused) EXPECT_EQ(get(target).status, 404) << target;
    EXPECT_TRUE(iconFile("sunny", false).empty());
}
