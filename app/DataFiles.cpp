// The data directories are found from the executable's own path, so any working directory works.
#include "app/DataFiles.h"

#include <unistd.h>

#include <fstream>

std::string executableDirectory() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    const std::string exe(buffer, size_t(length));
    return exe.substr(0, exe.rfind('/') + 1);
}

std::string nativePath(const char* path) {
    std::string native(path);
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}

std::string installedDataDirectory() {
    const std::string directory = executableDirectory();
    return directory.empty() ? directory : directory + "../share/handview/";
}

std::string dataFilePath(const char* path, bool besideExecutable) {
    if (std::ifstream(nativePath(path)).is_open()) return path;
    const std::string build = besideExecutable ? executableDirectory() : std::string();
    for (const std::string& directory : {build, installedDataDirectory()}) {
        if (directory.empty()) continue;
        const std::string candidate = directory + nativePath(path);
        if (std::ifstream(candidate).is_open()) return candidate;
    }
    return path;
}
