#include "webcam/Console.h"

#include <cstdio>

#include "tracker/Console.h"

namespace webcam {

void consoleLine(const std::string& text) {
    std::fprintf(stderr, "handview-camera: %s\n", Leap::printable(text, Leap::kWholeLine).c_str());
}

}  // namespace webcam
