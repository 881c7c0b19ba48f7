// The 21 landmarks of one hand, read from a square crop turned so that the fingers point up.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "webcam/Hand.h"
#include "webcam/TfliteModel.h"

namespace webcam {

struct Palm;
using Landmarks = std::array<Point3, kLandmarks>;

// OpenCV's warps take a source below SHRT_MAX pixels a side, and throw on a larger one.
constexpr int kMaxWarpedSide = 32766;

// A square in the source image: centre and side in pixels; rotation in radians clockwise on screen,
// 0 with the fingers pointing up.
struct HandRegion {
    cv::Point2f centre;
    float side = 0;
    float rotation = 0;
};

HandRegion regionAroundPalm(const Palm& palm);
HandRegion regionAroundLandmarks(const Landmarks& landmarks);
// The crop for the next frame: `crop` moved, turned or resized only where the landmarks read in it
// say the hand has changed by more than the landmark model's tolerance.
HandRegion followHand(const HandRegion& crop, const Landmarks& landmarks);

struct LandmarkReading {
    Landmarks landmarks;  // source-image pixels
    float presence = 0;   // 0 to 1: is there a hand in the crop at all
};

class HandLandmarks {
public:
    std::string load(const std::string& path);  // "" or why the model cannot be used
    std::optional<LandmarkReading> read(const cv::Mat& bgr, const HandRegion& region);

private:
    TfliteModel model_;
    cv::Mat crop_, rgb_;
};

}  // namespace webcam
