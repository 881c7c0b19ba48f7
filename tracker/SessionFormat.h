// The project's hand session files (README-format.md): plain text, one line per hand per frame.
#pragma once

#include "tracker/ReplayFormat.h"

namespace Leap {

// A mistake on any line stops the file there, naming the line and the fault.
std::unique_ptr<ReplayFormat> makeSessionReader();

}  // namespace Leap
