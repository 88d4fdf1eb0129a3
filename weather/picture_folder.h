#pragma once
// Where the weather icons are cached: a folder below the process's current directory.

#include <cstddef>

// Sets `folder` (of `size` bytes) to the current directory followed by "\picture\", makes
// that folder and removes temporary files that an interrupted download left there. False,
// leaving `folder` empty, when the path does not fit: every refresh then fails at its icons
// instead of saving them under a cut name. Each build provides this: the Windows program
// from the file system, a build without one (the host's fuzzers) with no folder at all.
bool preparePictureFolder(char* folder, size_t size);
