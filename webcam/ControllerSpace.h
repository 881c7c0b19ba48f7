// From a hand seen in a camera image to the hand a controller would report: millimetres, x to
// the user's right, y up, z towards the user; and the smoothing that steadies it over frames.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "Leap.h"
#include "webcam/Hand.h"

namespace webcam {

// The camera's focal length in pixels for an image this wide: a common webcam's field of about 65°.
float focalLengthPx(int imageWidth);

// The rest pose is held this far from the camera.
constexpr float kRestDistanceMm = 400.0f;

struct ControllerHand {
    Leap::Vector palmPosition;
    Leap::Vector palmNormal;  // out of the palm
    Leap::Vector direction;   // from the palm towards the fingers
    std::array<Leap::Vector, kFingers> tips{};
    std::array<bool, kFingers> extended{};
    float score = 0;
};

// The image is mirrored, as a selfie view: a hand moving right moves right. Position follows the
// hand's place in the image and its distance (from its apparent size); the orientation is the
// hand's, turned so that an open hand held up facing the screen reads as a controller's hand at
// rest, palm down over it. None for landmarks that make no hand (collapsed, not finite).
std::optional<ControllerHand> toControllerSpace(const HandSighting& hand, int imageWidth, int imageHeight);

// Steadies a hand over a few frames: slow changes (the jitter of a still hand) are smoothed
// strongly, fast ones follow at once; a finger's state changes once two frames in a row agree.
class HandFilter {
public:
    // This frame's reading (none: no hand) to the hand to report.
    std::optional<ControllerHand> next(const std::optional<ControllerHand>& seen);
    // Changes whenever a hand appears after none.
    int64_t handId() const { return handId_; }

private:
    std::optional<ControllerHand> hand_;
    std::array<bool, kFingers> pending_{};  // the reading differed from the state last frame
    int64_t handId_ = 0;
};

}  // namespace webcam
