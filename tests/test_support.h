#pragma once
// What the Windows tests share: a guard page after what a parser reads, a temporary folder, an
// icon file, a server playing scripts on 127.0.0.1, and a canvas whose pixels can be counted.

#include "common/unique.h"

#include <winsock2.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

// `text` placed so that its terminator comes right before a PAGE_NOACCESS page.
inline const char* atPageEnd(const std::string& text) {
    static char* const base = [] {
        auto* pages = static_cast<char*>(VirtualAlloc(nullptr, 3 * 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous;
        VirtualProtect(pages + 2 * 4096, 4096, PAGE_NOACCESS, &previous);
        return pages;
    }();
    const size_t size = text.size() + 1;
    char* at = base + 2 * 4096 - size;
    std::memcpy(at, text.c_str(), size);
    return at;
}

// A folder of the test's own under the temporary folder, emptied first and removed at the end.
struct TempFolder {
    std::filesystem::path path;
    explicit TempFolder(const std::string& name)
        : path(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(GetCurrentProcessId()))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string prefix(const std::string& word = "") const { return path.string() + "\\" + word; }
};

// An icon file of two colours, the first inside the top-left square of side `edge`. A bitmap: the
// picture loader goes by the bytes, never by the ".gif" in the file's name.
inline std::string iconFile(int width, int height, COLORREF inside, COLORREF outside, int edge) {
    const BITMAPINFOHEADER info{sizeof info, width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER file{0x4D42, offset + 4u * width * height, 0, 0, offset};
    std::string out = std::string(reinterpret_cast<const char*>(&file), sizeof file) +
                      std::string(reinterpret_cast<const char*>(&info), sizeof info);
    for (int y = height - 1; y >= 0; --y) {  // bottom row first
        for (int x = 0; x < width; ++x) {
            const COLORREF c = x < edge && y < edge ? inside : outside;
            out += {char(GetBValue(c)), char(GetGValue(c)), char(GetRValue(c)), 0};
        }
    }
    return out;
}

inline std::string ok(const std::string& body, const std::string& head = "HTTP/1.1 200 OK\r\n") {
    return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Plays one script per connection on a free port of 127.0.0.1, in order: "<" and how a request
// must begin reads one, ">" sends bytes, "~" pauses that many ms, "|" closes, and at the end the
// connection is held until the client closes it. Waits end after kHoldMs; extra connections wait.
using Script = std::vector<std::string>;

class ScriptedServer {
public:
    static constexpr int kHoldMs = 5000;
    explicit ScriptedServer(std::function<std::vector<Script>(const std::string& host)> scripts)
        : scripts_(scripts(host())) {}
    explicit ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {}
    ~ScriptedServer() {
        finished();
        closesocket(listener);
        WSACleanup();
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port); }
    std::string url(const std::string& path) const { return "http://" + host() + path; }
    bool finished() {  // waits for the end: true when every script was played to its end
        if (thread.joinable()) thread.join();
        return played == scripts_.size();
    }

private:
    static bool readable(SOCKET socket) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval bound{kHoldMs / 1000, 0};
        return select(0, &set, nullptr, nullptr, &bound) > 0;
    }
    static bool play(SOCKET connection, const Script& steps) {
        char c;
        for (const std::string& step : steps) {
            std::string request;
            if (step[0] == '|') return true;
            if (step[0] == '>') send(connection, step.data() + 1, static_cast<int>(step.size() - 1), 0);
            if (step[0] == '~') Sleep(std::stoi(step.substr(1)));
            while (step[0] == '<' && (request.size() < 4 || request.substr(request.size() - 4) != "\r\n\r\n")) {
                if (!readable(connection) || recv(connection, &c, 1, 0) <= 0) return false;
                request += c;
            }
            if (step[0] == '<' && request.compare(0, step.size() - 1, step, 1) != 0) return false;
        }
        while (readable(connection) && recv(connection, &c, 1, 0) > 0) continue;
        return true;
    }

    SOCKET listener = [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        return ::socket(AF_INET, SOCK_STREAM, 0);
    }();
    const int port = [this] {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        bind(listener, reinterpret_cast<sockaddr*>(&address), size);
        listen(listener, 8);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
        return static_cast<int>(ntohs(address.sin_port));
    }();
    std::vector<Script> scripts_;
    size_t played = 0;
    std::thread thread{[this] {
        for (const Script& script : scripts_) {
            if (!readable(listener)) return;
            const SOCKET connection = accept(listener, nullptr, nullptr);
            played += play(connection, script);
            closesocket(connection);
        }
    }};
};

// A memory DC over a top-down 32-bit DIB section whose pixels are counted in an area: with `shades`, a
// colour counts in the darker shades anti-aliasing gives it over black; no colour counts all not black.
class Canvas {
public:
    Canvas(int width, int height, bool shades) : width_(width), height_(height), shades_(shades) {
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap.reset(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0));
        SelectObject(dc.get(), bitmap.get());
    }
    HDC get() const { return bits ? dc.get() : nullptr; }

    // FNV-1a over every pixel, to hold a picture to the one an earlier build drew.
    uint64_t hash() const {
        GdiFlush();
        uint64_t h = 14695981039346656037ull;
        for (int i = 0; i < width_ * height_; ++i) h = (h ^ (bits[i] & 0xFFFFFF)) * 1099511628211ull;
        return h;
    }

    template <class Box = RECT>  // any type with the four sides, or braces
    int count(const Box& a, COLORREF color = 0) const {
        GdiFlush();
        int n = 0;
        for (int y = std::max<int>(a.top, 0); y < std::min<int>(a.bottom, height_); ++y) {
            for (int x = std::max<int>(a.left, 0); x < std::min<int>(a.right, width_); ++x) {
                const uint32_t v = bits[y * width_ + x];  // 0x00RRGGBB
                const COLORREF p = RGB(v >> 16, v >> 8, v);
                const BYTE level = std::max({GetRValue(p), GetGValue(p), GetBValue(p)});
                n += level && (!color || p == (shades_ ? color & RGB(level, level, level) : color));
            }
        }
        return n;
    }

private:
    int width_, height_;
    bool shades_;
    UniqueGdi bitmap;  // before the DC, so the DC goes first and lets go of it
    UniqueMemoryDc dc{CreateCompatibleDC(nullptr)};
    uint32_t* bits = nullptr;
};

}  // namespace test_support
