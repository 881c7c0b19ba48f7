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

// MediaPipe ships each model in two sizes; "full" costs about twice as much a run. The lite pair reads
// the test photos as well as any other pair.
enum class ModelSize { lite, full };
struct HandModels {
    ModelSize palm = ModelSize::lite;
    ModelSize landmarks = ModelSize::lite;
};

// What the last read() looked at, for drawing over the picture: the square crop the landmark model
// read (angle clockwise on screen, 0 with the fingers up) and the 21 landmarks it found there.
struct ReaderView {
    cv::RotatedRect crop;
    Landmarks landmarks;  // picture pixels
};

class HandReader {
public:
    // Loads palm_detection_SIZE.tflite and hand_landmark_SIZE.tflite from modelDir.
    explicit HandReader(const std::string& modelDir = HANDVIEW_WEBCAM_MODELS, HandModels models = {});

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
    // Empty when the last read() saw no hand.
    const std::optional<ReaderView>& lastView() const { return view_; }
    // Why the last read() could not look at its frame at all, or "".
    const std::string& refusal() const { return refusal_; }

private:
    // The landmarks around a detected palm if the landmark model confirms a hand there.
    std::optional<LandmarkReading> lookAt(const cv::Mat& bgr, const Palm& palm, HandRegion& crop);

    std::string error_, refusal_;
    PalmDetector detector_;
    HandLandmarks landmarks_;
    std::optional<HandRegion> tracked_;
    std::optional<ReaderView> view_;
    int sinceDetection_ = 0;
    bool searched_ = false;
    cv::Mat bgr_;
};

}  // namespace webcam
