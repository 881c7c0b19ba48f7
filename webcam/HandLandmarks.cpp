// The crop is warped out of the frame into the model's input; the landmarks come back through the
// same transform.
#include "webcam/HandLandmarks.h"

#include <cmath>

#include <opencv2/imgproc.hpp>

namespace webcam {

namespace {

constexpr int kSide = 224;

}  // namespace

std::string HandLandmarks::load(const std::string& path) {
    // Landmarks in crop pixels, hand presence, handedness, landmarks in metres.
    return model_.load(path, {1, kSide, kSide, 3},
                       {{1, kLandmarks * 3}, {1, 1}, {1, 1}, {1, kLandmarks * 3}});
}

std::optional<LandmarkReading> HandLandmarks::read(const cv::Mat& bgr, const HandRegion& region) {
    if (!(region.side > 1) || !std::isfinite(region.centre.x) || !std::isfinite(region.centre.y)) return {};
    if (bgr.cols > kMaxWarpedSide || bgr.rows > kMaxWarpedSide) return {};
    // Crop pixel (u, v) -> source pixel: the region's axes scaled to its side.
    const float k = region.side / kSide;
    const float c = std::cos(region.rotation) * k, s = std::sin(region.rotation) * k;
    const cv::Point2f origin = region.centre - cv::Point2f(c - s, s + c) * (kSide / 2.0f);
    const cv::Matx23f toSource(c, -s, origin.x, s, c, origin.y);
    cv::warpAffine(bgr, crop_, toSource, cv::Size(kSide, kSide), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::cvtColor(crop_, rgb_, cv::COLOR_BGR2RGB);
    rgb_.convertTo(cv::Mat(kSide, kSide, CV_32FC3, model_.input()), CV_32F, 1 / 255.0);
    if (!model_.run()) return {};

    LandmarkReading reading;
    reading.presence = model_.output(1)[0];
    const float* p = model_.output(0);
    for (int i = 0; i < kLandmarks; ++i, p += 3) {
        const cv::Point2f at = toSource * cv::Vec3f(p[0], p[1], 1);
        reading.landmarks[i] = {at.x, at.y, p[2] * k};
    }
    return reading;
}

}  // namespace webcam
