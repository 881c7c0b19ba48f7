// Camera frame in, the frontmost hand out: the palm detector finds a hand, then each next frame is
// cropped around the landmarks of the one before and only the landmark model runs, until the hand
// is lost. Of several hands the largest (the nearest) is read; every 30th frame the detector looks
// again, so a nearer hand that comes into view takes over.
#pragma once

#include <optional>
#include <string>

#include <opencv2/core.hpp>

#include "webcam/Hand.h"
#include "webcam/HandLandmarks.h"
#include "webcam/PalmDetector.h"

namespace webcam {

class HandReader {
public:
    // Loads palm_detection.onnx and hand_landmark.onnx from modelDir.
    explicit HandReader(const std::string& modelDir = HANDVIEW_WEBCAM_MODELS);

    // "" when both models are loaded; otherwise one line naming the file and why, and read()
    // never sees a hand.
    const std::string& error() const { return error_; }

    // One camera frame (8-bit BGR; grey and BGRA are taken too), in order.
    std::optional<HandSighting> read(const cv::Mat& frame);

    // Whether the next read() follows the last hand (the landmark model alone) rather than
    // searching the whole frame with the detector.
    bool tracking() const { return tracked_.has_value(); }
    // Whether the last read() ran the palm detector (the costlier frames).
    bool searched() const { return searched_; }
    void forget() { tracked_.reset(); }

private:
    // The landmarks around a detected palm if the landmark model confirms a hand there.
    std::optional<LandmarkReading> lookAt(const cv::Mat& bgr, const Palm& palm, HandRegion& crop);

    std::string error_;
    PalmDetector detector_;
    HandLandmarks landmarks_;
    std::optional<HandRegion> tracked_;
    int sinceDetection_ = 0;
    bool searched_ = false;
    cv::Mat bgr_;
};

}  // namespace webcam
