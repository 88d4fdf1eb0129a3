#include "tests/weather/scripted_server.h"

#include <cstdio>

namespace {

constexpr int kSliceMs = 20;
constexpr int kRequestWaitMs = 5000;
constexpr int kDefaultHoldMs = 20000;
constexpr size_t kMaxRequest = 8192;

}  // namespace

ScriptedServer::ScriptedServer(std::vector<ConnectionScript> connectionScripts)
    : scripts(std::move(connectionScripts)) {
    WSADATA data;
    winsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener == INVALID_SOCKET) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    thread = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
    stopping = true;
    if (thread.joinable()) thread.join();
    if (listener != INVALID_SOCKET) closesocket(listener);
    if (winsockStarted) WSACleanup();
}

std::string ScriptedServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedServer::requests() const {
    std::lock_guard<std::mutex> guard(lock);
    return received;
}

bool ScriptedServer::waitUntilDone(int ms) const {
    for (int waited = 0; !done.load() && waited < ms; waited += kSliceMs) Sleep(kSliceMs);
    return done.load();
}

namespace {

// Waits in short slices so that a stop request ends any wait quickly.
bool waitReadable(SOCKET socket, int ms, const std::atomic<bool>& stopping) {
    for (int waited = 0; waited < ms && !stopping.load(); waited += kSliceMs) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval slice{0, kSliceMs * 1000};
        const int ready = select(0, &set, nullptr, nullptr, &slice);
        if (ready != 0) return ready > 0;
    }
    return false;
}

}  // namespace

void ScriptedServer::run() {
    size_t next = 0;
    while (!stopping.load()) {
        if (next >= scripts.size()) done = true;
        if (!waitReadable(listener, kSliceMs * 5, stopping)) continue;
        const SOCKET connection = accept(listener, nullptr, nullptr);
        if (connection == INVALID_SOCKET) continue;
        ++accepted;
        if (next < scripts.size()) play(connection, scripts[next++]);
        closesocket(connection);
    }
}

void ScriptedServer::play(SOCKET connection, const ConnectionScript& steps) {
    auto holdOpen = [&](int ms) {
        char sink[512];
        while (waitReadable(connection, ms, stopping)) {
            if (recv(connection, sink, sizeof sink, 0) <= 0) return;
        }
    };
    for (const ServerStep& step : steps) {
        switch (step.kind) {
            case ServerStep::Kind::request: {
                std::string request;
                while (request.size() < kMaxRequest &&
                       (request.size() < 4 || request.compare(request.size() - 4, 4, "\r\n\r\n") != 0)) {
                    char character;
                    if (!waitReadable(connection, kRequestWaitMs, stopping) || recv(connection, &character, 1, 0) <= 0)
                        return;
                    request += character;
                }
                std::lock_guard<std::mutex> guard(lock);
                received.push_back(request);
                break;
            }
            case ServerStep::Kind::send:
                if (::send(connection, step.bytes.data(), static_cast<int>(step.bytes.size()), 0) == SOCKET_ERROR)
                    return;
                break;
            case ServerStep::Kind::pause:
                for (int waited = 0; waited < step.ms && !stopping.load(); waited += kSliceMs) Sleep(kSliceMs);
                break;
            case ServerStep::Kind::close:
                return;
            case ServerStep::Kind::hold:
                holdOpen(step.ms);
                break;
        }
    }
    holdOpen(kDefaultHoldMs);
}

std::string withLength(const std::string& statusAndHeaders, const std::string& body) {
    return statusAndHeaders + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string chunked(const std::string& body, const std::vector<size_t>& sizes) {
    std::string out;
    size_t start = 0;
    auto add = [&](size_t length) {
        char size[16];
        std::snprintf(size, sizeof size, "%x\r\n", static_cast<unsigned>(length));
        out += size;
        out += body.substr(start, length);
        out += "\r\n";
        start += length;
    };
    for (size_t size : sizes) {
        if (start + size > body.size()) break;
        add(size);
    }
    if (start < body.size()) add(body.size() - start);
    return out + "0\r\n\r\n";
}
