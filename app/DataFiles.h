// Where the program's own files are when the working directory does not hold them.
#pragma once

#include <string>

// `path` (relative, backslashes allowed) when it opens from the working directory; else the first
// copy that opens beside the executable (the build tree, only `besideExecutable`), then in the
// installed tree; else `path` unchanged.
std::string dataFilePath(const char* path, bool besideExecutable);
// An installed tree's data, `<executable's directory>/../share/handview/`: found from the running
// executable, never by an absolute path, so a build tree's program never picks up a copy installed
// elsewhere on the machine. Empty when the executable's place is unknown.
std::string installedDataDirectory();
// The running executable's directory with its final slash; empty when unknown.
std::string executableDirectory();
// The program's paths are written with backslashes; the file system here wants forward slashes.
std::string nativePath(const char* path);
