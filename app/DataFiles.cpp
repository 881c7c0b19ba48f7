// The data directories are found from the executable's own path, so any working directory works.
#include "app/DataFiles.h"

#include <fstream>

#include "app/Installed.h"
#include "render/OglShader.h"

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
