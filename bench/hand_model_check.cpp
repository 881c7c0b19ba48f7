// The rewritten hand models as OpenCV runs them, against the original graphs as
// webcam/models/rewrite-for-opencv --check evaluates them (it leaves the inputs and outputs in a
// folder). Prints the largest difference per output; never fails on a figure.
// Usage: hand_model_check CHECK_DIR [MODELS_DIR]
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/dnn.hpp>

#include "bench/BenchSupport.h"

namespace {

std::vector<float> readFloats(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) bench::ModelDir::fail("cannot read " + path);
    std::vector<float> values;
    for (float v; in.read(reinterpret_cast<char*>(&v), sizeof v);) values.push_back(v);
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) bench::ModelDir::fail("usage: hand_model_check CHECK_DIR [MODELS_DIR]");
    const std::string check = argv[1], models = argc > 2 ? argv[2] : HANDVIEW_WEBCAM_MODELS;
    struct Model {
        const char* name;
        int side;
        std::vector<std::string> outputs;
    };
    for (const Model& m : {Model{"palm_detection", 128, {"regressors", "classificators"}},
                           Model{"hand_landmark", 224, {"Identity", "Identity_1", "Identity_2"}}}) {
        cv::dnn::Net net = cv::dnn::readNetFromONNX(models + "/" + m.name + ".onnx");
        std::vector<float> input = readFloats(check + "/" + m.name + ".input.f32");
        const int shape[] = {1, 3, m.side, m.side};
        if (input.size() != size_t(3 * m.side * m.side)) bench::ModelDir::fail("wrong input size for " + std::string(m.name));
        net.setInput(cv::Mat(4, shape, CV_32F, input.data()));
        std::vector<cv::Mat> outputs;
        net.forward(outputs, m.outputs);
        for (size_t i = 0; i < outputs.size(); ++i) {
            const std::vector<float> expected = readFloats(check + "/" + m.name + "." + m.outputs[i] + ".f32");
            if (expected.size() != outputs[i].total()) bench::ModelDir::fail("wrong output size for " + m.outputs[i]);
            double worst = 0, largest = 0;
            for (size_t k = 0; k < expected.size(); ++k) {
                worst = std::max(worst, double(std::abs(outputs[i].ptr<float>()[k] - expected[k])));
                largest = std::max(largest, double(std::abs(expected[k])));
            }
            std::printf("%-15s %-15s largest difference %.1e (values up to %.3g)\n", m.name, m.outputs[i].c_str(),
                        worst, largest);
        }
    }
    return 0;
}
