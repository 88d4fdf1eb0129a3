#pragma once
// A loopback HTTP server for tests: it listens on 127.0.0.1 at an ephemeral port and plays
// one script per accepted connection, byte for byte and pause for pause, so a test decides
// exactly how the response is split and when the server goes silent or closes. Every wait
// is bounded and the destructor stops it, so a failing test never hangs on it.

#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ServerStep {
    enum class Kind {
        request,  // read one request up to its blank line
        send,     // send `bytes`
        pause,    // wait `ms`
        close,    // close the connection
        hold,     // keep the connection open until the client closes or `ms` pass
    };
    Kind kind;
    std::string bytes;
    int ms;
};

namespace script {
inline ServerStep request() { return {ServerStep::Kind::request, {}, 0}; }
inline ServerStep send(std::string bytes) { return {ServerStep::Kind::send, std::move(bytes), 0}; }
inline ServerStep pause(int ms) { return {ServerStep::Kind::pause, {}, ms}; }
inline ServerStep close() { return {ServerStep::Kind::close, {}, 0}; }
inline ServerStep hold(int ms) { return {ServerStep::Kind::hold, {}, ms}; }
}  // namespace script

using ConnectionScript = std::vector<ServerStep>;

class ScriptedServer {
public:
    // One script per connection, in the order they are accepted. Connections beyond the
    // scripts are accepted, counted and closed at once. A script that ends without close
    // holds its connection until the client closes or the server stops.
    explicit ScriptedServer(std::vector<ConnectionScript> scripts);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    bool listening() const { return port_ != 0; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by `path`.
    std::string url(const std::string& path) const;

    int connections() const { return accepted.load(); }
    // Every request read, in order, each up to and including its blank line.
    std::vector<std::string> requests() const;
    // Waits (bounded) until the server has finished its scripts, e.g. to let it record a close.
    bool waitUntilDone(int ms) const;

private:
    void run();
    void play(SOCKET connection, const ConnectionScript& steps);
    bool stopRequested() const { return stopping.load(); }

    std::vector<ConnectionScript> scripts;
    SOCKET listener = INVALID_SOCKET;
    int port_ = 0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> done{false};
    std::atomic<int> accepted{0};
    mutable std::mutex lock;
    std::vector<std::string> received;
    std::thread thread;
    bool winsockStarted = false;
};

// A response head and body joined, with a Content-Length line for the body.
std::string withLength(const std::string& statusAndHeaders, const std::string& body);
// The body in the chunked coding, cut into chunks of the given sizes (the rest in one more).
std::string chunked(const std::string& body, const std::vector<size_t>& sizes);
