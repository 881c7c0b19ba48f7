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

// Arithmetic on the controller's vectors.
Leap::Vector operator+(Leap::Vector a, Leap::Vector b);
Leap::Vector operator-(Leap::Vector a, Leap::Vector b);
Leap::Vector operator*(Leap::Vector a, float s);
float dot(Leap::Vector a, Leap::Vector b);
float length(Leap::Vector a);

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

// The One Euro filter (Casiez, Roussel and Vogel, CHI 2012) of a point or a direction: a low-pass
// whose cutoff rises with the speed, so a still value is smoothed hard and a moving one followed
// closely. The speed is the vector's, so all three axes are smoothed alike.
class OneEuroFilter {
public:
    // minCutoffHz: the cutoff at rest; beta: how much it rises per unit of speed (per second);
    // speedCutoffHz: the cutoff of the speed's own smoothing.
    OneEuroFilter(float minCutoffHz, float beta, float speedCutoffHz = 1)
        : minCutoffHz_(minCutoffHz), beta_(beta), speedCutoffHz_(speedCutoffHz) {}
    Leap::Vector next(Leap::Vector value, float seconds);  // seconds since the last value
    void reset() { started_ = false; }

private:
    float minCutoffHz_, beta_, speedCutoffHz_;
    bool started_ = false;
    Leap::Vector value_, speed_;
};

// Steadies a hand over frames: its place, orientation and fingertips through One Euro filters; a
// finger's state changes once three frames in a row agree.
class HandFilter {
public:
    HandFilter();
    // This frame's reading (none: no hand), taken at timestampUs, to the hand to report.
    std::optional<ControllerHand> next(const std::optional<ControllerHand>& seen, int64_t timestampUs);
    // Changes whenever a hand appears after none.
    int64_t handId() const { return handId_; }

private:
    std::optional<ControllerHand> hand_;
    std::array<int, kFingers> differing_{};  // frames in a row whose reading differed from the state
    int64_t handId_ = 0;
    int64_t lastUs_ = 0;
    OneEuroFilter palm_, normal_, direction_;
    std::array<OneEuroFilter, kFingers> tips_;  // as the palm
};

// The joystick's rest where the hand is: an open or pointing hand that appears (after no hand for a
// moment, or after a fist) reads as the rest, palm at (0, 200, 100), over its first few frames, so the
// view holds still until it moves from there. Closed, the hand moves nothing, so the fist is a clutch.
// Orientation keeps its fixed rest.
class HandCentring {
public:
    std::optional<ControllerHand> next(std::optional<ControllerHand> hand, int64_t timestampUs);

private:
    Leap::Vector offset_;
    bool armed_ = true;  // the next hand with fingers out sets the rest
    int centring_ = 0;   // frames left in which the rest follows the hand
    int64_t lastSeenUs_ = 0;
};

}  // namespace webcam
