// One of the hand models, loaded with OpenCV's DNN module and checked to be the model we expect.
#pragma once

#include <string>
#include <vector>

#include <opencv2/dnn.hpp>

namespace webcam {

class OnnxModel {
public:
    // Loads path and runs it once on a blank input of the given side; returns one line saying why
    // it cannot be used ("" when it can): no such file, not an ONNX model, or other outputs than
    // `outputs` (name and element count).
    std::string load(const std::string& path, int inputSide, const std::vector<std::pair<std::string, int>>& outputs);
    bool loaded() const { return loaded_; }

    // The outputs for a 1x3xNxN blob, in the order load() named them; false if OpenCV refused.
    bool run(const cv::Mat& blob, std::vector<cv::Mat>& outputs);

private:
    cv::dnn::Net net_;
    std::vector<std::string> names_;
    bool loaded_ = false;
};

}  // namespace webcam
