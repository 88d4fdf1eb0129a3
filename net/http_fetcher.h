#pragma once
// A small blocking HTTP/1.1 GET client over one TCP socket, for the forecast page and the
// weather icons. It asks the server to keep the connection and reuses it for the next
// download to the same host and port while that is safe. Every connect, send and receive
// gives up after a bounded time of silence, and every download after an overall deadline,
// so a stalled or trickling server costs the caller's thread at most that long.

#include <winsock2.h>

#include "common/unique.h"

#include <atomic>
#include <cstdint>

#include "net/body_framing.h"
#include "net/chunked_decoder.h"
#include "net/http_head.h"
#include "net/url_parts.h"

// Owns one socket together with the Winsock start-up made for it: closing it releases both,
// which keeps start-ups and releases paired one to one. 0 means none, as the fetcher's
// socket field has it; INVALID_SOCKET left by a failed socket() counts as held, so that the
// start-up made for it is still released.
struct WinsockSocketTraits {
    using Handle = SOCKET;
    static Handle invalid() { return 0; }
    static void close(Handle socket) {
        closesocket(socket);
        WSACleanup();
    }
};
using UniqueWinsockSocket = Unique<WinsockSocketTraits>;

class HttpFetcher {
public:
    static constexpr int kDefaultSilenceMs = 10000;
    static constexpr int kDeadlineMs = 15000;      // one whole download, from its call to its end
    static constexpr int kMaxHeaderBytes = 16384;  // a longer response header fails the download
    static constexpr int kMaxFileBytes = 1 << 20;  // 1 MB: a longer body fails a file-mode download
    static constexpr int kHeaderSize = 1000;       // how much of the header headerText() keeps
    static constexpr int kChunkSize = 1000;
    static constexpr int kSavedPathSize = 256;
    static constexpr int kMaxPathLength = 240;  // "GET " path " HTTP/1.1\r\n" fits a 256-byte line

    // Why the last download failed; none after a success.
    enum class Failure {
        none,
        input,
        url,
        winsock,
        socket,
        lookup,
        connect,
        send,
        silence,
        deadline,
        closed,
        header,
        status,
        body,
        tooLarge,
        nulInHeader,
        encoded,
        file,
        stopped
    };

    // `silenceMs` bounds every wait on the network: a connect, a send, or a receive that
    // sees no byte for that long fails the download. `deadlineMs` bounds each download as a
    // whole, the text mode's first second included. Values of 0 or less take the defaults.
    explicit HttpFetcher(int silenceMs = kDefaultSilenceMs, int deadlineMs = kDeadlineMs);
    // Releases a socket that is still held, as close() would.
    virtual ~HttpFetcher() = default;
    HttpFetcher(const HttpFetcher&) = delete;
    HttpFetcher& operator=(const HttpFetcher&) = delete;

    // Fetches `url` (zero-terminated, under 256 bytes, http:// or ftp://; spoken to in HTTP
    // either way) and accepts the response only with status 200 or 206.
    //
    // Text mode, `destination` given: appends the body from the first occurrence of the
    // marker `text` on (the whole body when `text` is null) to the zero-terminated string
    // already in `destination`, whose size is `limit` bytes; it stays terminated and takes at
    // most limit - 1 bytes in all. Zero bytes of the body are left out. Reading stops when
    // the body ends or the room is used up. The body is read from one second after the header.
    //
    // File mode, `destination` null: saves the body to `text` (the prefix, null for none)
    // followed by the URL's decoded file name; see savedPath(). True at once, without any
    // network use, when a regular file of that name already exists (a folder or a device
    // name does not count). The body, at most kMaxFileBytes, goes to a temporary file in the
    // same folder first and is moved into place only once complete, so a failed download
    // never leaves a file under the final name.
    //
    // False on any failure: a URL that does not split or whose path is longer than 240 bytes,
    // an empty host, a limit of 1000 or less, a destination without a terminator within its
    // limit, a marker longer than 1000 bytes, a saved path of 256 bytes or more, a failed
    // lookup, connect, send or receive, silence beyond the bound, the deadline passed, no
    // header or one over kMaxHeaderBytes, a NUL byte in the header, another status, a
    // Content-Encoding other than identity (never asked for: the body would not be the
    // resource), a body cut short of its declared end, a file body over kMaxFileBytes, a file
    // that cannot be written, or a stop (see stopOn).
    bool download(const char* url, const char* text, char* destination, int limit);

    // The path of the last file-mode download, set also when the file already existed;
    // empty when the path did not fit, unchanged by text mode and by a URL that did not split.
    const char* savedPath() const { return savedPath_; }

    // Once `stop` (null for never) is set, the download in progress fails within a few tens
    // of milliseconds, wherever it waits; set from another thread to end a stalled one.
    void stopOn(const std::atomic<bool>* stop) { stop_ = stop; }

    // Closes a held socket and releases Winsock; false, doing nothing, when none is held.
    bool close();

    // Deletes what downloads into `folder` (a path ending in a separator) left behind when
    // their process was killed. Files still open in a running download stay.
    static void removeTemporaryFiles(const char* folder);

    // For tools and diagnostics: why the last download failed, in a short English phrase,
    // and the first kHeaderSize bytes of the response header it received, if any.
    Failure failure() const { return failure_; }
    static const char* describe(Failure failure);
    const char* headerText() const { return headerText_; }

private:
    struct BodySource;

    int buildRequest(const char* host, const char* path, char* out, int outSize);
    bool openConnection(const char* host, int port);
    bool readHead(SOCKET socket, char* out, int size, int& stored);
    int receiveEarly(char* buffer, int size);
    bool downloadText(const UrlParts& parts, const char* marker, char* destination, int limit);
    bool downloadFile(const UrlParts& parts, const char* prefix);
    bool setSavedPath(const char* prefix, const char* fileName);
    bool requestHead(const UrlParts& parts, BodyFraming& framing);
    bool finishBody(const BodySource& body);

    bool prepareConnection(const char* host, int port);
    bool connectWithBound(SOCKET socket, const sockaddr_in& address);
    bool sendAll(SOCKET socket, const char* data, int length);
    int waitBound(Failure& onTimeout) const;
    int wait(SOCKET socket, bool toWrite);
    int waitSliced(SOCKET socket, bool toWrite, int ms, bool connecting);
    bool stopped() const { return stop_ && stop_->load(); }
    int receive(SOCKET socket, char* buffer, int size);
    int nextBodyPiece(SOCKET socket, BodySource& body, char* buffer, int size);
    bool takeText(SOCKET socket, BodySource& body, const char* marker, char* destination, int limit);
    bool saveFile(SOCKET socket, BodySource& body, const char* path);
    bool fail(Failure why);

    char headerText_[kHeaderSize + 1]{};
    char savedPath_[kSavedPathSize]{};
    UniqueWinsockSocket socket_;
    hostent* hostEntry = nullptr;  // the socket library's; only valid while connecting

    // Where the held socket is connected and whether its last response was read to its end
    // with the server willing to go on: only then may the next download to the same host and
    // port reuse it. The host is fixed-size like every other field and fits any parsed host.
    char connectedHost[UrlParts::kHostSize]{};
    int connectedPort = -1;
    bool reusable = false;
    int silenceMs;
    int deadlineMs;
    DWORD downloadStart = 0;  // GetTickCount at the start of the current download
    Failure failure_ = Failure::none;
    const std::atomic<bool>* stop_ = nullptr;
    // What came after the response head in the head's last receive: the body's first bytes,
    // handed out before the socket is read again.
    char early_[kMaxHeaderBytes]{};
    int earlyLength = 0;
    int earlyTaken = 0;
};
