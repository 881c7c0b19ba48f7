// The webcam service's own logic: a hand the camera sees read as a controller would report it, and
// steadied over frames. (Its messages meet the viewer's decoder in the end-to-end cases.)
#include <gtest/gtest.h>

#include <cmath>

#include "webcam/ControllerSpace.h"

using namespace webcam;

namespace {

// An open right hand held up with its palm to the screen, millimetres about the palm: x to the
// user's right, y up. Landmarks in the order of Hand.h.
constexpr float kOpenHand[kLandmarks][2] = {
    {0, -45},   {-25, -35}, {-45, -15}, {-60, 5}, {-72, 22}, {-32, 45}, {-36, 85},
    {-38, 108}, {-40, 128}, {0, 50},    {0, 95},  {0, 120},  {0, 142},  {20, 47},
    {23, 88},   {25, 110},  {27, 128},  {33, 40}, {40, 70},  {44, 88},  {47, 104}};

// As a 640x480 camera sees that hand moved, brought nearer, its fingers tilted towards the screen
// and the palm rolled to the user's right (degrees); `left`: the left hand, the mirror image.
HandSighting cameraView(float right, float up, float nearer, float tilt, float roll, bool left = false) {
    const float f = focalLengthPx(640), t = tilt * 0.0174533f, r = roll * 0.0174533f;
    const float restDepth = kRestDistanceMm - nearer;
    HandSighting h;
    float wristDepth = 0;
    for (int i = 0; i < kLandmarks; ++i) {
        const float x = left ? -kOpenHand[i][0] : kOpenHand[i][0], y = kOpenHand[i][1] * std::cos(t);
        const float z = -kOpenHand[i][1] * std::sin(t);  // towards the user
        const float depth = restDepth + x * std::sin(r) + z * std::cos(r);
        if (i == 0) wristDepth = depth;
        h.landmarks[i] = {320 - (x * std::cos(r) - z * std::sin(r) + right) * f / depth,
                          240 - (y + up) * f / depth, (depth - wristDepth) * f / restDepth};
    }
    return h;
}

void expectNear(Leap::Vector got, Leap::Vector want, float tolerance, const char* what) {
    EXPECT_LT(std::hypot(got.x - want.x, got.y - want.y, got.z - want.z), tolerance)
        << what << ": " << got.x << ' ' << got.y << ' ' << got.z;
}

}  // namespace

TEST(WebcamService, HandMotionsReadAsTheControllerWould) {
    const struct {
        const char* motion;
        HandSighting seen;
        Leap::Vector palm, normal;
    } cases[] = {
        {"at rest", cameraView(0, 0, 0, 0, 0), {0, 200, 100}, {0, -1, 0}},
        {"left hand at rest", cameraView(0, 0, 0, 0, 0, true), {0, 200, 100}, {0, -1, 0}},
        {"moved right", cameraView(100, 0, 0, 0, 0), {100, 200, 100}, {0, -1, 0}},
        {"raised", cameraView(0, 100, 0, 0, 0), {0, 300, 100}, {0, -1, 0}},
        {"pushed towards the screen", cameraView(0, 0, 100, 0, 0), {0, 200, 0}, {0, -1, 0}},
        {"fingers tilted towards the screen", cameraView(0, 0, 0, 30, 0), {0, 200, 100}, {0, -0.87f, 0.5f}},
        {"palm rolled to the right", cameraView(0, 0, 0, 0, 30), {0, 200, 100}, {0.5f, -0.87f, 0}},
    };
    for (const auto& c : cases) {
        const auto hand = toControllerSpace(c.seen, 640, 480);
        ASSERT_TRUE(hand) << c.motion;
        expectNear(hand->palmPosition, c.palm, 5, c.motion);
        expectNear(hand->palmNormal, c.normal, 0.05f, c.motion);
    }
    const auto rest = toControllerSpace(cameraView(0, 0, 0, 0, 0), 640, 480);
    expectNear(rest->direction, {0, 0, -1}, 0.05f, "fingers point forward");
    EXPECT_LT(rest->tips[1].z, rest->palmPosition.z - 50) << "fingertips ahead of the palm";
    EXPECT_FALSE(toControllerSpace(HandSighting(), 640, 480)) << "landmarks all in one point";
}

TEST(WebcamService, StillHandIsSteadiedButFingerChangesComeThrough) {
    HandFilter filter;
    ControllerHand a = *toControllerSpace(cameraView(0, 0, 0, 0, 0), 640, 480), b = a, point = a;
    b.palmPosition.x += 6;  // a still hand's jitter
    float low = 1e9f, high = -1e9f;
    for (int i = 0; i < 20; ++i) {
        const float x = filter.next(i % 2 ? b : a)->palmPosition.x;
        if (i >= 10) low = std::min(low, x), high = std::max(high, x);
    }
    EXPECT_LT(high - low, 3);
    point.extended = {false, true, false, false, false};
    EXPECT_EQ(filter.next(point)->extended, a.extended) << "one frame may be a glitch";
    EXPECT_EQ(filter.next(point)->extended, point.extended) << "two are a change";
    const int64_t id = filter.handId();
    EXPECT_FALSE(filter.next(std::nullopt));
    filter.next(a);
    EXPECT_NE(filter.handId(), id) << "a hand seen again is a new hand";
}
