// The service's console: one line per event on standard error, named by the program.
#pragma once

#include <string>

namespace webcam {

// "handview-camera: " and the text on standard error, as one line, whatever names it holds.
void consoleLine(const std::string& text);

}  // namespace webcam
