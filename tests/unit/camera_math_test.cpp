// Vector math and camera pose/matrices, checked against hand-computed values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "camera/LeapCam.h"
#include "camera/Math.h"

namespace {
void expectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

void expectIdentity(const Mat4& m, float tolerance) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) EXPECT_NEAR(m.at(c, r), c == r ? 1.0f : 0.0f, tolerance) << c << "," << r;
}

Mat4 sample() {
    const float c0[4] = {2, 0.5f, -1, 0};
    const float c1[4] = {0.25f, 3, 0, 1};
    const float c2[4] = {1, -2, 4, 0.5f};
    const float c3[4] = {5, 6, -7, 1};
    return Mat4(c0, c1, c2, c3);
}

// Column-major upload: a camera that cannot see (0,0,-5) straight ahead is wrong.
Vec3 project(const Mat4& m, Vec3 p) {
    float out[4];
    for (int r = 0; r < 4; ++r) out[r] = m.at(0, r) * p.x + m.at(1, r) * p.y + m.at(2, r) * p.z + m.at(3, r);
    return {out[0] / out[3], out[1] / out[3], out[2] / out[3]};
}
}  // namespace

TEST(MathTest, DegreeFactorIsPiOver180InSinglePrecision) {
    uint32_t bits;
    std::memcpy(&bits, &kDegToRad, sizeof bits);
    EXPECT_EQ(bits, 0x3C8EFA35u);
}

TEST(MathTest, CrossNormalizeAndDirection) {
    expectNear(cross({1, 0, 0}, {0, 1, 0}), {0, 0, 1});
    expectNear(cross({0, 1, 0}, {1, 0, 0}), {0, 0, -1});
    expectNear(normalize({3, 0, 4}), {0.6f, 0, 0.8f});
    expectNear(direction(0, 0), {0, 0, 1});
    expectNear(direction(1.5707964f, 0), {1, 0, 0});  // yaw turns +z towards +x
    expectNear(direction(0, 1.5707964f), {0, 1, 0});  // pitch raises towards +y
}

TEST(MathTest, ProductIsColumnMajor) {
    const float c0[4] = {1, 0, 0, 0}, c1[4] = {0, 1, 0, 0}, c2[4] = {0, 0, 1, 0}, c3[4] = {1, 2, 3, 1};
    const Mat4 translate(c0, c1, c2, c3);
    const Mat4 twice = translate * translate;
    EXPECT_FLOAT_EQ(twice.at(3, 0), 2);
    EXPECT_FLOAT_EQ(twice.at(3, 1), 4);
    EXPECT_FLOAT_EQ(twice.at(3, 2), 6);
    const Mat4 m = sample();
    const Mat4 mm = m * m;
    EXPECT_FLOAT_EQ(mm.at(1, 2), m.at(0, 2) * m.at(1, 0) + m.at(1, 2) * m.at(1, 1) + m.at(2, 2) * m.at(1, 2) +
                                     m.at(3, 2) * m.at(1, 3));
}

TEST(MathTest, RotateIsRightHandedInDegrees) {
    const Mat4 r = rotate(Mat4(), 90.0f, {0, 1, 0});
    expectNear(transformDirection(r, {0, 0, 1}), {1, 0, 0});
    expectNear(transformDirection(r, {1, 0, 0}), {0, 0, -1});
    // A turn of theta radians about y moves the heading by theta.
    const float yaw = 0.3f, pitch = -0.4f, theta = 0.7f;
    expectNear(direction(yaw + theta, pitch),
               transformDirection(rotate(Mat4(), theta / kDegToRad, {0, 1, 0}), direction(yaw, pitch)));
    // The translation column survives.
    const Mat4 m = rotate(sample(), 30.0f, {1, 1, 0});
    EXPECT_FLOAT_EQ(m.at(3, 0), 5);
    EXPECT_FLOAT_EQ(m.at(3, 2), -7);
}

TEST(MathTest, LookAtAlongPlusZMirrorsX) {
    const Mat4 v = lookAt({0, 0, 0}, {0, 0, 1}, {0, 1, 0});
    const float expected[3][4] = {{-1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, -1, 0}};
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 4; ++r) EXPECT_NEAR(v.at(c, r), expected[c][r], 1e-6f);
    const Mat4 moved = lookAt({1, 2, 3}, {1, 2, 4}, {0, 1, 0});
    EXPECT_NEAR(moved.at(3, 0), 1, 1e-6f);  // -dot(s, eye) with s = -x
    EXPECT_NEAR(moved.at(3, 1), -2, 1e-6f);
    EXPECT_NEAR(moved.at(3, 2), 3, 1e-6f);  // dot(f, eye)
}

TEST(MathTest, PerspectiveMatchesKnownValues) {
    const Mat4 p = perspective(45.0f, 640.0f / 480.0f, 0.1f, 100.0f);
    EXPECT_FLOAT_EQ(p.at(0, 0), 1.8106601f);
    EXPECT_FLOAT_EQ(p.at(1, 1), 2.4142134f);
    EXPECT_FLOAT_EQ(p.at(2, 2), -1.002002f);
    EXPECT_FLOAT_EQ(p.at(2, 3), -1.0f);
    EXPECT_FLOAT_EQ(p.at(3, 2), -0.2002002f);
    EXPECT_EQ(p.at(3, 3), 0.0f);
    EXPECT_EQ(p.at(0, 1), 0.0f);
}

TEST(MathTest, InverseUndoesTheMatrix) {
    const Mat4 m = sample();
    expectIdentity(m * inverse(m), 1e-5f);
    expectIdentity(inverse(m) * m, 1e-5f);
}

TEST(CameraTest, FreshCamerasHaveTheirStartingPose) {
    OglCam plain;
    expectNear(plain.position, {4, 3, 4});
    expectNear(plain.target, {0, 0, 0});
    expectIdentity(plain.mvp, 0);
    expectIdentity(plain.mvpInverse, 0);
    plain.updateTarget();
    expectNear(plain.target, {4, 3, 5});

    LeapCam cam;
    expectNear(cam.position, {2, 2, 2});
    expectNear(cam.target, {1.5f, 1.2928932f, 1.5f}, 1e-6f);
    EXPECT_EQ(cam.pitch, -0.7853982f);
    EXPECT_EQ(cam.yaw, -2.3561945f);
}

TEST(CameraTest, TargetForAnglesWritesTheUnitPointAndChangesNothing) {
    OglCam cam;
    float x = 0, y = 0, z = 0;
    cam.targetForAngles(&x, &y, &z, 1.5707964f, 0.0f);
    EXPECT_NEAR(x, 5, 1e-6f);
    EXPECT_NEAR(y, 3, 1e-6f);
    EXPECT_NEAR(z, 4, 1e-6f);
    expectNear(cam.target, {0, 0, 0});
}

TEST(CameraTest, UpsideDownOnlyPastTheVertical) {
    EXPECT_TRUE(isUpsideDown(2.0f));
    EXPECT_TRUE(isUpsideDown(-1.6f));
    EXPECT_FALSE(isUpsideDown(-0.7853982f));
    EXPECT_FALSE(isUpsideDown(1.5f));
    EXPECT_TRUE(isUpsideDown(2.0f + 6.2831855f));  // period of a full turn
    EXPECT_FALSE(isUpsideDown(0.5f + 6.2831855f));
    EXPECT_TRUE(isUpsideDown(4.0f));
}

TEST(CameraTest, UpdateWithoutUniformsStoresMatrixAndInverse) {
    LeapCam cam;  // no GL call happens with no registered uniforms
    const Mat4 m = cam.update();
    for (int i = 0; i < 16; ++i) EXPECT_EQ(cam.mvp.m[i], m.m[i]);
    expectIdentity(cam.mvp * cam.mvpInverse, 1e-4f);
    // The look-at point lands in the middle of the screen, in front of the near plane.
    const Vec3 centre = project(m, cam.target);
    EXPECT_NEAR(centre.x, 0, 1e-5f);
    EXPECT_NEAR(centre.y, 0, 1e-5f);
    EXPECT_GT(centre.z, -1);
    EXPECT_LT(centre.z, 1);
}

TEST(CameraTest, FlippedUpKeepsTheWorldUpsideDown) {
    LeapCam cam;
    cam.pitch = 2.0f;  // looked back over the vertical
    cam.yaw = 0.0f;
    cam.updateTarget();
    const Mat4 m = cam.update();
    // World up, just ahead of the camera, shows in the lower half of the screen.
    const Vec3 ahead = cam.position + direction(cam.yaw, cam.pitch) * 3.0f;
    const Vec3 above = project(m, ahead + Vec3{0, 0.5f, 0});
    EXPECT_LT(above.y, 0.0f);
}

TEST(CameraTest, RollTurnsTheViewAboutItsAxis) {
    LeapCam cam;
    cam.yaw = 0;
    cam.pitch = 0;
    cam.position = {0, 0, 0};
    cam.updateTarget();
    const Vec3 upright = project(cam.update(), {0, 1, 5});
    cam.roll = 90.0f;
    const Vec3 rolled = project(cam.update(), {0, 1, 5});
    EXPECT_GT(upright.y, 0.1f);
    EXPECT_NEAR(rolled.y, 0, 1e-5f);
    EXPECT_GT(std::fabs(rolled.x), 0.1f);
}

TEST(CameraTest, LookingStraightUpOrDownKeepsMatricesFinite) {
    for (float pitch : {1.5707964f, -1.5707964f, 4.71238899f}) {
        LeapCam cam;
        cam.pitch = pitch;
        cam.updateTarget();
        ASSERT_EQ(cam.target.x, cam.position.x);  // the horizontal part rounded away
        const Mat4 m = cam.update();
        for (float v : m.m) EXPECT_TRUE(std::isfinite(v)) << pitch;
        for (float v : cam.mvpInverse.m) EXPECT_TRUE(std::isfinite(v)) << pitch;
        const Vec3 light = cam.fingerPoint({0, 200, 0});
        EXPECT_TRUE(std::isfinite(light.x) && std::isfinite(light.y) && std::isfinite(light.z));
    }
}
