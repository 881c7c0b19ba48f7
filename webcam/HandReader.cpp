#include "HandReader.h"

#include <opencv2/imgproc.hpp>

#include "Fingers.h"

namespace webcam {

namespace {

constexpr float kMinPresence = 0.5f;
// A nearer hand that comes into view while another is followed is noticed within this many frames.
constexpr int kFramesBetweenSearches = 30;

bool inside(const cv::Rect2f& box, const HandRegion& region) {
    const cv::Point2f c(box.x + box.width / 2, box.y + box.height / 2);
    return cv::norm(c - region.centre) < region.side / 2;
}

}  // namespace

HandReader::HandReader(const std::string& modelDir) {
    error_ = detector_.load(modelDir + "/palm_detection.onnx");
    if (error_.empty()) error_ = landmarks_.load(modelDir + "/hand_landmark.onnx");
}

std::optional<LandmarkReading> HandReader::detect(const cv::Mat& bgr, HandRegion& crop) {
    sinceDetection_ = 0;
    searched_ = true;
    const std::vector<Palm> palms = detector_.detect(bgr);
    if (palms.empty()) return {};
    crop = regionAroundPalm(palms.front());
    return landmarks_.read(bgr, crop);
}

std::optional<HandSighting> HandReader::read(const cv::Mat& frame) {
    searched_ = false;
    if (!error_.empty() || frame.empty() || frame.depth() != CV_8U) return {};
    const cv::Mat* bgr = &frame;
    if (frame.channels() != 3) {
        if (frame.channels() == 1)
            cv::cvtColor(frame, bgr_, cv::COLOR_GRAY2BGR);
        else if (frame.channels() == 4)
            cv::cvtColor(frame, bgr_, cv::COLOR_BGRA2BGR);
        else
            return {};
        bgr = &bgr_;
    }

    std::optional<LandmarkReading> seen;
    if (tracked_ && ++sinceDetection_ >= kFramesBetweenSearches) {
        // Switch only to a hand larger than the one followed, as the detector measures both.
        const std::vector<Palm> palms = detector_.detect(*bgr);
        sinceDetection_ = 0;
        searched_ = true;
        if (!palms.empty() && !inside(palms.front().box, *tracked_)) tracked_ = regionAroundPalm(palms.front());
    }
    HandRegion crop;
    if (tracked_) {
        crop = *tracked_;
        seen = landmarks_.read(*bgr, crop);
    }
    if (!seen || seen->presence < kMinPresence) seen = detect(*bgr, crop);
    if (!seen || seen->presence < kMinPresence) {
        tracked_.reset();
        return {};
    }
    tracked_ = followHand(crop, seen->landmarks);

    HandSighting hand;
    hand.landmarks = seen->landmarks;
    hand.extended = extendedFingers(seen->landmarks);
    hand.score = seen->presence;
    return hand;
}

}  // namespace webcam
