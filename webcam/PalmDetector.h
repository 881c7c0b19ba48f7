// Finds palms anywhere in a picture: the slower first step, run only while no hand is tracked.
#pragma once

#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "webcam/TfliteModel.h"

namespace webcam {

struct Palm {
    cv::Rect2f box;                        // source-image pixels
    std::array<cv::Point2f, 7> keypoints;  // 0 wrist, 2 base of the middle finger, ...
    float score = 0;
};

class PalmDetector {
public:
    std::string load(const std::string& path);  // "" or why the model cannot be used
    // Every palm found, overlapping finds merged, largest first.
    std::vector<Palm> detect(const cv::Mat& bgr);

private:
    TfliteModel model_;
    std::vector<cv::Point2f> anchors_;
    cv::Mat square_, rgb_;
};

}  // namespace webcam
