#include "webcam/Console.h"

#include <cstdio>

namespace webcam {

void consoleLine(const std::string& text) {
    std::fprintf(stderr, "handview-camera: %s\n", text.c_str());
}

}  // namespace webcam
