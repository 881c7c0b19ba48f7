// The joystick's rest where the hand is: an open or pointing hand that appears (after no hand for a
// moment, or after a fist) reads as the rest, palm at (0, 200, 100), over its first few frames, so the
// view holds still until it moves from there. Closed, the hand moves nothing, so the fist is a clutch.
// Orientation keeps its fixed rest.
#pragma once

#include <cstdint>
#include <optional>

#include "webcam/ControllerSpace.h"

namespace webcam {

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
