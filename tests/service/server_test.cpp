#include "service/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <fstream>

#include "common/unique_owner.h"
#include "service/demo.h"

using namespace forecast;

namespace {

struct FdTraits {
    using Handle = int;
    static Handle invalid() { return -1; }
    static void close(Handle h) { ::close(h); }
};

const std::string kWords = "%CC%EC%C6%F8%D4%A4%B1%A8";  // 天气预报

// Sends the program's request for `target` on a fresh connection and reads until the server
// ends the connection (true) or is silent for `quietSeconds`.
bool closesAfter(int port, const std::string& target, std::string& data, int quietSeconds) {
    Unique<FdTraits> fd(::socket(AF_INET, SOCK_STREAM, 0));
    timeval bound{quietSeconds, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string request = "GET " + target +
                                " HTTP/1.1\r\nHost:127.0.0.1\r\nAccept:*/*\r\nUser-Agent:Mozilla/4.0 (compatible; "
                                "MSIE 6.0; Windows NT 5.1)\r\nConnection:Keep-Alive\r\n\r\n";
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        return false;
    }
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd.get(), buf, sizeof buf, 0)) > 0) data.append(buf, static_cast<std::size_t>(n));
    return n == 0;
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.bind("127.0.0.1", 0, error)) << error;
        runner = std::thread([this] { server.run(); });
        for (int i = 0; i < 100 && !server.isRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(server.isRunning());
        client = std::make_unique<httplib::Client>("127.0.0.1", server.port());
        client->set_read_timeout(3, 0);
        client->set_url_encode(false);  // the targets are sent exactly as written
    }
    void TearDown() override {
        client.reset();  // ends a kept-alive connection, which would hold the stop
        for (int i = 0; i < 100 && server.isRunning(); ++i) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (runner.joinable()) runner.join();
    }
    // The log once it holds `count` lines, or after a second.
    std::vector<std::string> logLines(std::size_t count) {
        for (int i = 0; i < 50 && logged() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard<std::mutex> lock(logMutex);
        return log;
    }
    std::size_t logged() {
        std::lock_guard<std::mutex> lock(logMutex);
        return log.size();
    }
    bool servesForecastFor(const std::string& cityEscaped) {
        auto page = client->Get("/s?wd=" + kWords + "+" + cityEscaped);
        return page && page->body.find("al_wt") != std::string::npos;
    }

    std::mutex logMutex;
    std::vector<std::string> log;
    LogSink sink = [this](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        log.push_back(line);
    };
    ForecastServer server{ServiceConfig{"127.0.0.1:1", "\xB1\xB1\xBE\xA9"}, sink};
    std::thread runner;
    std::unique_ptr<httplib::Client> client;
};

}  // namespace

TEST_F(ServerTest, KeepsPagesAliveAndClosesAfterWhatTheProgramReadsToTheEnd) {
    server.setData(std::make_shared<Dataset>(makeDemoDataset(localToday() - 1, 5)));
    const std::string page = "/s?bs=" + kWords + "+%B1%B1%BE%A9&f=8&wd=" + kWords + "+%B1%B1%BE%A9";
    std::string data;
    EXPECT_FALSE(closesAfter(server.port(), page, data, 1));
    EXPECT_NE(data.find("Cache-Control: public, max-age=300"), std::string::npos);
    EXPECT_NE(data.find("class=\"al_wt\""), std::string::npos);
    // A HEAD answer between two on one connection carries no body to trip the next.
    client->set_keep_alive(true);
    auto first = client->Get(page), head = client->Head(page), again = client->Get(page);
    ASSERT_TRUE(first && head && again);
    EXPECT_EQ(first->get_header_value("Content-Type"), "text/html; charset=gbk");
    EXPECT_EQ(head->status * 10000 + again->status, 2000200);
    EXPECT_EQ(again->body, first->body);

    for (const std::string& path :
         {std::string("/vip/baidu/imag/night/leizhenyu.gif"), "/s?wd=" + kWords + "+Atlantis"}) {
        std::string answer;
        EXPECT_TRUE(closesAfter(server.port(), path, answer, 3)) << path;
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 200") << path;
    }
}

TEST_F(ServerTest, RefusesBadRequestsCleanlyAndLogsEveryOne) {
    // What httplib refuses itself, and one of each of ours to see it through the edge.
    httplib::Request brew;
    brew.method = "BREW", brew.path = "/s";
    struct Row {
        httplib::Result result;
        int status;
        const char* logged;
    } rows[] = {
        {client->Get("/s?wd=" + std::string(9000, 'a')), 414, " - - 414 "},
        {client->send(brew), 400, " BREW /s 400 "},
        {client->Get("/s?wd=%ZZ"), 400, " GET /s?wd=%ZZ 400 52 "},
        {client->Post("/s", "abc", "text/plain"), 405, " POST /s 405 "},
        {client->Get("/s?wd=x"), 200, " GET /s?wd=x 200 "},
    };
    std::vector<std::string> lines = logLines(std::size(rows));
    ASSERT_EQ(lines.size(), std::size(rows));
    for (const Row& r : rows) {
        ASSERT_TRUE(r.result) << r.logged;
        EXPECT_EQ(r.result->status, r.status) << r.logged;
        EXPECT_LT(r.result->body.size(), 2000u);
        // A worker logs after its answer is sent, so the lines of quick requests may swap places.
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.find(r.logged) != std::string::npos; }),
                  1)
            << r.logged;
    }
}

TEST_F(ServerTest, KeepsTheLastGoodDataAndSaysWhyOnce) {
    const std::string path = ::testing::TempDir() + "forecast-data-" + std::to_string(::getpid()) + ".json";
    auto write = [&](const std::string& text) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; };
    auto cityData = [](const std::string& city) {
        std::string days;
        for (int i = 0; i < 3; ++i) {
            int y = 0, m = 0, d = 0;
            civilDate(localToday() + i, y, m, d);
            char date[16];
            std::snprintf(date, sizeof date, "%04d-%02d-%02d", y, m, d);
            days += std::string(i ? "," : "") + R"({"date": ")" + date +
                    R"(", "condition": "xiaoyu", "high": 20, "low": 12, "text": "小雨", "wind": "微风"})";
        }
        return R"({"cities": [{"name": ")" + city + R"(", "days": [)" + days + "]}]}";
    };
    std::remove(path.c_str());
    DataKeeper keeper(path, server, sink);
    std::string error;
    EXPECT_FALSE(keeper.load(error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;

    write(cityData("北京"));
    ASSERT_TRUE(keeper.load(error)) << error;
    EXPECT_TRUE(servesForecastFor("%B1%B1%BE%A9"));
    write(cityData("哈尔滨"));  // a new size, so the change shows whatever the clock's grain
    keeper.poll();
    EXPECT_TRUE(servesForecastFor("%B9%FE%B6%FB%B1%F5"));
    EXPECT_FALSE(servesForecastFor("%B1%B1%BE%A9"));

    write("{\"cities\": [");
    keeper.poll();
    keeper.poll();
    std::remove(path.c_str());
    keeper.poll();
    keeper.poll();
    EXPECT_TRUE(servesForecastFor("%B9%FE%B6%FB%B1%F5"));
    std::vector<std::string> notes;
    for (const std::string& line : logLines(0)) {
        if (line.rfind("data: ", 0) == 0) notes.push_back(line);
    }
    ASSERT_EQ(notes.size(), 4u);  // loaded, reloaded, then one for each breakage
    EXPECT_NE(notes[2].find("not valid JSON; keeping the last good data"), std::string::npos) << notes[2];
    EXPECT_NE(notes[3].find("missing; keeping the last good data"), std::string::npos) << notes[3];
}

TEST_F(ServerTest, ATakenPortIsAnErrorNotASharedPort) {
    ForecastServer second(ServiceConfig{}, [](const std::string&) {});
    std::string error;
    EXPECT_FALSE(second.bind("127.0.0.1", server.port(), error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(server.port())), std::string::npos) << error;
}
