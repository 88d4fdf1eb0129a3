#include "service/server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

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
    ForecastServer server{ServiceConfig{"127.0.0.1:1", "\xB1\xB1\xBE\xA9"}, [](const std::string&) {}};
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

TEST_F(ServerTest, ATakenPortIsAnErrorNotASharedPort) {
    ForecastServer second(ServiceConfig{}, [](const std::string&) {});
    std::string error;
    EXPECT_FALSE(second.bind("127.0.0.1", server.port(), error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(server.port())), std::string::npos) << error;
}
