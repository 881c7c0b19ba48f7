// The camera that the tracked hand flies, and the mapping of a fingertip to a point ahead of it.
#pragma once

#include "camera/OglCam.h"

// The flight's joystick: the palm this far from its rest (x, and y from the rest height) or from
// the device's plane (z) is a full deflection.
constexpr float kLateralScaleMm = 150.0f;
constexpr float kRestHeightMm = 200.0f;
constexpr float kSteerDepthScaleMm = 100.0f;

class LeapCam : public OglCam {
public:
    LeapCam();

    // World point under the fingertip (tracker millimetres); the camera is unchanged.
    Vec3 fingerPoint(Vec3 tip) const;
    // Joystick flight by palm position and turn by palm angles, scaled by frameTime.
    // Leaves target stale: call updateTarget afterwards.
    void steer(Vec3 palm, Vec3 angles);
};
