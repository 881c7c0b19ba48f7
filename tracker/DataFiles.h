// Where the program's own files are: the installed tree's when it runs from one, else the
// working directory's.
#pragma once

#include <string>

// A program running from an install prefix (its `../share/handview/` exists) takes `path` (relative,
// backslashes allowed) from there, never from the working directory, whatever that holds. A
// build-tree program takes `path` as it is when it opens; else, only when `besideExecutable`, the
// copy beside the executable; else `path` unchanged.
std::string dataFilePath(const char* path, bool besideExecutable);
// An installed tree's data, `<executable's directory>/../share/handview/`: found from the running
// executable, never by an absolute path, so a build tree's program never picks up a copy installed
// elsewhere on the machine. Empty when there is none: a build-tree program.
std::string installedDataDirectory();
// The running executable's directory with its final slash; empty when unknown.
std::string executableDirectory();
// The program's paths are written with backslashes; the file system here wants forward slashes.
std::string nativePath(const char* path);
