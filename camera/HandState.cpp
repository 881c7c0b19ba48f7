// The states follow the hand step's own readers, so the overlay never says other than what the view does.
#include "camera/HandState.h"

#include <algorithm>

#include "camera/HandControl.h"
#include "tracker/Console.h"

namespace {
float deflection(float ratio) {
    return std::clamp(ratio, -1.0f, 1.0f);
}
}  // namespace

HudContent readHandState(bool connected, const Leap::Frame& frame, const std::string& advice) {
    HudContent c;
    const auto tone = [&c](uint8_t r, uint8_t g, uint8_t b) {
        c.colour[0] = r, c.colour[1] = g, c.colour[2] = b;
    };
    if (!connected) {
        c.state = "no hand tracker";
        c.detail = advice;
        tone(255, 120, 100);
        return c;
    }
    c.warning = Leap::printable(frame.warning(), 160);
    if (!frame.isValid() || frame.hands().count() == 0) {
        c.state = "no hand";
        return c;
    }
    const Leap::Hand hand = frame.hands().frontmost();
    const int fingers = hand.fingers().count();
    c.detail = std::to_string(fingers) + (fingers == 1 ? " finger" : " fingers");
    if (fingers == 0) {
        c.state = "fist: paused";
        tone(255, 170, 60);
    } else if (readHandOpen(frame)) {
        c.state = "fly";
        tone(110, 230, 110);
    } else {
        c.state = "point";
        tone(255, 220, 80);
    }
    const Leap::Vector p = hand.palmPosition();
    c.palm = true;
    c.right = deflection(p.x / kLateralScaleMm);
    c.up = deflection((p.y - kRestHeightMm) / kLateralScaleMm);
    c.forward = deflection(1.0f - p.z / kSteerDepthScaleMm);
    return c;
}
