// Paths of the source tree and of the test output folder, fixed at configure time.
#include "support/TestData.h"

#include <fstream>
#include <sstream>

std::string sourcePath(const std::string& relative) {
    return std::string(HANDVIEW_SOURCE_DIR) + "/" + relative;
}

std::string testOutputPath(const std::string& relative) {
    return std::string(HANDVIEW_TEST_OUTPUT) + "/" + relative;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
