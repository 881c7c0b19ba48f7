// Where the program's own files are when the working directory does not hold them.
#pragma once

#include <string>

// `path` (relative, backslashes allowed) when it opens from the working directory; else the first
// copy that opens beside the executable (the build tree, only `besideExecutable`), then in the
// installed tree (app/Installed.h); else `path` unchanged.
std::string dataFilePath(const char* path, bool besideExecutable);
