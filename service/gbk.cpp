#include "service/gbk.h"

#include <iconv.h>

#include "common/unique_owner.h"

namespace forecast {
namespace {

struct IconvTraits {
    using Handle = iconv_t;
    static Handle invalid() { return reinterpret_cast<iconv_t>(-1); }
    static void close(Handle h) { iconv_close(h); }
};
using UniqueIconv = Unique<IconvTraits>;

bool convert(const char* to, const char* from, std::string_view in, std::string& out) {
    UniqueIconv cd(iconv_open(to, from));
    if (!cd) return false;
    // Two output bytes per input byte cover both directions: GBK to UTF-8 grows a
    // two-byte character to three bytes at most, UTF-8 to GBK never grows.
    out.assign(in.size() * 2 + 1, '\0');
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return false;
    out.resize(out.size() - outLeft);
    return inLeft == 0;
}

}  // namespace

bool utf8ToGbk(std::string_view in, std::string& out) { return convert("GBK", "UTF-8", in, out); }

bool gbkToUtf8(std::string_view in, std::string& out) { return convert("UTF-8", "GBK", in, out); }

}  // namespace forecast
