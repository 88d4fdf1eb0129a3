#pragma once
// UTF-8 (the data file, the command line, the log) to GBK (the wire) and back, with glibc's iconv.

#include <string>
#include <string_view>

namespace forecast {

// Both replace `out`. False when `in` is not valid in its encoding, or holds a character that the
// other encoding lacks; `out` is then unspecified.
bool utf8ToGbk(std::string_view in, std::string& out);
bool gbkToUtf8(std::string_view in, std::string& out);

}  // namespace forecast
