#include "net/http_fetcher.h"

#include "common/ascii.h"
#include "common/lead_byte.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kRequestSize = 512;
constexpr int kLineSize = 256;
constexpr int kTextModePauseMs = 1000;
constexpr char kTemporaryPrefix[] = "pel";  // GetTempFileNameA makes "pelXXXX.tmp"
constexpr char kTemporaryPattern[] = "pel*.tmp";

// The length of `path` up to and including its last folder separator; 0 when it has none.
// A GBK character's second byte can be 0x5C, the backslash, so trail bytes are skipped.
size_t folderLength(const char* path) {
    size_t length = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
        if (isLeadByte(static_cast<unsigned char>(path[i]))) {
            if (path[i + 1] == '\0') break;
            ++i;
        } else if (path[i] == '\\' || path[i] == '/') {
            length = i + 1;
        }
    }
    return length;
}

// A regular file: not a folder, and not a device such as CON or NUL.gif that any folder
// seems to hold.
bool isRegularFile(const char* path) {
    UniqueFile file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file.get(), &information) &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

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
        const size_t length = folderLength(finalPath);  // keeps "C:\\" a root
        if (length > 0) {
            if (length >= sizeof folder) return false;
            std::memcpy(folder, finalPath, length);
            folder[length] = '\0';
        }
        if (GetTempFileNameA(folder, kTemporaryPrefix, 0, path) == 0) {
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

// How a body arrives: its framing and how far it has come.
struct HttpFetcher::BodySource {
    const BodyFraming& framing;
    uint32_t remaining;
    ChunkedDecoder chunks;

    // Whether the body was read to its very end and nothing stray came after it.
    bool consumedExactly() const {
        if (framing.kind == BodyFraming::Kind::length) return remaining == 0;
        return framing.kind == BodyFraming::Kind::chunked && chunks.done() && chunks.excess() == 0;
    }
};

HttpFetcher::HttpFetcher(int silence, int deadline)
    : silenceMs(silence > 0 ? silence : kDefaultSilenceMs), deadlineMs(deadline > 0 ? deadline : kDeadlineMs) {}

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
        case Failure::deadline:
            return "the download took longer than its deadline";
        case Failure::closed:
            return "the server closed the connection early";
        case Failure::header:
            return "the response header is longer than the fetcher reads";
        case Failure::status:
            return "the server answered with a status other than 200 or 206";
        case Failure::body:
            return "the body's chunked framing is broken";
        case Failure::tooLarge:
            return "the body is larger than a saved file may be";
        case Failure::file:
            return "the file could not be written";
    }
    return "unknown failure";
}

void HttpFetcher::removeTemporaryFiles(const char* folder) {
    char pattern[MAX_PATH] = {};
    const size_t length = strnlen(folder, sizeof pattern);
    if (length + sizeof kTemporaryPattern > sizeof pattern) return;
    std::memcpy(pattern, folder, length);
    std::memcpy(pattern + length, kTemporaryPattern, sizeof kTemporaryPattern);
    WIN32_FIND_DATAA found;
    const UniqueFind search(FindFirstFileA(pattern, &found));
    if (!search) return;
    do {
        char path[MAX_PATH];
        const size_t nameLength = strnlen(found.cFileName, sizeof found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY || length + nameLength >= sizeof path) continue;
        std::memcpy(path, folder, length);
        std::memcpy(path + length, found.cFileName, nameLength + 1);
        DeleteFileA(path);
    } while (FindNextFileA(search.get(), &found));
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
    auto addLine = [&](const char* piece) {
        const size_t length = std::strlen(piece);
        if (used + length >= static_cast<size_t>(outSize)) return false;
        std::memcpy(out + used, piece, length + 1);
        used += length;
        return true;
    };
    char line[kLineSize];
    wsprintfA(line, "GET %s HTTP/1.1\r\n", path);
    if (!addLine(line)) return -1;
    wsprintfA(line, "Host:%s\r\n", host);
    if (!addLine(line) || !addLine("Accept:*/*\r\n") ||
        !addLine("User-Agent:Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)\r\n") ||
        !addLine("Connection:Keep-Alive\r\n") || !addLine("\r\n")) {
        return -1;
    }
    return static_cast<int>(used);
}

// Keeps the held connection only for the same place and only if nothing has arrived on it
// since the last body: an idle kept-alive connection is silent, so anything readable there
// is the server's close or bytes that belong to no request of ours.
bool HttpFetcher::prepareConnection(const char* host, int port) {
    if (!socket_) return false;
    const bool keep = reusable && connectedPort == port &&
                      ascii::equalsIgnoringCase(host, std::strlen(host), connectedHost) &&
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
    Failure onTimeout = Failure::silence;
    const int ms = waitBound(onTimeout);
    timeval bound{ms / 1000, (ms % 1000) * 1000};
    const int ready = ms > 0 ? select(0, nullptr, &writable, &failed, &bound) : 0;
    if (ready == 0) return fail(onTimeout);
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
        if (wait(socket, true) < 0) return fail(failure_ == Failure::none ? Failure::send : failure_);
        const int sent = ::send(socket, data, length, 0);
        if (sent == SOCKET_ERROR) return fail(Failure::send);
        data += sent;
        length -= sent;
    }
    return true;
}

// The longest a wait may take now: the silence bound, or less when the download's deadline
// comes first, in which case `onTimeout` says so. 0 once the deadline has passed.
int HttpFetcher::waitBound(Failure& onTimeout) const {
    // Unsigned subtraction stays right across the tick count's wrap every 49.7 days.
    const DWORD elapsed = GetTickCount() - downloadStart;
    const int left = elapsed >= static_cast<DWORD>(deadlineMs) ? 0 : deadlineMs - static_cast<int>(elapsed);
    onTimeout = left <= silenceMs ? Failure::deadline : Failure::silence;
    return left < silenceMs ? left : silenceMs;
}

// 1 when the socket is ready, -1 (with the failure set) after silence, the deadline or an error.
int HttpFetcher::wait(SOCKET socket, bool toWrite) {
    Failure onTimeout = Failure::silence;
    const int ms = waitBound(onTimeout);
    const int ready = ms > 0 ? waitFor(socket, toWrite, ms) : 0;
    if (ready == 0) fail(onTimeout);
    if (ready < 0) fail(toWrite ? Failure::send : Failure::closed);
    return ready > 0 ? 1 : -1;
}

// The count received, 0 when the peer has closed, -1 after silence, the deadline or an error.
int HttpFetcher::receive(SOCKET socket, char* buffer, int size) {
    if (wait(socket, false) < 0) return -1;
    const int received = ::recv(socket, buffer, size, 0);
    if (received == SOCKET_ERROR) {
        fail(Failure::closed);
        return -1;
    }
    return received;
}

// The header is read one byte per recv so that no body byte is consumed before the body is read.
// True once its blank line has come; `stored` counts the bytes received either way.
bool HttpFetcher::readHead(SOCKET socket, char* out, int size, int& stored) {
    stored = 0;
    while (stored < size) {
        char character;
        const int received = receive(socket, &character, 1);
        if (received < 0) return false;  // silence or the deadline, as receive recorded
        if (received == 0) return fail(Failure::closed);
        out[stored++] = character;
        if (character == '\n' && stored >= 4 && std::memcmp(out + stored - 4, "\r\n\r\n", 4) == 0) return true;
    }
    return fail(Failure::header);
}

// The next piece of the body: a count of bytes, 0 at its end, -1 on a failure. Never asks
// for more than a declared length, so the next response's bytes stay on the socket.
int HttpFetcher::nextBodyPiece(SOCKET socket, BodySource& body, char* buffer, int size) {
    switch (body.framing.kind) {
        case BodyFraming::Kind::untilClose:
            return receive(socket, buffer, size);
        case BodyFraming::Kind::length: {
            if (body.remaining == 0) return 0;
            const int wanted = body.remaining < static_cast<uint32_t>(size) ? static_cast<int>(body.remaining) : size;
            const int received = receive(socket, buffer, wanted);
            if (received == 0) fail(Failure::closed);
            if (received <= 0) return -1;
            body.remaining -= static_cast<uint32_t>(received);
            return received;
        }
        case BodyFraming::Kind::chunked:
            while (!body.chunks.done()) {
                const int received = receive(socket, buffer, size);
                if (received == 0) fail(Failure::closed);
                if (received <= 0) return -1;
                const size_t decoded = body.chunks.decode(buffer, static_cast<size_t>(received));
                if (body.chunks.failed()) {
                    fail(Failure::body);
                    return -1;
                }
                if (decoded > 0) return static_cast<int>(decoded);
            }
            return 0;
    }
    return -1;
}

// Appends the body from the first occurrence of `marker` on, zero bytes left out, until the
// body ends or the room is used up.
bool HttpFetcher::takeText(SOCKET socket, BodySource& body, const char* marker, char* destination, int limit) {
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

    const size_t markerLength = marker ? std::strlen(marker) : 0;
    bool found = marker == nullptr;
    // The marker is searched in what was kept of the previous piece followed by this one, so
    // a marker split by the network between two receives is still found.
    char chunk[kChunkSize];
    char window[2 * kChunkSize];
    size_t carried = 0;
    while (!(found && stored == capacity)) {
        const int received = nextBodyPiece(socket, body, chunk, kChunkSize);
        if (received < 0) return false;
        if (received == 0) break;
        if (found) {
            store(chunk, static_cast<size_t>(received));
            continue;
        }
        std::memcpy(window + carried, chunk, static_cast<size_t>(received));
        const size_t windowLength = carried + static_cast<size_t>(received);
        if (const char* at = findBytes(window, windowLength, marker, markerLength)) {
            found = true;
            store(at, static_cast<size_t>(window + windowLength - at));
        } else {
            carried = markerLength > 0 && markerLength - 1 < windowLength ? markerLength - 1 : windowLength;
            std::memmove(window, window + windowLength - carried, carried);
        }
    }
    return true;
}

// Saves the whole body, at most kMaxFileBytes, under `path` by way of a temporary file.
bool HttpFetcher::saveFile(SOCKET socket, BodySource& body, const char* path) {
    TemporaryFile temporary;
    if (!temporary.create(path)) return fail(Failure::file);
    {
        UniqueStdioFile file(std::fopen(temporary.name(), "wb"));
        if (!file) return fail(Failure::file);
        char chunk[kChunkSize];
        size_t total = 0;
        for (;;) {
            const int received = nextBodyPiece(socket, body, chunk, kChunkSize);
            if (received < 0) return false;
            if (received == 0) break;
            total += static_cast<size_t>(received);
            if (total > static_cast<size_t>(kMaxFileBytes)) return fail(Failure::tooLarge);
            if (std::fwrite(chunk, 1, static_cast<size_t>(received), file.get()) != static_cast<size_t>(received)) {
                return fail(Failure::file);
            }
        }
        // Closed here rather than by the owner, because a failed final flush is a failed file.
        if (std::fclose(file.release()) != 0) return fail(Failure::file);
    }
    return temporary.moveTo(path) || fail(Failure::file);
}

// The one place the two modes part: each checks its own arguments, then both exchange the
// request and head the same way and differ again only in where the body goes.
bool HttpFetcher::download(const char* url, const char* text, char* destination, int limit) {
    failure_ = Failure::none;
    downloadStart = GetTickCount();
    UrlParts parts;
    if (!parts.parse(url)) return fail(Failure::url);
    return destination ? downloadText(parts, text, destination, limit) : downloadFile(parts, text);
}

bool HttpFetcher::downloadText(const UrlParts& parts, const char* marker, char* destination, int limit) {
    if (limit <= kChunkSize) return fail(Failure::input);
    if (strnlen(destination, static_cast<size_t>(limit)) >= static_cast<size_t>(limit)) return fail(Failure::input);
    if (marker && strnlen(marker, kChunkSize + 1) > static_cast<size_t>(kChunkSize)) return fail(Failure::input);

    BodyFraming framing;
    if (!requestHead(parts, framing)) return false;
    BodySource body{framing, framing.length, {}};
    if (!takeText(socket_.get(), body, marker, destination, limit)) return false;
    return finishBody(body);
}

bool HttpFetcher::downloadFile(const UrlParts& parts, const char* prefix) {
    if (!setSavedPath(prefix ? prefix : "", parts.fileName())) return fail(Failure::input);
    if (isRegularFile(savedPath_)) return true;

    BodyFraming framing;
    if (!requestHead(parts, framing)) return false;
    BodySource body{framing, framing.length, {}};
    if (!saveFile(socket_.get(), body, savedPath_)) return false;
    return finishBody(body);
}

// The saved path is cleared first, so it is empty when prefix and name do not fit.
bool HttpFetcher::setSavedPath(const char* prefix, const char* fileName) {
    std::memset(savedPath_, 0, sizeof savedPath_);
    const size_t prefixLength = strnlen(prefix, kSavedPathSize);
    const size_t nameLength = std::strlen(fileName);
    if (prefixLength + nameLength >= static_cast<size_t>(kSavedPathSize)) return false;
    std::memcpy(savedPath_, prefix, prefixLength);
    std::memcpy(savedPath_ + prefixLength, fileName, nameLength);
    return true;
}

// A body read to its end lets the connection go on when the server agreed to that.
bool HttpFetcher::finishBody(const BodySource& body) {
    reusable = body.framing.keepAlive && body.consumedExactly();
    failure_ = Failure::none;
    return true;
}

// Sends the request and reads the response head, over the held connection when it may be
// reused; true with `framing` filled for a status of 200 or 206.
bool HttpFetcher::requestHead(const UrlParts& parts, BodyFraming& framing) {
    if (parts.host()[0] == '\0') return fail(Failure::input);
    char request[kRequestSize] = {};
    const int requestLength = buildRequest(parts.host(), parts.path(), request, kRequestSize);
    if (requestLength < 0) return fail(Failure::input);

    // A kept connection that the server closed while idle may look fine until the request
    // goes out; a GET can safely go again, once, over a fresh connection.
    char head[kMaxHeaderBytes + 1];
    int headLength = 0;
    for (int attempt = 0;; ++attempt) {
        const bool reused = prepareConnection(parts.host(), parts.port());
        if (!openConnection(parts.host(), parts.port())) return false;
        std::memset(headerText_, 0, sizeof headerText_);
        const bool sent = sendAll(socket_.get(), request, requestLength);
        if (sent && readHead(socket_.get(), head, kMaxHeaderBytes, headLength)) break;
        const bool lostIdleConnection =
            reused && headLength == 0 && failure_ != Failure::silence && failure_ != Failure::deadline;
        if (attempt > 0 || !lostIdleConnection) {
            std::memcpy(headerText_, head, headLength < kHeaderSize ? headLength : kHeaderSize);
            return false;
        }
        close();
    }
    head[headLength] = '\0';
    std::memcpy(headerText_, head, headLength < kHeaderSize ? headLength : kHeaderSize);

    HttpResponseHead response;
    response.parse(headerText_);
    if (response.status() != 200 && response.status() != 206) return fail(Failure::status);
    framing.parse(head);
    return true;
}
