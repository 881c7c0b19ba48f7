#include "HandLandmarks.h"

#include <algorithm>
#include <cmath>

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include "PalmDetector.h"

namespace webcam {

namespace {

constexpr int kSide = 224;

// The hand reaches from the wrist well past the palm the detector boxes, mostly towards the fingers.
constexpr float kPalmToHand = 2.6f;
constexpr float kPalmShiftUp = 0.5f;  // in palm heights
// Around landmarks the crop only needs a margin for the hand moving until the next frame.
constexpr float kLandmarksToHand = 2.0f;
constexpr float kLandmarksShiftUp = 0.1f;

// The turn that brings the direction from `from` to `to` (image coordinates, y down) upright.
float uprightRotation(cv::Point2f from, cv::Point2f to) {
    const float r = float(M_PI / 2) - std::atan2(-(to.y - from.y), to.x - from.x);
    return std::remainder(r, float(2 * M_PI));
}

// Moves `centre` by `up` along the region's upright axis (and by `right` across it).
cv::Point2f shifted(cv::Point2f centre, float rotation, float right, float up) {
    const float c = std::cos(rotation), s = std::sin(rotation);
    return centre + cv::Point2f(right * c + up * s, right * s - up * c);
}

}  // namespace

HandRegion regionAroundPalm(const Palm& palm) {
    HandRegion r;
    r.rotation = uprightRotation(palm.keypoints[0], palm.keypoints[2]);
    const cv::Point2f centre(palm.box.x + palm.box.width / 2, palm.box.y + palm.box.height / 2);
    r.centre = shifted(centre, r.rotation, 0, kPalmShiftUp * palm.box.height);
    r.side = kPalmToHand * std::max(palm.box.width, palm.box.height);
    return r;
}

HandRegion regionAroundLandmarks(const Landmarks& lm) {
    const auto at = [&](int i) { return cv::Point2f(lm[i].x, lm[i].y); };
    HandRegion r;
    r.rotation = uprightRotation(at(0), at(9));
    // The landmarks' extent along the upright axes of the hand.
    const float c = std::cos(r.rotation), s = std::sin(r.rotation);
    float lo[2] = {1e30f, 1e30f}, hi[2] = {-1e30f, -1e30f};
    for (int i = 0; i < kLandmarks; ++i) {
        const float u[2] = {lm[i].x * c + lm[i].y * s, -lm[i].x * s + lm[i].y * c};
        for (int k = 0; k < 2; ++k) lo[k] = std::min(lo[k], u[k]), hi[k] = std::max(hi[k], u[k]);
    }
    const float mid[2] = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2};
    const cv::Point2f centre(mid[0] * c - mid[1] * s, mid[0] * s + mid[1] * c);
    const float height = hi[1] - lo[1];
    r.centre = shifted(centre, r.rotation, 0, kLandmarksShiftUp * height);
    r.side = kLandmarksToHand * std::max(hi[0] - lo[0], height);
    return r;
}

std::string HandLandmarks::load(const std::string& path) {
    return model_.load(path, kSide, {{"Identity", kLandmarks * 3}, {"Identity_1", 1}, {"Identity_2", 1}});
}

std::optional<LandmarkReading> HandLandmarks::read(const cv::Mat& bgr, const HandRegion& region) {
    if (!(region.side > 1) || !std::isfinite(region.centre.x) || !std::isfinite(region.centre.y)) return {};
    // Crop pixel (u, v) -> source pixel: the region's axes scaled to its side.
    const float k = region.side / kSide;
    const float c = std::cos(region.rotation) * k, s = std::sin(region.rotation) * k;
    const cv::Point2f origin = region.centre - cv::Point2f(c - s, s + c) * (kSide / 2.0f);
    const cv::Matx23f toSource(c, -s, origin.x, s, c, origin.y);
    cv::warpAffine(bgr, crop_, toSource, cv::Size(kSide, kSide), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::dnn::blobFromImage(crop_, blob_, 1 / 255.0, cv::Size(), cv::Scalar(), true, false);
    if (!model_.run(blob_, outputs_)) return {};

    LandmarkReading reading;
    reading.presence = outputs_[1].ptr<float>()[0];
    const float* p = outputs_[0].ptr<float>();
    for (int i = 0; i < kLandmarks; ++i, p += 3) {
        const cv::Point2f at = toSource * cv::Vec3f(p[0], p[1], 1);
        reading.landmarks[i] = {at.x, at.y, p[2] * k};
    }
    return reading;
}

}  // namespace webcam
