// Paths of the source tree and of the test output folder, fixed at configure time.
#include "support/TestData.h"

std::string sourcePath(const std::string& relative) {
    return std::string(HANDVIEW_SOURCE_DIR) + "/" + relative;
}

std::string testOutputPath(const std::string& relative) {
    return std::string(HANDVIEW_TEST_OUTPUT) + "/" + relative;
}
