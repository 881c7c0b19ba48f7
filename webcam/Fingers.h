// Which fingers a hand holds out, judged from the shape of its 21 landmarks alone.
#pragma once

#include <array>

#include "webcam/Hand.h"

namespace webcam {

// Thumb first. Works on any scale and orientation of the landmarks.
std::array<bool, kFingers> extendedFingers(const std::array<Point3, kLandmarks>& landmarks);

}  // namespace webcam
