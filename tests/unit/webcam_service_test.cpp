// The webcam service's own logic: a hand the camera sees read as a controller would report it, and
// steadied over frames. (Its messages meet the viewer's decoder in the end-to-end cases.)
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <tuple>
#include <vector>

#include "webcam/HandCentring.h"
#include "webcam/HandFilter.h"

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

TEST(WebcamService, StillHandIsSteadiedMovingHandFollowedFingerChangesComeThrough) {
    HandFilter filter;
    ControllerHand a = *toControllerSpace(cameraView(0, 0, 0, 0, 0), 640, 480), b = a, point = a;
    b.palmPosition.x += 6;  // a still hand's jitter
    float low = 1e9f, high = -1e9f;
    for (int i = 0; i < 20; ++i) {
        const float x = filter.next(i % 2 ? b : a, i * 33333)->palmPosition.x;
        if (i >= 10) low = std::min(low, x), high = std::max(high, x);
    }
    EXPECT_LT(high - low, 2);                                                           // 1.5 mm as tuned
    for (int i = 20; i < 50; ++i, b.palmPosition.x += 3.3f) filter.next(b, i * 33333);  // moving 100 mm/s
    EXPECT_GT(filter.next(b, 1666666)->palmPosition.x, b.palmPosition.x - 3.3f) << "followed within a frame";
    point.extended = {false, true, false, false, false};
    EXPECT_EQ(filter.next(point, 1700000)->extended, a.extended);
    EXPECT_EQ(filter.next(point, 1733333)->extended, a.extended) << "two frames may be a glitch";
    EXPECT_EQ(filter.next(point, 1766666)->extended, point.extended) << "three are a change";
    const int64_t id = filter.handId();
    EXPECT_FALSE(filter.next(std::nullopt, 1800000));
    filter.next(a, 1833333);
    EXPECT_NE(filter.handId(), id) << "a hand seen again is a new hand";
}

TEST(WebcamService, TheRestIsWhereAnOpenHandAppears) {
    // Steps: palm x y z, fingers held out (-1: no hand), frames at 30 a second.
    using Step = std::array<float, 5>;
    const Step open{90, 150, 50, 5, 12}, away{0, 0, 0, -1, 30}, moment{0, 0, 0, -1, 5};
    const std::tuple<const char*, std::vector<Step>, Leap::Vector> cases[] = {
        {"appears off-centre: at rest", {open}, {0, 200, 100}},
        {"then moves", {open, {120, 170, 30, 5, 1}}, {30, 220, 80}},
        {"a fist is a clutch", {open, {-80, 250, 0, 0, 12}, {-80, 250, 0, 4, 12}}, {0, 200, 100}},
        {"pointing keeps the rest", {open, {110, 150, 50, 1, 1}}, {20, 200, 100}},
        {"appears pointing: at rest", {{90, 150, 50, 2, 12}}, {0, 200, 100}},
        {"gone a moment: same rest", {open, moment, {120, 150, 50, 5, 1}}, {30, 200, 100}},
        {"gone a second: a new rest", {open, away, {120, 150, 50, 5, 12}}, {0, 200, 100}},
    };
    for (const auto& [what, steps, reads] : cases) {
        HandCentring centring;
        std::optional<ControllerHand> out;
        int64_t us = 0;
        for (const auto& [x, y, z, fingers, frames] : steps)
            for (int i = 0; i < frames; ++i, us += 33333) {
                ControllerHand h;
                h.palmPosition = {x, y, z};
                h.tips.fill({x, y + 30, z - 80});
                std::fill_n(h.extended.begin(), std::max(int(fingers), 0), true);
                out = centring.next(fingers < 0 ? std::nullopt : std::optional(h), us);
            }
        expectNear(out->palmPosition, reads, 0.01f, what);
        expectNear(out->tips[1], {reads.x, reads.y + 30, reads.z - 80}, 0.01f, what);
    }
}
