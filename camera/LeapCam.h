// The camera that the tracked hand flies, and the mapping of a fingertip to a point ahead of it.
#pragma once

#include "camera/OglCam.h"

class LeapCam : public OglCam {
public:
    LeapCam();

    // World point under the fingertip (tracker millimetres); the camera is unchanged.
    Vec3 fingerPoint(Vec3 tip) const;
    // Joystick flight by palm position and turn by palm angles, scaled by frameTime.
    // Leaves target stale: call updateTarget afterwards.
    void steer(Vec3 palm, Vec3 angles);
};
