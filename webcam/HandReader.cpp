#include "webcam/HandReader.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "webcam/Fingers.h"
#include "webcam/HandRegion.h"

namespace webcam {

namespace {

constexpr float kMinPresence = 0.5f;
// The detector's box is often too small on a hand seen side-on: a second look takes this much more.
constexpr float kWiderLook = 2;
// Palms the landmark model is asked to confirm, largest first, before a frame counts as handless.
constexpr size_t kPalmsTried = 2;
// A nearer hand that comes into view while another is followed is noticed within this many frames.
constexpr int kFramesBetweenSearches = 30;

bool confirmed(const std::optional<LandmarkReading>& seen) {
    return seen && seen->presence >= kMinPresence;
}

bool inside(const cv::Rect2f& box, const HandRegion& region) {
    const cv::Point2f c(box.x + box.width / 2, box.y + box.height / 2);
    return cv::norm(c - region.centre) < region.side / 2;
}

}  // namespace

HandReader::HandReader(const std::string& modelDir, HandModels models) {
    const auto size = [](ModelSize s) { return s == ModelSize::full ? "full" : "lite"; };
    error_ = detector_.load(modelDir + "/palm_detection_" + size(models.palm) + ".tflite");
    if (error_.empty())
        error_ = landmarks_.load(modelDir + "/hand_landmark_" + size(models.landmarks) + ".tflite");
}

std::optional<LandmarkReading> HandReader::lookAt(const cv::Mat& bgr, const Palm& palm, HandRegion& crop) {
    crop = regionAroundPalm(palm);
    auto seen = landmarks_.read(bgr, crop);
    if (confirmed(seen)) return seen;
    crop.side *= kWiderLook;
    seen = landmarks_.read(bgr, crop);
    return confirmed(seen) ? seen : std::nullopt;
}

std::optional<HandSighting> HandReader::read(const cv::Mat& frame) {
    searched_ = false;
    view_.reset();
    refusal_.clear();
    if (frame.cols > kMaxWarpedSide || frame.rows > kMaxWarpedSide) {
        refusal_ = "a frame of " + std::to_string(frame.cols) + "x" + std::to_string(frame.rows) +
                   " pixels is larger than the reader takes (" + std::to_string(kMaxWarpedSide) + " a side)";
        return {};
    }
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
    HandRegion crop;
    std::vector<Palm> palms;
    const auto search = [&] {
        palms = detector_.detect(*bgr);
        searched_ = true;
        sinceDetection_ = 0;
    };
    if (!tracked_ || ++sinceDetection_ >= kFramesBetweenSearches) search();
    if (tracked_) {
        // While a hand is followed, only a larger one elsewhere takes over, as the detector
        // measures both.
        if (!palms.empty() && !inside(palms.front().box, *tracked_)) seen = lookAt(*bgr, palms.front(), crop);
        if (!seen) {
            crop = *tracked_;
            seen = landmarks_.read(*bgr, crop);
        }
        if (!confirmed(seen)) {
            seen.reset();
            if (!searched_) search();
        }
    }
    for (size_t i = 0; !seen && i < std::min(palms.size(), kPalmsTried); ++i)
        seen = lookAt(*bgr, palms[i], crop);
    if (!seen) {
        tracked_.reset();
        return {};
    }
    tracked_ = followHand(crop, seen->landmarks);
    const float degrees = float(crop.rotation * 180 / M_PI);
    view_ =
        ReaderView{cv::RotatedRect(crop.centre, cv::Size2f(crop.side, crop.side), degrees), seen->landmarks};

    HandSighting hand;
    hand.landmarks = seen->landmarks;
    hand.extended = extendedFingers(seen->landmarks);
    hand.score = seen->presence;
    return hand;
}

}  // namespace webcam
