// The detector sees a 192x192 letterboxed copy, RGB in [0, 1], and scores 2016 fixed anchors (a
// 24x24 grid with two per cell, a 12x12 grid with six); each anchor regresses a box and seven palm
// keypoints.
#include "webcam/PalmDetector.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace webcam {

namespace {

constexpr int kSide = 192;
constexpr int kAnchors = 2016;
constexpr int kValues = 18;  // box centre and size, then 7 keypoints
constexpr float kMinScore = 0.5f;
constexpr float kSameHandIoU = 0.3f;  // overlapping finds are one palm

float iou(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float common = (a & b).area();
    return common > 0 ? common / (a.area() + b.area() - common) : 0;
}

}  // namespace

std::string PalmDetector::load(const std::string& path) {
    anchors_.clear();
    for (const auto& [grid, perCell] : {std::pair{24, 2}, std::pair{12, 6}})
        for (int y = 0; y < grid; ++y)
            for (int x = 0; x < grid; ++x)
                for (int k = 0; k < perCell; ++k) anchors_.emplace_back((x + 0.5f) / grid, (y + 0.5f) / grid);
    return model_.load(path, {1, kSide, kSide, 3}, {{1, kAnchors, kValues}, {1, kAnchors, 1}});
}

std::vector<Palm> PalmDetector::detect(const cv::Mat& bgr) {
    const float side = float(std::max(bgr.cols, bgr.rows));
    const float scale = kSide / side;
    const cv::Size fitted(std::max(1, int(std::lround(bgr.cols * scale))),
                          std::max(1, int(std::lround(bgr.rows * scale))));
    const cv::Point2f pad((kSide - fitted.width) / 2.0f, (kSide - fitted.height) / 2.0f);
    square_.create(kSide, kSide, CV_8UC3);
    square_.setTo(cv::Scalar::all(0));
    cv::resize(bgr, square_(cv::Rect(cv::Point(int(pad.x), int(pad.y)), fitted)), fitted, 0, 0,
               cv::INTER_AREA);
    cv::cvtColor(square_, rgb_, cv::COLOR_BGR2RGB);
    rgb_.convertTo(cv::Mat(kSide, kSide, CV_32FC3, model_.input()), CV_32F, 1 / 255.0);
    if (!model_.run()) return {};

    const float* reg = model_.output(0);
    const float* cls = model_.output(1);
    // Back from the letterboxed square's unit coordinates to source pixels.
    const auto toImage = [&](float u, float v) {
        return cv::Point2f((u * kSide - int(pad.x)) / scale, (v * kSide - int(pad.y)) / scale);
    };
    std::vector<Palm> found;
    for (int i = 0; i < kAnchors; ++i) {
        if (!(cls[i] > std::log(kMinScore / (1 - kMinScore)))) continue;
        const float* r = reg + i * kValues;
        const cv::Point2f a = anchors_[i];
        Palm p;
        p.score = 1 / (1 + std::exp(-std::clamp(cls[i], -100.0f, 100.0f)));
        const cv::Point2f c = toImage(a.x + r[0] / kSide, a.y + r[1] / kSide);
        const cv::Point2f size(r[2] / scale, r[3] / scale);
        p.box = cv::Rect2f(c.x - size.x / 2, c.y - size.y / 2, size.x, size.y);
        for (int k = 0; k < 7; ++k)
            p.keypoints[k] = toImage(a.x + r[4 + 2 * k] / kSide, a.y + r[5 + 2 * k] / kSide);
        if (p.box.area() > 0) found.push_back(p);
    }
    std::sort(found.begin(), found.end(), [](const Palm& a, const Palm& b) { return a.score > b.score; });

    // Neighbouring anchors fire on the same palm: average them, weighted by score.
    std::vector<Palm> palms;
    std::vector<bool> used(found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        if (used[i]) continue;
        Palm sum;
        float weight = 0;
        cv::Point2f tl, br;
        for (size_t j = i; j < found.size(); ++j) {
            if (used[j] || iou(found[i].box, found[j].box) <= kSameHandIoU) continue;
            used[j] = true;
            const float w = found[j].score;
            tl += w * found[j].box.tl();
            br += w * found[j].box.br();
            for (int k = 0; k < 7; ++k) sum.keypoints[k] += w * found[j].keypoints[k];
            weight += w;
        }
        sum.box = cv::Rect2f(tl / weight, br / weight);
        for (auto& k : sum.keypoints) k /= weight;
        sum.score = found[i].score;
        palms.push_back(sum);
    }
    std::sort(palms.begin(), palms.end(),
              [](const Palm& a, const Palm& b) { return a.box.area() > b.box.area(); });
    return palms;
}

}  // namespace webcam
