#include "weather/picture_folder.h"

#include "common/gbk_wide.h"
#include "net/http_fetcher.h"

#include <cstring>

namespace {
// Relative, so that a program folder whose name the GBK fields cannot hold (C:\工具\ on a
// Windows whose code page is another) still reaches its icons: the system resolves it
// against the current directory, which it keeps in UTF-16.
constexpr char kPictureFolder[] = "picture\\";
}  // namespace

bool preparePictureFolder(char* folder, size_t size) {
    if (size < sizeof kPictureFolder) return false;
    std::memcpy(folder, kPictureFolder, sizeof kPictureFolder);
    return true;
}

void makePictureFolder(const char* folder) {
    const gbk::WidePath path(folder);
    if (!path.ok || path.text[0] == L'\0') return;
    CreateDirectoryW(path.text, nullptr);  // an existing folder is fine
    HttpFetcher::removeTemporaryFiles(folder);
}
