// What the viewer makes of a hand by the fingers it shows, for both programs and the benches: three
// or more fly the camera, one or two place the light, a fist does nothing.
#pragma once

namespace Leap {

constexpr int kMostPointingFingers = 2;

constexpr bool fingersFly(int extendedFingers) {
    return extendedFingers > kMostPointingFingers;
}

}  // namespace Leap
