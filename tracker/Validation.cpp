// Finite values only, positions within 10 m of the device, normals of about unit length: a value
// past these is a broken frame, and would fling the camera.
#include "tracker/Validation.h"

#include <cmath>

namespace Leap {

namespace {

constexpr float kMaxPositionMm = 10000.0f;
constexpr float kMaxNormalComponent = 2.0f;

bool within(const Vector& v, float limit) {
    return std::fabs(v.x) <= limit && std::fabs(v.y) <= limit && std::fabs(v.z) <= limit;  // false for NaN
}

}  // namespace

const char* handProblem(const HandData& hand) {
    if (!within(hand.palmPosition, kMaxPositionMm)) return "a palm position is out of range";
    if (!within(hand.palmNormal, kMaxNormalComponent)) return "a palm normal is out of range";
    if (hand.tips.size() > kMaxFingertips) return "more than 10 fingertips on a hand";
    for (const Vector& tip : hand.tips)
        if (!within(tip, kMaxPositionMm)) return "a fingertip is out of range";
    return nullptr;
}

}  // namespace Leap
