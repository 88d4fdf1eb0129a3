#include "weather/picture_folder.h"

#include "net/http_fetcher.h"

#include <windows.h>

#include <cstring>

namespace {
constexpr char kPictureSubfolder[] = "\\picture\\";
}

bool preparePictureFolder(char* folder, size_t size) {
    char path[MAX_PATH + sizeof kPictureSubfolder] = {};
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH || length + sizeof kPictureSubfolder > size) return false;
    std::memcpy(path + length, kPictureSubfolder, sizeof kPictureSubfolder);
    std::memcpy(folder, path, length + sizeof kPictureSubfolder);
    CreateDirectoryA(folder, nullptr);  // an existing folder is fine
    HttpFetcher::removeTemporaryFiles(folder);
    return true;
}
