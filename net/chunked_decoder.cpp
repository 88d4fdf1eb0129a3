#include "net/chunked_decoder.h"

#include "common/ascii.h"

#include <cstring>

void ChunkedDecoder::endSizeLine() {
    if (chunkSize == 0) {
        state = State::trailer;
    } else {
        remaining = chunkSize;
        state = State::data;
    }
    chunkSize = 0;
    sawDigit = false;
    lineLength = 0;
    trailerLineLength = 0;
}

size_t ChunkedDecoder::decode(char* data, size_t size) {
    size_t out = 0;
    size_t in = 0;
    for (; in < size && state != State::done && state != State::failed; ++in) {
        const char c = data[in];
        switch (state) {
            case State::size: {
                const int digit = ascii::digitValue(c);
                if (digit < 16) {
                    if (chunkSize > 0x0FFFFFFFu || ++lineLength > kMaxLineLength) {
                        state = State::failed;
                    } else {
                        chunkSize = chunkSize * 16 + static_cast<uint32_t>(digit);
                        sawDigit = true;
                    }
                } else if (!sawDigit) {
                    state = State::failed;
                } else if (c == ';' || c == ' ' || c == '\t') {
                    // The extension's first byte counts against the line like the rest of it.
                    state = ++lineLength > kMaxLineLength ? State::failed : State::extension;
                } else if (c == '\r') {
                    state = State::sizeLineFeed;
                } else if (c == '\n') {
                    endSizeLine();
                } else {
                    state = State::failed;
                }
                break;
            }
            case State::extension:
                // The line end is not part of the line, whichever form it takes.
                if (c == '\n') {
                    endSizeLine();
                } else if (c == '\r') {
                    state = State::sizeLineFeed;
                } else if (++lineLength > kMaxLineLength) {
                    state = State::failed;
                }
                break;
            case State::sizeLineFeed:
                if (c == '\n') {
                    endSizeLine();
                } else {
                    state = State::failed;
                }
                break;
            case State::data: {
                const size_t available = size - in;
                const size_t take = remaining < available ? remaining : available;
                std::memmove(data + out, data + in, take);
                out += take;
                in += take - 1;
                remaining -= static_cast<uint32_t>(take);
                if (remaining == 0) state = State::dataReturn;
                break;
            }
            case State::dataReturn:
                state = c == '\r' ? State::dataLineFeed : c == '\n' ? State::size : State::failed;
                break;
            case State::dataLineFeed:
                state = c == '\n' ? State::size : State::failed;
                break;
            case State::trailer:
                if (++lineLength > kMaxLineLength) {
                    state = State::failed;
                } else if (c == '\n') {
                    if (trailerLineLength == 0) state = State::done;
                    trailerLineLength = 0;
                } else if (c != '\r') {
                    ++trailerLineLength;
                }
                break;
            case State::done:
            case State::failed:
                break;
        }
    }
    excess_ += size - in;
    return out;
}
