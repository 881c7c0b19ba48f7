// The executable's own path, from the kernel: whatever the working directory and argv[0].
#include "app/Installed.h"

#include <unistd.h>

std::string executableDirectory() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return std::string();
    const std::string exe(buffer, size_t(length));
    return exe.substr(0, exe.rfind('/') + 1);
}

std::string installedDataDirectory() {
    const std::string directory = executableDirectory();
    return directory.empty() ? directory : directory + "../share/handview/";
}
