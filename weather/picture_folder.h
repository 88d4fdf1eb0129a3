#pragma once
// Where the weather icons are cached: the folder "picture" in the current directory, which
// the program makes its own folder at start.

#include <cstddef>

// Sets `folder` (of `size` bytes) to the picture folder's name relative to the current
// directory, ending in a separator. Names only: nothing on disk is touched, since the panel
// is made before the program has entered its own folder. False, leaving `folder` empty,
// when there is no such folder (the host's fuzzers); every refresh then fails at its icons.
bool preparePictureFolder(char* folder, size_t size);

// Makes the folder `folder` names (GBK, ending in a separator) and removes the temporary
// files that downloads interrupted by the end of their process left there. Called once the
// program is in its own folder.
void makePictureFolder(const char* folder);
