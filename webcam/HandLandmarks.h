// The 21 landmarks of one hand, read from a square crop turned so that the fingers point up.
#pragma once

#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "webcam/Hand.h"
#include "webcam/HandRegion.h"
#include "webcam/TfliteModel.h"

namespace webcam {

// OpenCV's warps take a source below SHRT_MAX pixels a side, and throw on a larger one.
constexpr int kMaxWarpedSide = 32766;

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
