// Hand readings and the per-frame choice between pointing and flying.
// Each reader queries the frame afresh; a frame never changes, so the answers agree.
#include "camera/HandControl.h"

#include <cmath>

#include "render/OglLight.h"
#include "tracker/Gestures.h"

namespace {
constexpr float kPalmPitchOffset = 1.5707964f;  // pi/2 in single precision

Vec3 toVec3(const Leap::Vector& v) {
    return {v.x, v.y, v.z};
}
}  // namespace

Vec3 readFingerTip(const Leap::Frame& frame) {
    if (!frame.isValid()) return NoReading;
    if (frame.hands().count() == 0) return NoReading;
    if (frame.hands().frontmost().fingers().count() == 0) return NoReading;
    return toVec3(frame.hands().frontmost().fingers().frontmost().tipPosition());
}

bool readHandOpen(const Leap::Frame& frame) {
    return frame.isValid() && frame.hands().count() != 0 &&
           Leap::fingersFly(frame.hands().frontmost().fingers().count());
}

Vec3 readPalmAngles(const Leap::Frame& frame) {
    if (!readHandOpen(frame)) return NoReading;
    Leap::Vector n = frame.hands().frontmost().palmNormal();
    const double roll = std::atan2(static_cast<double>(n.x), -static_cast<double>(n.y));
    n = frame.hands().frontmost().palmNormal();
    const float pitchAngle =
        static_cast<float>(std::atan2(static_cast<double>(n.y), -static_cast<double>(n.z))) +
        kPalmPitchOffset;
    return {static_cast<float>(roll), pitchAngle, 0.0f};
}

Vec3 readPalmPosition(const Leap::Frame& frame) {
    if (!readHandOpen(frame)) return NoReading;
    return toVec3(frame.hands().frontmost().palmPosition());
}

void handStep(const Leap::Frame& frame, LeapCam& camera, OglPointLight& light) {
    const Vec3 tip = readFingerTip(frame);
    if (tip.x == kNoReadingValue) return;
    const Vec3 angles = readPalmAngles(frame);
    if (angles.x == kNoReadingValue) {
        const Vec3 p = camera.fingerPoint(tip);
        light.position = {p.x, p.y, p.z};
    } else {
        camera.steer(readPalmPosition(frame), angles);
    }
    camera.updateTarget();
}
