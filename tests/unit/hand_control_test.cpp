// Hand readers over tracker frames, the fingertip-to-world mapping and the joystick flight.
#include <gtest/gtest.h>

#include <cmath>

#include "app/FrameTime.h"
#include "camera/HandControl.h"
#include "render/OglLight.h"
#include "support/FakeHands.h"

using Leap::Vector;
using fake::HandSpec;
using fake::makeFrame;

namespace {
const Vector kPalmDown{0, -1, 0};

HandSpec hand(int fingers, Vector palm = {0, 200, 100}, Vector normal = kPalmDown) {
    HandSpec result{palm, normal, {}};
    for (int f = 0; f < fingers; ++f) result.tips.push_back({10.0f * f, 250.0f, 20.0f - f});
    return result;
}

void expectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// A camera at `p` looking along +z.
LeapCam cameraAlongZ(Vec3 p = {1, 2, 3}) {
    LeapCam cam;
    cam.position = p;
    cam.yaw = 0;
    cam.pitch = 0;
    cam.updateTarget();
    return cam;
}

struct FrameTimeGuard {
    explicit FrameTimeGuard(double seconds) { frameTime = seconds; }
    ~FrameTimeGuard() { frameTime = 0.0; }
};
}  // namespace

TEST(HandReadersTest, NothingToReportWithoutAFingerOfAHand) {
    for (const Leap::Frame& frame : {Leap::Frame(), makeFrame({}), makeFrame({hand(0)})}) {
        EXPECT_EQ(readFingerTip(frame).x, kNoReadingValue);
        EXPECT_FALSE(readHandOpen(frame));
        EXPECT_EQ(readPalmAngles(frame).x, kNoReadingValue);
        EXPECT_EQ(readPalmPosition(frame).x, kNoReadingValue);
    }
    EXPECT_EQ(NoReading.y, 3.4028235e38f);
    EXPECT_EQ(NoReading.z, 3.4028235e38f);
}

TEST(HandReadersTest, OneOrTwoFingersPointThreeOrMoreOpenTheHand) {
    const Leap::Frame two = makeFrame({hand(2)});
    expectNear(readFingerTip(two), {10, 250, 19});  // the finger nearest the screen
    EXPECT_FALSE(readHandOpen(two));
    EXPECT_EQ(readPalmAngles(two).x, kNoReadingValue);
    EXPECT_EQ(readPalmPosition(two).x, kNoReadingValue);

    const Leap::Frame three = makeFrame({hand(3, {5, 180, 60})});
    EXPECT_TRUE(readHandOpen(three));
    expectNear(readPalmPosition(three), {5, 180, 60});
    expectNear(readPalmAngles(three), {0, 0, 0});  // flat, palm down
}

TEST(HandReadersTest, FrontmostHandIsRead) {
    const Leap::Frame frame = makeFrame({hand(1, {0, 200, 50}), hand(4, {0, 200, -30})});
    EXPECT_TRUE(readHandOpen(frame));
    expectNear(readPalmPosition(frame), {0, 200, -30});
}

TEST(HandReadersTest, PalmAnglesFollowTheTilt) {
    const float s = 0.70710677f;
    // Turned from straight down towards +x: positive roll, no pitch.
    const Vec3 rolled = readPalmAngles(makeFrame({hand(5, {0, 200, 100}, {s, -s, 0})}));
    EXPECT_NEAR(rolled.x, 0.7853982f, 1e-6f);
    EXPECT_NEAR(rolled.y, 0.0f, 1e-6f);
    // Turned towards -z (away from the user): positive pitch.
    const Vec3 pitched = readPalmAngles(makeFrame({hand(5, {0, 200, 100}, {0, -s, -s})}));
    EXPECT_NEAR(pitched.x, 0.0f, 1e-6f);
    EXPECT_NEAR(pitched.y, 0.7853982f, 1e-6f);
    EXPECT_EQ(pitched.z, 0.0f);
}

TEST(FingerPointTest, RestingFingertipPutsTheLightThreeUnitsAhead) {
    const LeapCam cam = cameraAlongZ();
    expectNear(cam.fingerPoint({0, 200, 0}), {1, 2, 6});
    expectNear(cam.fingerPoint({37, -80, 200}), {1, 2, 3});  // at z = 200 mm: on the camera
    // Right of the device is screen right, which is world -x when looking along +z.
    EXPECT_LT(cam.fingerPoint({150, 200, 0}).x, 1.0f);
    EXPECT_GT(cam.fingerPoint({0, 350, 0}).y, 2.0f);
}

TEST(FingerPointTest, FollowsTheHeading) {
    LeapCam cam = cameraAlongZ({0, 0, 0});
    cam.yaw = 1.5707964f;  // looking along +x
    cam.updateTarget();
    expectNear(cam.fingerPoint({0, 200, 0}), {3, 0, 0});
}

TEST(SteerTest, NoTimeOrRestingPalmLeavesThePose) {
    LeapCam cam;
    const LeapCam before = cam;
    {
        FrameTimeGuard guard(0.0);
        cam.steer({40, 300, -50}, {0.5f, -0.3f, 0});
    }
    expectNear(cam.position, before.position, 0);
    EXPECT_EQ(cam.yaw, before.yaw);
    EXPECT_EQ(cam.pitch, before.pitch);
    {
        FrameTimeGuard guard(0.7);
        cam.steer({0, 200, 100}, {0, 0, 0});
    }
    expectNear(cam.position, before.position, 0);
    expectNear(cam.target, before.target, 0);  // steer never touches the target
}

TEST(SteerTest, PalmAwayFromTheUserFliesForward) {
    LeapCam cam = cameraAlongZ();
    FrameTimeGuard guard(0.5);
    cam.steer({0, 200, 0}, {0, 0, 0});
    expectNear(cam.position, {1, 2, 6});
    expectNear(cam.target, {1, 2, 4});  // stale until updateTarget
}

TEST(SteerTest, TiltTurnsAndOrbitsThePointAhead) {
    // Roll of the palm turns the heading; pitch of the palm the elevation. Each alone
    // orbits the camera about the point two units ahead.
    const Vec3 turns[2] = {{0.3f, 0, 0}, {0, -0.1f, 0}};
    for (const Vec3& angles : turns) {
        LeapCam cam;
        const Vec3 ahead = cam.position + normalize(cam.target - cam.position) * 2.0f;
        const float yawBefore = cam.yaw;
        const float pitchBefore = cam.pitch;
        FrameTimeGuard guard(0.25);
        cam.steer({0, 200, 100}, angles);
        cam.updateTarget();
        EXPECT_FLOAT_EQ(cam.yaw, yawBefore + angles.x * 0.25f * 4.0f);
        EXPECT_FLOAT_EQ(cam.pitch, pitchBefore + angles.y * 0.25f * 4.0f);
        EXPECT_NEAR(length(ahead - cam.position), 2.0f, 1e-5f);
        expectNear(cam.position + normalize(cam.target - cam.position) * 2.0f, ahead, 1e-5f);
    }
}

TEST(HandStepTest, PointingMovesTheLightFlyingMovesTheCamera) {
    LeapCam cam = cameraAlongZ();
    OglPointLight light;
    FrameTimeGuard guard(0.5);

    handStep(makeFrame({hand(0)}), cam, light);  // no finger: nothing
    EXPECT_EQ(light.position.x, 0.57);
    expectNear(cam.position, {1, 2, 3}, 0);

    HandSpec pointing = hand(2);
    pointing.tips = {{0, 200, 0}, {0, 200, 50}};
    handStep(makeFrame({pointing}), cam, light);
    EXPECT_DOUBLE_EQ(light.position.x, 1.0);
    EXPECT_DOUBLE_EQ(light.position.y, 2.0);
    EXPECT_DOUBLE_EQ(light.position.z, 6.0);
    expectNear(cam.position, {1, 2, 3}, 0);

    handStep(makeFrame({hand(3, {0, 200, 0})}), cam, light);
    expectNear(cam.position, {1, 2, 6});
    expectNear(cam.target, {1, 2, 7});  // refreshed after the flight
    EXPECT_DOUBLE_EQ(light.position.z, 6.0);
}

TEST(SteerTest, FlyingThroughTheVerticalStaysFinite) {
    LeapCam cam;
    cam.pitch = 1.5707964f;
    cam.updateTarget();
    FrameTimeGuard guard(0.1);
    cam.steer({30, 250, 50}, {0.2f, 0.3f, 0});
    cam.updateTarget();
    EXPECT_TRUE(std::isfinite(cam.position.x) && std::isfinite(cam.position.y) &&
                std::isfinite(cam.position.z));
    EXPECT_TRUE(std::isfinite(cam.yaw) && std::isfinite(cam.pitch));
}
