#pragma once
// An absolute URL split into what a plain HTTP request needs, and the GBK percent coding
// of request paths and file names. Only double-byte characters are escaped: every single
// byte, space and '%' included, passes as it is, which is what the forecast service and
// the icon server expect. Bytes and fixed-size fields only; no allocation, no platform
// calls besides the lead-byte test.

#include <cstddef>
#include <cstdint>

class UrlParts {
public:
    static constexpr size_t kPathSize = 260;
    static constexpr size_t kHostSize = 64;
    static constexpr size_t kFileNameSize = 64;
    static constexpr size_t kUrlSize = 256;

    UrlParts() = default;
    virtual ~UrlParts() = default;

    // Splits the zero-terminated `url`. True when its scheme is http:// or ftp:// (any ASCII
    // case; the scheme only picks the default port, 80 or 21) and the last path segment
    // decodes to a non-empty file name. False, with the fields holding whatever was filled
    // before the failing step, for a null or unknown-scheme URL, a URL without a '/' after
    // the host, and for anything that does not fit its field: a URL of 256 bytes or more
    // (246 or more when it ends in '/', which gets "index.html" appended), a host of 64
    // characters or more, an encoded path of 260 bytes or more, or a file name that decodes
    // to 64 bytes or more. The URL is read no further than its 256th byte.
    bool parse(const char* url);

    // 0..65535: the scheme's default port, or the number after the first ':' that follows
    // the host, wherever it stands (a ':' inside the path counts too), cut to 16 bits.
    int port() const { return port_; }
    const char* host() const { return host_; }
    // From the first '/' after the host to the end, query included, double-byte characters
    // escaped; empty when no '/' follows the host.
    const char* path() const { return path_; }
    // The last path segment, decoded, keeping only ASCII letters, digits, '.' and the
    // double-byte characters that were escaped.
    const char* fileName() const { return fileName_; }
    const char* url() const { return url_; }

    // Writes `source` with every double-byte character turned into two %XX escapes
    // (upper-case hex) into `destination`, terminator included. A lead byte right before the
    // terminator pairs with it as %XX%00. At most 3 * strlen(source) + 4 bytes are needed.
    // False, with the destination untouched, for a null source or destination or when the
    // result does not fit in `destinationSize` bytes.
    static bool percentEncode(const char* source, char* destination, size_t destinationSize);
    template <size_t N>
    static bool percentEncode(const char* source, char (&destination)[N]) {
        return percentEncode(source, destination, N);
    }

    // Writes the zero-terminated decoded form of `source`: a pair of %XX escapes whose first
    // byte is a lead byte becomes those two bytes; a '%' that does not begin such a pair is
    // dropped and the characters after it are taken one by one (so %41%42 gives 4142);
    // ASCII letters, digits and '.' are copied and every other byte is dropped. The result is
    // never longer than the source. False, with the destination untouched, for a null source
    // or destination or when the result does not fit in `destinationSize` bytes.
    static bool percentDecode(const char* source, char* destination, size_t destinationSize);
    template <size_t N>
    static bool percentDecode(const char* source, char (&destination)[N]) {
        return percentDecode(source, destination, N);
    }

    // Four upper-case hex digits, high nibble first, for two bytes; no terminator.
    static void hexPair(unsigned char first, unsigned char second, char out[4]);
    // '0'..'9' give 0..9; an ASCII letter gives (its upper case - 'A' + 10) mod 16, so
    // 'a'..'f' give 10..15 and 'G' gives 0; anything else gives 0.
    static int hexDigitValue(char c);
    // ASCII letters, digits, '-', '.' and '_'.
    static bool isHostChar(char c);

private:
    void clear();

    // Zero until the first parse, so that the accessors are always terminated strings.
    char path_[kPathSize]{};
    char host_[kHostSize]{};
    char fileName_[kFileNameSize]{};
    char url_[kUrlSize]{};
    uint16_t port_{};
};
