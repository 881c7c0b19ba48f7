// From a hand seen in a camera image to the hand a controller would report: millimetres, x to
// the user's right, y up, z towards the user.
#pragma once

#include <array>
#include <optional>

#include "Leap.h"
#include "webcam/Hand.h"

namespace webcam {

// The camera's focal length in pixels for an image this wide: a common webcam's field of about 65°.
float focalLengthPx(int imageWidth);

// The rest pose is held this far from the camera, and reads as the controller's rest: the palm this
// high over the controller and this far towards the user.
constexpr float kRestDistanceMm = 400.0f;
constexpr float kRestHeightMm = 200.0f;
constexpr float kRestDepthMm = 100.0f;

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

}  // namespace webcam
