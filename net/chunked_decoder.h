#pragma once
// The chunked transfer coding, undone in place as the bytes arrive. Bytes only.

#include <cstddef>
#include <cstdint>

// Undoes the chunked transfer coding as the bytes arrive, in place, in pieces cut anywhere.
// Chunk extensions and trailer lines are skipped; a bare LF is accepted where CR LF belongs.
class ChunkedDecoder {
public:
    // A size line (its extension included, its line end not), or the whole trailer.
    static constexpr size_t kMaxLineLength = 4096;

    // Consumes `size` received bytes and moves the body bytes among them to the front of
    // `data`; returns how many there are. Once done() or failed(), further bytes are
    // only counted in excess().
    size_t decode(char* data, size_t size);
    // The last chunk and the trailer after it have been read.
    bool done() const { return state == State::done; }
    // The framing is broken: a size that is not hex or beyond 32 bits, data not followed by
    // a line end, or a line longer than kMaxLineLength.
    bool failed() const { return state == State::failed; }
    // Bytes that came after the end of the body (or after the fault).
    size_t excess() const { return excess_; }

private:
    enum class State { size, extension, sizeLineFeed, data, dataReturn, dataLineFeed, trailer, done, failed };
    void endSizeLine();

    State state = State::size;
    uint32_t chunkSize = 0;
    uint32_t remaining = 0;
    size_t lineLength = 0;
    size_t trailerLineLength = 0;
    bool sawDigit = false;
    size_t excess_ = 0;
};
