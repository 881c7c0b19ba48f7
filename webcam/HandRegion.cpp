// The crop follows the hand: framed around a detected palm first, then around the landmarks read
// in the crop before, moved only by what the landmark model cannot read as well anyway.
#include "webcam/HandRegion.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "webcam/PalmDetector.h"

namespace webcam {

namespace {

// The landmark model reads best with the hand framed as around a detected palm: the crop reaches
// from the wrist well past the palm box, mostly towards the fingers.
constexpr float kPalmToHand = 2.6f;
constexpr float kPalmShiftUp = 0.5f;  // in palm heights
// The detector's palm box is a little larger than the palm's joints span.
constexpr float kJointsToPalmBox = 1.15f;
constexpr int kPalmJoints[] = {0, 1, 2, 5, 9, 13, 17};
// Around a detected open hand the crop is about this much larger than the hand.
constexpr float kHandMargin = 1.4f;

// A still hand must give a still crop: the landmark model's small errors would otherwise move, turn
// and scale the crop a little every frame, and feed on themselves until the hand is lost. The crop
// follows only changes beyond what the model reads well anyway.
constexpr float kMoveTolerance = 0.05f;             // in crop sides
constexpr float kTurnTolerance = float(M_PI / 18);  // 10 degrees
constexpr float kSizeTolerance = 0.2f;              // log of the size ratio: about 20 %

// The turn that brings the direction from `from` to `to` (image coordinates, y down) upright.
float uprightRotation(cv::Point2f from, cv::Point2f to) {
    const float r = float(M_PI / 2) - std::atan2(-(to.y - from.y), to.x - from.x);
    return std::remainder(r, float(2 * M_PI));
}

// `centre` moved by `up` towards the fingers of a region turned by `rotation`.
cv::Point2f shiftedUp(cv::Point2f centre, float rotation, float up) {
    return centre + up * cv::Point2f(std::sin(rotation), -std::cos(rotation));
}

HandRegion framedPalm(cv::Point2f centre, float rotation, float width, float height) {
    HandRegion r;
    r.rotation = rotation;
    r.centre = shiftedUp(centre, rotation, kPalmShiftUp * height);
    r.side = kPalmToHand * std::max(width, height);
    return r;
}

}  // namespace

HandRegion regionAroundPalm(const Palm& palm) {
    const cv::Point2f centre(palm.box.x + palm.box.width / 2, palm.box.y + palm.box.height / 2);
    return framedPalm(centre, uprightRotation(palm.keypoints[0], palm.keypoints[2]), palm.box.width,
                      palm.box.height);
}

// Centred on the hand, and at least as large as around a detected palm, so that the crop does not
// shrink when the fingers close. Centring (rather than shifting by a fixed share) keeps a still
// hand's crop still: small errors in the landmarks do not add up from frame to frame.
HandRegion regionAroundLandmarks(const Landmarks& lm) {
    HandRegion r;
    r.rotation = uprightRotation({lm[0].x, lm[0].y}, {lm[9].x, lm[9].y});
    const float c = std::cos(r.rotation), s = std::sin(r.rotation);
    // Extents along the upright axes of the hand: all joints, and the palm's alone.
    float lo[2] = {1e30f, 1e30f}, hi[2] = {-1e30f, -1e30f}, palmLo[2] = {1e30f, 1e30f},
          palmHi[2] = {-1e30f, -1e30f};
    for (int i = 0; i < kLandmarks; ++i) {
        const float u[2] = {lm[i].x * c + lm[i].y * s, -lm[i].x * s + lm[i].y * c};
        const bool palm =
            std::find(std::begin(kPalmJoints), std::end(kPalmJoints), i) != std::end(kPalmJoints);
        for (int k = 0; k < 2; ++k) {
            lo[k] = std::min(lo[k], u[k]), hi[k] = std::max(hi[k], u[k]);
            if (palm) palmLo[k] = std::min(palmLo[k], u[k]), palmHi[k] = std::max(palmHi[k], u[k]);
        }
    }
    const float mid[2] = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2};
    r.centre = cv::Point2f(mid[0] * c - mid[1] * s, mid[0] * s + mid[1] * c);
    const float palmSide = kJointsToPalmBox * std::max(palmHi[0] - palmLo[0], palmHi[1] - palmLo[1]);
    r.side = std::max(kPalmToHand * palmSide, kHandMargin * std::max(hi[0] - lo[0], hi[1] - lo[1]));
    return r;
}

HandRegion followHand(const HandRegion& crop, const Landmarks& landmarks) {
    const HandRegion hand = regionAroundLandmarks(landmarks);
    HandRegion next = crop;
    if (cv::norm(hand.centre - crop.centre) > kMoveTolerance * crop.side) next.centre = hand.centre;
    if (std::abs(std::remainder(hand.rotation - crop.rotation, float(2 * M_PI))) > kTurnTolerance)
        next.rotation = hand.rotation;
    if (std::abs(std::log(hand.side / crop.side)) > kSizeTolerance) next.side = hand.side;
    return next;
}

}  // namespace webcam
