// Hand-driven camera motion. Every product keeps its written order and grouping:
// recorded sessions replay to the same pose only if the rounding is reproduced.
#include "camera/LeapCam.h"

#include "app/FrameTime.h"

namespace {
constexpr float kPointDepthScaleMm = 200.0f;
constexpr float kLightDistance = 3.0f;  // world units ahead of the camera
constexpr float kFlyingSpeed = 6.0f;    // world units per second at unit deflection
constexpr double kTurningGain = 4.0;    // radians per second per radian of tilt
constexpr float kOrbitDistance = 2.0f;  // world units ahead of the camera
const Vec3 kWorldUp{0.0f, 1.0f, 0.0f};

// Rotates v by the camera's heading, then by its elevation about `right`.
Vec3 turnToView(Vec3 v, float yaw, float pitch, Vec3 right) {
    v = transformDirection(rotate(Mat4(), yaw / kDegToRad, kWorldUp), v);
    return transformDirection(rotate(Mat4(), pitch / kDegToRad, right), v);
}

// cross(d, up) flips once the view passes the vertical; the hand's turns must keep the view's way.
Vec3 pitchAxis(Vec3 d, float yaw, float pitch) {
    const Vec3 right = rightOfView(d, yaw, pitch);
    return isUpsideDown(pitch) ? -right : right;
}
}  // namespace

LeapCam::LeapCam() {
    position = {2.0f, 2.0f, 2.0f};
    pitch = -0.7853982f;
    yaw = -2.3561945f;
    updateTarget();
}

Vec3 LeapCam::fingerPoint(Vec3 tip) const {
    const Vec3 d = target - position;
    const Vec3 right = pitchAxis(d, yaw, pitch);
    const float s = 1.0f - tip.z / kPointDepthScaleMm;
    Vec3 v{(tip.x / kLateralScaleMm) * s * (-kLightDistance),
           ((tip.y - kRestHeightMm) / kLateralScaleMm) * s * kLightDistance, s * kLightDistance};
    v = turnToView(v, yaw, pitch, right);
    return position + v;
}

void LeapCam::steer(Vec3 palm, Vec3 angles) {
    const Vec3 d = target - position;
    const Vec3 right = pitchAxis(d, yaw, pitch);

    Vec3 v{palm.x / -kLateralScaleMm, (palm.y - kRestHeightMm) / kLateralScaleMm,
           1.0f - palm.z / kSteerDepthScaleMm};
    v = turnToView(v, yaw, pitch, right);
    const float speed = static_cast<float>(frameTime) * kFlyingSpeed;
    const Vec3 moved = v * speed + position;

    const float dYaw = static_cast<float>(static_cast<double>(angles.x) * frameTime * kTurningGain);
    const float dPitch = static_cast<float>(static_cast<double>(angles.y) * frameTime * kTurningGain);
    yaw = dYaw + yaw;
    pitch = dPitch + pitch;

    // Orbit the point ahead by the same angles, so it stays in view.
    const Vec3 o = (d * (1.0f / length(d))) * kOrbitDistance;
    Vec3 w = -o;
    w = turnToView(w, dYaw, dPitch, right);
    position = (w + o) + moved;
}
