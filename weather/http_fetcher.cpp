#include "weather/http_fetcher.h"

#include "weather/ascii.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kRequestSize = 512;
constexpr int kLineSize = 256;
constexpr int kTextModePauseMs = 1000;

struct StdioFileTraits {
    using Handle = FILE*;
    static Handle invalid() { return nullptr; }
    static void close(Handle file) { std::fclose(file); }
};
using UniqueStdioFile = Unique<StdioFileTraits>;

// A temporary file beside the final one, deleted unless it has been moved into place.
// Beside it, because a move within one folder stays on one volume and replaces atomically.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (path[0] != '\0') DeleteFileA(path);
    }

    // Creates an empty, uniquely named file in the folder of `finalPath`.
    bool create(const char* finalPath) {
        char folder[MAX_PATH] = ".";
        const char* lastSeparator = nullptr;
        for (const char* p = finalPath; *p != '\0'; ++p) {
            if (*p == '\\' || *p == '/') lastSeparator = p;
        }
        if (lastSeparator) {
            const size_t length = static_cast<size_t>(lastSeparator - finalPath) + 1;  // keeps "C:\" a root
            if (length >= sizeof folder) return false;
            std::memcpy(folder, finalPath, length);
            folder[length] = '\0';
        }
        if (GetTempFileNameA(folder, "pel", 0, path) == 0) {
            path[0] = '\0';
            return false;
        }
        return true;
    }
    const char* name() const { return path; }
    bool moveTo(const char* finalPath) {
        if (!MoveFileExA(path, finalPath, MOVEFILE_REPLACE_EXISTING)) return false;
        path[0] = '\0';
        return true;
    }

private:
    char path[MAX_PATH] = {};
};

const char* findBytes(const char* haystack, size_t length, const char* needle, size_t needleLength) {
    if (needleLength > length) return nullptr;
    for (size_t i = 0; i + needleLength <= length; ++i) {
        if (std::memcmp(haystack + i, needle, needleLength) == 0) return haystack + i;
    }
    return nullptr;
}

// 1 when the socket is ready, 0 when `ms` passed without that, -1 on an error.
int waitFor(SOCKET socket, bool toWrite, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval bound{ms / 1000, (ms % 1000) * 1000};
    const int ready = select(0, toWrite ? nullptr : &set, toWrite ? &set : nullptr, nullptr, &bound);
    return ready > 0 ? 1 : ready;
}

}  // namespace

HttpFetcher::HttpFetcher(int silence) : silenceMs(silence > 0 ? silence : kDefaultSilenceMs) {}

const char* HttpFetcher::describe(Failure failure) {
    switch (failure) {
        case Failure::none:
            return "no failure";
        case Failure::input:
            return "an argument is beyond what the fetcher accepts";
        case Failure::url:
            return "the URL does not split into host, path and file name";
        case Failure::winsock:
            return "Winsock 2.2 could not be started";
        case Failure::socket:
            return "no socket could be created";
        case Failure::lookup:
            return "the host name could not be looked up";
        case Failure::connect:
            return "the connection was refused or failed";
        case Failure::send:
            return "the request could not be sent";
        case Failure::silence:
            return "the server stayed silent past the time-out";
        case Failure::closed:
            return "the server closed the connection early";
        case Failure::status:
            return "the server answered with a status other than 200 or 206";
        case Failure::body:
            return "the body's chunked framing is broken";
        case Failure::file:
            return "the file could not be written";
    }
    return "unknown failure";
}

bool HttpFetcher::fail(Failure why) {
    failure_ = why;
    return false;
}

bool HttpFetcher::close() {
    reusable = false;
    if (!socket_) return false;
    socket_.reset();
    return true;
}

int HttpFetcher::buildRequest(const char* host, const char* path, char* out, int outSize) {
    if (std::strlen(path) > kMaxPathLength || std::strlen(host) >= UrlParts::kHostSize) return -1;
    size_t used = strnlen(out, static_cast<size_t>(outSize));
    auto append = [&](const char* piece) {
        const size_t length = std::strlen(piece);
        if (used + length >= static_cast<size_t>(outSize)) return false;
        std::memcpy(out + used, piece, length + 1);
        used += length;
        return true;
    };
    char line[kLineSize];
    wsprintfA(line, "GET %s HTTP/1.1\r\n", path);
    if (!append(line)) return -1;
    wsprintfA(line, "Host:%s\r\n", host);
    if (!append(line) || !append("Accept:*/*\r\n") ||
        !append("User-Agent:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n") ||
        !append("Connection:Keep-Alive\r\n") || !append("\r\n")) {
        return -1;
    }
    return static_cast<int>(used);
}

// Keeps the held connection only for the same place and only if nothing has arrived on it
// since the last body: an idle kept-alive connection is silent, so anything readable there
// is the server's close or bytes that belong to no request of ours.
bool HttpFetcher::prepareConnection(const char* host, int port) {
    if (!socket_) return false;
    const bool keep = reusable && connectedPort == port && ascii::equalsIgnoringCase(connectedHost, host) &&
                      waitFor(socket_.get(), false, 0) == 0;
    reusable = false;
    if (!keep) close();
    return keep;
}

bool HttpFetcher::openConnection(const char* host, int port) {
    if (socket_) return true;

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return fail(Failure::winsock);
    if (data.wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        return fail(Failure::winsock);
    }
    socket_.reset(::socket(AF_INET, SOCK_STREAM, 0));
    if (socket_.get() == INVALID_SOCKET) return fail(Failure::socket);

    hostEntry = gethostbyname(host);
    if (!hostEntry || hostEntry->h_addrtype != AF_INET || hostEntry->h_length != 4 || !hostEntry->h_addr_list[0]) {
        close();
        return fail(Failure::lookup);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    std::memcpy(&address.sin_addr, hostEntry->h_addr_list[0], 4);

    std::memcpy(connectedHost, host, strnlen(host, sizeof connectedHost - 1) + 1);
    connectedPort = port;
    return connectWithBound(socket_.get(), address);
}

// A blocking connect waits as long as the system likes, so it is started non-blocking and
// waited for with the silence bound, then the socket goes back to blocking for send and recv.
bool HttpFetcher::connectWithBound(SOCKET socket, const sockaddr_in& address) {
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) return fail(Failure::connect);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        return fail(Failure::connect);
    }
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval bound{silenceMs / 1000, (silenceMs % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failed, &bound);
    if (ready == 0) return fail(Failure::silence);
    if (ready < 0 || FD_ISSET(socket, &failed)) return fail(Failure::connect);
    int error = 0;
    int errorSize = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &errorSize) != 0 || error != 0) {
        return fail(Failure::connect);
    }
    u_long blocking = 0;
    if (ioctlsocket(socket, FIONBIO, &blocking) != 0) return fail(Failure::connect);
    return true;
}

bool HttpFetcher::sendAll(SOCKET socket, const char* data, int length) {
    while (length > 0) {
        const int ready = waitFor(socket, true, silenceMs);
        if (ready == 0) return fail(Failure::silence);
        if (ready < 0) return fail(Failure::send);
        const int sent = ::send(socket, data, length, 0);
        if (sent == SOCKET_ERROR) return fail(Failure::send);
        data += sent;
        length -= sent;
    }
    return true;
}

// The count received, 0 when the peer has closed, -1 after silence or an error.
int HttpFetcher::receive(SOCKET socket, char* buffer, int size) {
    const int ready = waitFor(socket, false, silenceMs);
    if (ready == 0) {
        fail(Failure::silence);
        return -1;
    }
    const int received = ready < 0 ? SOCKET_ERROR : ::recv(socket, buffer, size, 0);
    if (received == SOCKET_ERROR) {
        fail(Failure::closed);
        return -1;
    }
    return received;
}

// The header is read one byte per recv so that no body byte is consumed ahead of readBody.
int HttpFetcher::readHead(SOCKET socket, char* out, HeadEnd& end) {
    int stored = 0;
    while (stored < kHeaderSize) {
        char character;
        const int received = receive(socket, &character, 1);
        if (received <= 0) {
            if (received == 0) fail(Failure::closed);
            end = HeadEnd::closed;
            return stored;
        }
        out[stored++] = character;
        if (character == '\n' && stored >= 4 && std::memcmp(out + stored - 4, "\r\n\r\n", 4) == 0) {
            end = HeadEnd::blankLine;
            return stored;
        }
    }
    end = HeadEnd::full;
    return stored;
}

bool HttpFetcher::readBody(SOCKET socket, const BodyFraming& framing, const char* text, char* destination, int limit) {
    uint32_t remaining = framing.length;
    ChunkedDecoder chunks;
    // The next piece of the body: a count of bytes, 0 at its end, -1 on a failure. Never asks
    // for more than a declared length, so the next response's bytes stay on the socket.
    auto next = [&](char* buffer, int size) -> int {
        switch (framing.kind) {
            case BodyFraming::Kind::untilClose:
                return receive(socket, buffer, size);
            case BodyFraming::Kind::length: {
                if (remaining == 0) return 0;
                const int received = receive(
                    socket, buffer, remaining < static_cast<uint32_t>(size) ? static_cast<int>(remaining) : size);
                if (received == 0) {
                    fail(Failure::closed);
                    return -1;
                }
                if (received > 0) remaining -= static_cast<uint32_t>(received);
                return received;
            }
            case BodyFraming::Kind::chunked:
                while (!chunks.done()) {
                    const int received = receive(socket, buffer, size);
                    if (received == 0) fail(Failure::closed);
                    if (received <= 0) return -1;
                    const size_t decoded = chunks.decode(buffer, static_cast<size_t>(received));
                    if (chunks.failed()) {
                        fail(Failure::body);
                        return -1;
                    }
                    if (decoded > 0) return static_cast<int>(decoded);
                }
                return 0;
        }
        return -1;
    };
    // Whether the body was read to its very end and nothing stray came after it.
    auto consumedExactly = [&] {
        if (framing.kind == BodyFraming::Kind::length) return remaining == 0;
        return framing.kind == BodyFraming::Kind::chunked && chunks.done() && chunks.excess() == 0;
    };

    char chunk[kChunkSize];
    if (destination) {
        Sleep(kTextModePauseMs);
        const size_t existing = std::strlen(destination);
        char* out = destination + existing;
        const size_t capacity = static_cast<size_t>(limit) - 1 - existing;
        size_t stored = 0;
        auto store = [&](const char* bytes, size_t count) {
            for (size_t i = 0; i < count && stored < capacity; ++i) {
                if (bytes[i] != '\0') out[stored++] = bytes[i];
            }
            out[stored] = '\0';
        };

        const size_t markerLength = text ? std::strlen(text) : 0;
        bool found = text == nullptr;
        // The marker is searched in what was kept of the previous chunk followed by this one,
        // so a marker split by the network between two receives is still found.
        char window[2 * kChunkSize];
        size_t carried = 0;
        while (!(found && stored == capacity)) {
            const int received = next(chunk, kChunkSize);
            if (received < 0) return false;
            if (received == 0) break;
            if (found) {
                store(chunk, static_cast<size_t>(received));
                continue;
            }
            std::memcpy(window + carried, chunk, static_cast<size_t>(received));
            const size_t windowLength = carried + static_cast<size_t>(received);
            if (const char* at = findBytes(window, windowLength, text, markerLength)) {
                found = true;
                store(at, static_cast<size_t>(window + windowLength - at));
            } else {
                carried = markerLength > 0 && markerLength - 1 < windowLength ? markerLength - 1 : windowLength;
                std::memmove(window, window + windowLength - carried, carried);
            }
        }
    } else {
        TemporaryFile temporary;
        if (!temporary.create(text)) return fail(Failure::file);
        {
            UniqueStdioFile file(std::fopen(temporary.name(), "wb"));
            if (!file) return fail(Failure::file);
            for (;;) {
                const int received = next(chunk, kChunkSize);
                if (received < 0) return false;
                if (received == 0) break;
                if (std::fwrite(chunk, 1, static_cast<size_t>(received), file.get()) != static_cast<size_t>(received)) {
                    return fail(Failure::file);
                }
            }
            // Closed here rather than by the owner, because a failed final flush is a failed file.
            if (std::fclose(file.release()) != 0) return fail(Failure::file);
        }
        if (!temporary.moveTo(text)) return fail(Failure::file);
    }
    reusable = framing.keepAlive && consumedExactly();
    return true;
}

bool HttpFetcher::download(const char* url, const char* text, char* destination, int limit) {
    failure_ = Failure::none;
    UrlParts parts;
    if (!parts.parse(url)) return fail(Failure::url);

    if (destination) {
        if (limit <= kChunkSize) return fail(Failure::input);
        if (strnlen(destination, static_cast<size_t>(limit)) >= static_cast<size_t>(limit)) {
            return fail(Failure::input);
        }
        if (text && strnlen(text, kChunkSize + 1) > static_cast<size_t>(kChunkSize)) return fail(Failure::input);
    } else {
        std::memset(savedPath_, 0, sizeof savedPath_);
        const char* prefix = text ? text : "";
        const size_t prefixLength = strnlen(prefix, kSavedPathSize);
        const size_t nameLength = std::strlen(parts.fileName());
        if (prefixLength + nameLength >= static_cast<size_t>(kSavedPathSize)) return fail(Failure::input);
        std::memcpy(savedPath_, prefix, prefixLength);
        std::memcpy(savedPath_ + prefixLength, parts.fileName(), nameLength);
        if (PathFileExistsA(savedPath_)) return true;
    }

    if (parts.host()[0] == '\0') return fail(Failure::input);
    char request[kRequestSize] = {};
    const int requestLength = buildRequest(parts.host(), parts.path(), request, kRequestSize);
    if (requestLength < 0) return fail(Failure::input);

    // A kept connection that the server closed while idle may look fine until the request
    // goes out; a GET can safely go again, once, over a fresh connection.
    HeadEnd end = HeadEnd::closed;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool reused = prepareConnection(parts.host(), parts.port());
        if (!openConnection(parts.host(), parts.port())) return false;
        std::memset(headerText_, 0, sizeof headerText_);
        if (sendAll(socket_.get(), request, requestLength) && readHead(socket_.get(), headerText_, end) > 0) break;
        if (!reused || failure_ == Failure::silence) return false;
        close();
    }
    if (end == HeadEnd::closed) return fail(Failure::closed);

    HttpResponseHead head;
    head.parse(headerText_);
    if (head.status() != 200 && head.status() != 206) return fail(Failure::status);

    // A header cut at its size limit may have lost its framing lines, and the rest of it
    // arrives as body: only the end of the connection can end such a body.
    BodyFraming framing;
    if (end == HeadEnd::blankLine) framing.parse(headerText_);
    if (!readBody(socket_.get(), framing, destination ? text : savedPath_, destination, limit)) return false;
    failure_ = Failure::none;
    return true;
}
