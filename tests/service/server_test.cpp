#include "service/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "common/unique_owner.h"
#include "service/demo.h"

using namespace forecast;

namespace {

struct FdTraits {
    using Handle = int;
    static Handle invalid() { return -1; }
    static void close(Handle h) { ::close(h); }
};
using UniqueFd = Unique<FdTraits>;

const std::string kWords = "%CC%EC%C6%F8%D4%A4%B1%A8";  // 天气预报

// The request text exactly as the program sends it.
std::string programRequest(const std::string& path) {
    return "GET " + path +
           " HTTP/1.1\r\nHost:127.0.0.1\r\nAccept:*/*\r\nUser-Agent:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT "
           "5.1)\r\nConnection:Keep-Alive\r\n\r\n";
}

UniqueFd connectTo(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    timeval bound{3, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fd.reset();
    return fd;
}

struct Answer {
    int status = 0;
    std::string head, body;
};

// Sends `request` and reads one response framed by its Content-Length (none for HEAD).
Answer exchange(int fd, const std::string& request, bool head = false) {
    Answer a;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return a;
    std::string data;
    char buf[4096];
    std::size_t end = std::string::npos;
    std::size_t want = 0;
    while (true) {
        if (end == std::string::npos && (end = data.find("\r\n\r\n")) != std::string::npos) {
            a.head = data.substr(0, end + 4);
            std::size_t cl = a.head.find("Content-Length: ");
            want = head || cl == std::string::npos ? 0 : std::stoul(a.head.substr(cl + 16));
            std::sscanf(a.head.c_str(), "HTTP/1.1 %d", &a.status);
        }
        if (end != std::string::npos && data.size() >= end + 4 + want) break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return a;
        data.append(buf, static_cast<std::size_t>(n));
    }
    a.body = data.substr(end + 4, want);
    return a;
}

// True when the server ends the connection within a second.
bool closedByServer(int fd) {
    timeval bound{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    char c;
    return ::recv(fd, &c, 1, 0) == 0;
}

std::string isoDate(int day) {
    int y = 0, m = 0, d = 0;
    civilDate(day, y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

// A data file with three days from today for one city (UTF-8 name).
std::string dataFor(const std::string& city) {
    std::string days;
    for (int i = 0; i < 3; ++i) {
        days += std::string(i ? "," : "") + R"({"date": ")" + isoDate(localToday() + i) +
                R"(", "condition": "xiaoyu", "high": 20, "low": 12, "text": "小雨", "wind": "微风"})";
    }
    return R"({"cities": [{"name": ")" + city + R"(", "days": [)" + days + "]}]}";
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<ForecastServer>(ServiceConfig{"127.0.0.1:1", "\xB1\xB1\xBE\xA9"},
                                                  [this](const std::string& line) {
                                                      std::lock_guard<std::mutex> lock(logMutex);
                                                      log.push_back(line);
                                                  });
        std::string error;
        ASSERT_TRUE(server->bind("127.0.0.1", 0, error)) << error;
        port = server->port();
        runner = std::thread([this] {
            server->run();
            finished = true;
        });
        for (int i = 0; i < 100 && !server->isRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(server->isRunning());
    }
    void TearDown() override {
        for (int i = 0; i < 100 && !finished; ++i) {
            server->stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (runner.joinable()) runner.join();
    }
    std::vector<std::string> logLines() {
        std::lock_guard<std::mutex> lock(logMutex);
        return log;
    }
    std::string pageOf(const std::string& cityEscaped) {
        UniqueFd fd = connectTo(port);
        return exchange(fd.get(), programRequest("/s?wd=" + kWords + "+" + cityEscaped)).body;
    }

    std::unique_ptr<ForecastServer> server;
    int port = 0;
    std::thread runner;
    std::atomic<bool> finished{false};
    std::mutex logMutex;
    std::vector<std::string> log;
};

}  // namespace

TEST_F(ServerTest, KeepsPagesAliveAndClosesAfterWhatTheProgramReadsToTheEnd) {
    server->setData(std::make_shared<Dataset>(makeDemoDataset(localToday() - 1, 5)));
    const std::string page = "/s?bs=" + kWords + "+%B1%B1%BE%A9&f=8&wd=" + kWords + "+%B1%B1%BE%A9";
    UniqueFd fd = connectTo(port);
    Answer a = exchange(fd.get(), programRequest(page));
    ASSERT_EQ(a.status, 200);
    EXPECT_NE(a.head.find("Content-Type: text/html; charset=gbk"), std::string::npos);
    EXPECT_NE(a.head.find("Cache-Control: public, max-age=300"), std::string::npos);
    EXPECT_NE(a.body.find("class=\"al_wt\""), std::string::npos);
    // The same connection answers again, and a HEAD answer carries no body to trip the next one.
    EXPECT_EQ(exchange(fd.get(), "HEAD " + page + " HTTP/1.1\r\nHost:x\r\n\r\n", true).status, 200);
    EXPECT_EQ(exchange(fd.get(), programRequest(page)).body, a.body);

    for (const std::string& path :
         {std::string("/vip/baidu/imag/night/leizhenyu.gif"), "/s?wd=" + kWords + "+Atlantis"}) {
        UniqueFd one = connectTo(port);
        Answer icon = exchange(one.get(), programRequest(path));
        EXPECT_EQ(icon.status, 200) << path;
        EXPECT_TRUE(closedByServer(one.get())) << path;
    }
}

TEST_F(ServerTest, RefusesBadRequestsCleanlyAndLogsEveryOne) {
    struct Row {
        std::string request;
        int status;
    } rows[] = {
        {programRequest("/s?wd=" + std::string(9000, 'a')), 414},
        {programRequest("/s?wd=" + std::string(500, 'a')), 414},
        {programRequest("/s?wd=%ZZ"), 400},
        {"BREW /s HTTP/1.1\r\nHost:x\r\n\r\n", 400},
        {"POST /s HTTP/1.1\r\nHost:x\r\nContent-Length: 3\r\n\r\nabc", 405},
        {programRequest("/vip/baidu/imag/day/..%2f..%2fetc%2fpasswd"), 404},
        {programRequest("/s?wd=x"), 200},
    };
    for (const Row& r : rows) {
        UniqueFd fd = connectTo(port);
        Answer a = exchange(fd.get(), r.request);
        EXPECT_EQ(a.status, r.status) << r.request.substr(0, 60);
        EXPECT_LT(a.body.size(), 2000u);
    }
    std::vector<std::string> lines;
    for (int i = 0; i < 50 && (lines = logLines()).size() < std::size(rows); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(lines.size(), std::size(rows));
    // A worker logs after its answer is sent, so the lines of quick requests may swap places.
    for (const char* expected : {" - - 414 ", " GET /s?wd=%ZZ 400 52 ", " POST /s 405 ", " GET /s?wd=x 200 "}) {
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.find(expected) != std::string::npos; }),
                  1)
            << expected;
    }
}

TEST_F(ServerTest, KeepsTheLastGoodDataAndSaysWhyOnce) {
    const std::string path = ::testing::TempDir() + "forecast-data-" + std::to_string(::getpid()) + ".json";
    auto write = [&](const std::string& text) { std::ofstream(path, std::ios::binary | std::ios::trunc) << text; };
    std::remove(path.c_str());
    DataKeeper keeper(path, *server, [this](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex);
        log.push_back(line);
    });
    std::string error;
    EXPECT_FALSE(keeper.load(error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;

    write(dataFor("北京"));
    ASSERT_TRUE(keeper.load(error)) << error;
    EXPECT_NE(pageOf("%B1%B1%BE%A9").find("al_wt"), std::string::npos);

    write(dataFor("上海") + " ");  // a new size, so the change shows whatever the clock's grain
    keeper.poll();
    EXPECT_NE(pageOf("%C9%CF%BA%A3").find("al_wt"), std::string::npos);
    EXPECT_EQ(pageOf("%B1%B1%BE%A9").find("al_wt"), std::string::npos);

    const std::size_t before = logLines().size();
    for (const std::string& broken : {std::string("{\"cities\": ["), std::string()}) {
        if (broken.empty()) {
            std::remove(path.c_str());
        } else {
            write(broken);
        }
        keeper.poll();
        keeper.poll();
        EXPECT_NE(pageOf("%C9%CF%BA%A3").find("al_wt"), std::string::npos);
    }
    std::vector<std::string> lines = logLines();
    std::vector<std::string> notes;
    for (std::size_t i = before; i < lines.size(); ++i) {
        if (lines[i].rfind("data: ", 0) == 0) notes.push_back(lines[i]);
    }
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[0].find("not valid JSON; keeping the last good data"), std::string::npos) << notes[0];
    EXPECT_NE(notes[1].find("missing; keeping the last good data"), std::string::npos) << notes[1];
}

TEST_F(ServerTest, ATakenPortIsAnErrorNotASharedPort) {
    ForecastServer second(ServiceConfig{}, [](const std::string&) {});
    std::string error;
    EXPECT_FALSE(second.bind("127.0.0.1", port, error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos) << error;
}
