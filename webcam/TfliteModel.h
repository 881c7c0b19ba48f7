// A TFLite model file run on XNNPACK on the calling thread: read, checked and built into one
// subgraph once at load, then run as often as needed. It runs the few operators the hand models use.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct xnn_runtime;

namespace webcam {

class TfliteModel {
public:
    using Shape = std::vector<size_t>;

    TfliteModel();
    ~TfliteModel();
    TfliteModel(const TfliteModel&) = delete;
    TfliteModel& operator=(const TfliteModel&) = delete;

    // Reads path and builds it; returns "" or one line saying why it cannot be used: no such file,
    // not a TFLite model, an operator or a shape this runtime does not take, or other inputs and
    // outputs than `input` and `outputs` (in the file's order; float32, NHWC).
    std::string load(const std::string& path, const Shape& input, const std::vector<Shape>& outputs);
    bool loaded() const { return runtime_ != nullptr; }

    // The input to fill before run(), and the outputs it leaves, as load() named their shapes.
    float* input() { return input_.data(); }
    const float* output(size_t i) const { return outputs_[i].data(); }
    bool run();

private:
    struct Deleter {
        void operator()(xnn_runtime* runtime) const;
    };
    std::unique_ptr<xnn_runtime, Deleter> runtime_;
    // Weights, in float32; the runtime reads them as long as it lives.
    std::vector<std::vector<float>> constants_;
    std::vector<float> input_;
    std::vector<std::vector<float>> outputs_;
};

}  // namespace webcam
