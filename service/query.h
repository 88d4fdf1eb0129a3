#pragma once
// The search query of a request target: strict percent-decoding, GBK well-formedness and the
// city of a weather search. Bytes only; no sockets.

#include <cstddef>
#include <string>
#include <string_view>

namespace forecast {

// Longest request target (path and query) served; the program's longest query is about 160
// bytes, so anything near this bound is not one of its requests.
constexpr std::size_t kMaxTarget = 400;

// Decodes %XX escapes and '+' (a blank) into `out`, replacing its content. False, with `out`
// unspecified, when a '%' is not followed by two hex digits.
bool percentDecode(std::string_view in, std::string& out);

// True when `text` is well-formed GBK without control bytes: ASCII from 0x20, or a lead byte
// 0x81..0xFE followed by a trail byte 0x40..0x7E or 0x80..0xFE.
bool isWellFormedGbk(std::string_view text);

enum class QueryKind {
    Weather,      // wd is the weather words, a blank and a city (possibly empty)
    OtherSearch,  // a well-formed search for anything else
    Malformed,    // a bad percent-escape, a missing wd, or a wd that is not GBK
};

struct SearchQuery {
    QueryKind kind = QueryKind::Malformed;
    std::string words;  // decoded wd (GBK) for Weather and OtherSearch
    std::string city;   // GBK, blanks trimmed; empty for "no city named"
};

// Parses the query part of a target (the text after '?'). Keys other than wd (bs, f, ...) are
// accepted and ignored; of repeated keys the first counts.
SearchQuery parseSearchQuery(std::string_view query);

}  // namespace forecast
