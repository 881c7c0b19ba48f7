// The data directories are found from the executable's own path, so any working directory works.
#include "tracker/DataFiles.h"

#include <sys/stat.h>
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
    struct stat status {};
    const std::string data = directory + "../share/handview/";
    return !directory.empty() && stat(data.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? data
                                                                                             : std::string();
}

std::string dataFilePath(const char* path, bool besideExecutable) {
    const std::string installed = installedDataDirectory();
    if (!installed.empty()) return installed + nativePath(path);
    if (std::ifstream(nativePath(path)).is_open() || !besideExecutable) return path;
    const std::string build = executableDirectory() + nativePath(path);
    return std::ifstream(build).is_open() ? build : path;
}
