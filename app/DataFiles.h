// Where the program's own files are when the working directory does not hold them.
#pragma once

#include <string>

// `path` (relative, backslashes allowed) when it opens from the working directory; else the first
// copy that opens in the data directories: beside the executable (the build tree), then
// ../share/handview from it (an installed tree); else `path` unchanged.
std::string dataFilePath(const char* path);
// The program's paths are written with backslashes; the file system here wants forward slashes.
std::string nativePath(const char* path);
