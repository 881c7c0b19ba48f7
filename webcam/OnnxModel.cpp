#include "webcam/OnnxModel.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <opencv2/core/utils/logger.hpp>

namespace webcam {

namespace {

std::string firstLine(const std::string& s) {
    const auto end = s.find('\n');
    return s.substr(0, end);
}

}  // namespace

std::string OnnxModel::load(const std::string& path, int inputSide,
                            const std::vector<std::pair<std::string, int>>& outputs) {
    loaded_ = false;
    const std::string refused = "cannot load the hand model " + path + ": ";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return refused + std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return refused + "not a regular file";
    names_.clear();
    for (const auto& o : outputs) names_.push_back(o.first);
    // OpenCV logs several lines of its own for a file it cannot parse; the caller prints one.
    const auto level = cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::string error;
    try {
        net_ = cv::dnn::readNetFromONNX(path);
    } catch (const cv::Exception& e) {
        error = refused + firstLine(e.err);
    }
    const std::string wrong = refused + "not the expected model";
    try {
        const int shape[] = {1, 3, inputSide, inputSide};
        std::vector<cv::Mat> out;
        if (error.empty()) {
            net_.setInput(cv::Mat(4, shape, CV_32F, cv::Scalar(0)));
            net_.forward(out, names_);
        }
        for (size_t i = 0; i < outputs.size() && error.empty(); ++i)
            if (out.size() != outputs.size() || int(out[i].total()) != outputs[i].second)
                error = wrong + " (output " + outputs[i].first + ")";
    } catch (const cv::Exception& e) {
        error = wrong + " (" + firstLine(e.err) + ")";
    }
    cv::utils::logging::setLogLevel(level);
    loaded_ = error.empty();
    return error;
}

bool OnnxModel::run(const cv::Mat& blob, std::vector<cv::Mat>& outputs) {
    if (!loaded_) return false;
    try {
        net_.setInput(blob);
        net_.forward(outputs, names_);
        return outputs.size() == names_.size();
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace webcam
