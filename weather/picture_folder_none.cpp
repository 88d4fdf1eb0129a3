#include "weather/picture_folder.h"

// For builds without an icon cache (the Linux host, where the scraper is fuzzed): no folder.
bool preparePictureFolder(char*, size_t) { return false; }
void makePictureFolder(const char*) {}
