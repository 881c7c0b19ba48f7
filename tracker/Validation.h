// The limits every frame meets before the controller hands it on, whatever its source: a live
// message, a recording or a session file.
#pragma once

#include <cstddef>

#include "Leap.h"

namespace Leap {

constexpr size_t kMaxHands = 10;       // a frame
constexpr size_t kMaxFingertips = 10;  // a hand

// Null for a hand within the limits, else what is wrong, a short phrase.
const char* handProblem(const HandData& hand);

}  // namespace Leap
