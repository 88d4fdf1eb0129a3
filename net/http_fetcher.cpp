#include "net/http_fetcher.h"

#include "common/ascii.h"
#include "common/gbk_wide.h"
#include "common/lead_byte.h"

#include <cstring>

namespace {

constexpr int kRequestSize = 512;
constexpr int kLineSize = 256;
constexpr int kTextModePauseMs = 1000;
constexpr wchar_t kTemporaryPattern[] = L"pel*.tmp";  // what TemporaryFile names

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
// seems to hold. The path is GBK, reached through UTF-16 whatever the system's code page.
bool isRegularFile(const char* path) {
    const gbk::WidePath wide(path);
    if (!wide.ok) return false;
    UniqueFile file(CreateFileW(wide.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file.get(), &information) &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A temporary file beside the final one, deleted unless it has been moved into place.
// Beside it, because a move within one folder stays on one volume and replaces atomically.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        file.reset();  // an open file cannot be deleted
        if (path[0] != L'\0') DeleteFileW(path);
    }

    // Creates a new, empty "pelXXXX.tmp" in the folder of the GBK `finalPath`, trying
    // names from a start that differs between calls; the search ends once `expired` says so,
    // so a folder crowded with leftovers costs no more than the download's time.
    template <class Expired>
    bool create(const char* finalPath, Expired expired) {
        wchar_t folder[MAX_PATH] = L"";
        const size_t length = folderLength(finalPath);  // keeps "C:\\" a root
        if (length > 0 && gbk::toWide(finalPath, static_cast<int>(length), folder, MAX_PATH - 12) < 0) return false;
        const DWORD first = GetTickCount();
        for (DWORD n = 0; n <= 0xFFFF && !expired(); ++n) {
            wsprintfW(path, L"%spel%04X.tmp", folder, static_cast<unsigned>((first + n) & 0xFFFF));
            file.reset(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file) return true;
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
        }
        path[0] = L'\0';
        return false;
    }
    bool write(const char* bytes, DWORD count) {
        DWORD written = 0;
        return WriteFile(file.get(), bytes, count, &written, nullptr) && written == count;
    }
    bool moveTo(const char* finalPath) {
        file.reset();
        const gbk::WidePath target(finalPath);
        if (!target.ok || !MoveFileExW(path, target.text, MOVEFILE_REPLACE_EXISTING)) return false;
        path[0] = L'\0';
        return true;
    }

private:
    UniqueFile file;
    wchar_t path[MAX_PATH + 16] = {};
};

const char* findBytes(const char* haystack, size_t length, const char* needle, size_t needleLength) {
    if (needleLength > length) return nullptr;
    for (size_t i = 0; i + needleLength <= length; ++i) {
        if (std::memcmp(haystack + i, needle, needleLength) == 0) return haystack + i;
    }
    return nullptr;
}

// 1 when the socket is ready, 0 when `ms` passed without that, -1 on an error. While
// `connecting`, a failed connection shows as an error too.
int waitFor(SOCKET socket, bool toWrite, int ms, bool connecting) {
    fd_set set;
    fd_set failed;
    FD_ZERO(&set);
    FD_ZERO(&failed);
    FD_SET(socket, &set);
    FD_SET(socket, &failed);
    timeval bound{ms / 1000, (ms % 1000) * 1000};
    const int ready =
        select(0, toWrite ? nullptr : &set, toWrite ? &set : nullptr, connecting ? &failed : nullptr, &bound);
    if (ready > 0 && connecting && FD_ISSET(socket, &failed)) return -1;
    return ready > 0 ? 1 : ready;
}

// How long one wait looks before it asks whether the download is to stop.
constexpr int kStopSliceMs = 25;

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
        case Failure::nulInHeader:
            return "the response header holds a NUL byte";
        case Failure::encoded:
            return "the body comes in a content coding that was not asked for";
        case Failure::stopped:
            return "the download was told to stop";
    }
    return "unknown failure";
}

void HttpFetcher::removeTemporaryFiles(const char* folder) {
    wchar_t pattern[MAX_PATH + 16] = {};
    const int length = gbk::toWide(folder, static_cast<int>(strnlen(folder, MAX_PATH)), pattern, MAX_PATH);
    if (length < 0) return;
    lstrcatW(pattern, kTemporaryPattern);
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileW(pattern, &found));
    if (!search) return;
    do {
        wchar_t path[MAX_PATH + 16];
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY || length + lstrlenW(found.cFileName) >= MAX_PATH) {
            continue;
        }
        lstrcpynW(path, pattern, length + 1);
        lstrcatW(path, found.cFileName);
        DeleteFileW(path);
    } while (FindNextFileW(search.get(), &found));
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
                      waitFor(socket_.get(), false, 0, false) == 0;
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
    Failure onTimeout = Failure::silence;
    const int ms = waitBound(onTimeout);
    const int ready = ms > 0 ? waitSliced(socket, true, ms, true) : 0;
    if (ready == -2) return fail(Failure::stopped);
    if (ready == 0) return fail(onTimeout);
    if (ready < 0) return fail(Failure::connect);
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

// waitFor in slices, so that a stop ends it soon: -2 once stopped.
int HttpFetcher::waitSliced(SOCKET socket, bool toWrite, int ms, bool connecting) {
    for (;;) {
        if (stopped()) return -2;
        const int slice = ms < kStopSliceMs ? ms : kStopSliceMs;
        const int ready = waitFor(socket, toWrite, slice, connecting);
        ms -= slice;
        if (ready != 0 || ms <= 0) return ready;
    }
}

// 1 when the socket is ready, -1 (with the failure set) after silence, the deadline, a stop
// or an error.
int HttpFetcher::wait(SOCKET socket, bool toWrite) {
    Failure onTimeout = Failure::silence;
    const int ms = waitBound(onTimeout);
    const int ready = ms > 0 ? waitSliced(socket, toWrite, ms, false) : 0;
    if (ready == -2) fail(Failure::stopped);
    if (ready == 0) fail(onTimeout);
    if (ready == -1) fail(toWrite ? Failure::send : Failure::closed);
    return ready > 0 ? 1 : -1;
}

// What is left of the bytes that followed the head in its last receive: up to `size` of
// them, 0 when none are left.
int HttpFetcher::receiveEarly(char* buffer, int size) {
    const int count = earlyLength - earlyTaken < size ? earlyLength - earlyTaken : size;
    if (count <= 0) return 0;
    std::memcpy(buffer, early_ + earlyTaken, static_cast<size_t>(count));
    earlyTaken += count;
    return count;
}

// The count received, 0 when the peer has closed, -1 after silence, the deadline or an error.
// The body's first bytes may have come with the head; they are handed out first.
int HttpFetcher::receive(SOCKET socket, char* buffer, int size) {
    if (const int early = receiveEarly(buffer, size)) return early;
    if (wait(socket, false) < 0) return -1;
    const int received = ::recv(socket, buffer, size, 0);
    if (received == SOCKET_ERROR) {
        fail(Failure::closed);
        return -1;
    }
    return received;
}

// The head is read in blocks; what follows its blank line is the start of the body, kept for
// the body's first receives. True once the blank line has come; `stored` counts the head's
// bytes, or all received when it did not end. A NUL byte in the head is a fault, not its end.
bool HttpFetcher::readHead(SOCKET socket, char* out, int size, int& stored) {
    stored = 0;
    earlyLength = earlyTaken = 0;
    while (stored < size) {
        const int received = receive(socket, out + stored, size - stored);
        if (received < 0) return false;  // silence or the deadline, as receive recorded
        if (received == 0) return fail(Failure::closed);
        const int from = stored;
        const int searchFrom = stored >= 3 ? stored - 3 : 0;  // a blank line split between blocks
        stored += received;
        const char* blank = findBytes(out + searchFrom, static_cast<size_t>(stored - searchFrom), "\r\n\r\n", 4);
        const int headEnd = blank ? static_cast<int>(blank - out) + 4 : stored;
        if (std::memchr(out + from, '\0', static_cast<size_t>(headEnd - from))) return fail(Failure::nulInHeader);
        if (blank) {
            earlyLength = stored - headEnd;
            std::memcpy(early_, out + headEnd, static_cast<size_t>(earlyLength));
            stored = headEnd;
            return true;
        }
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
    for (int waited = 0; waited < kTextModePauseMs; waited += kStopSliceMs) {
        if (stopped()) return fail(Failure::stopped);
        Sleep(kStopSliceMs);
    }
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
    bool late = false;
    const auto expired = [&] {
        Failure ignored;
        return (late = waitBound(ignored) <= 0 || stopped());
    };
    if (!temporary.create(path, expired)) return fail(late ? Failure::deadline : Failure::file);
    char chunk[kChunkSize];
    size_t total = 0;
    for (;;) {
        const int received = nextBodyPiece(socket, body, chunk, kChunkSize);
        if (received < 0) return false;
        if (received == 0) break;
        total += static_cast<size_t>(received);
        if (total > static_cast<size_t>(kMaxFileBytes)) return fail(Failure::tooLarge);
        if (!temporary.write(chunk, static_cast<DWORD>(received))) return fail(Failure::file);
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
    // Bytes that came with the head beyond the body's end are stray: the server is out of step.
    reusable = body.framing.keepAlive && body.consumedExactly() && earlyTaken == earlyLength;
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
        const bool lostIdleConnection = reused && headLength == 0 && failure_ != Failure::silence &&
                                        failure_ != Failure::deadline && failure_ != Failure::stopped;
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
    return !framing.encoded || fail(Failure::encoded);
}
