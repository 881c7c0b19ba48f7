// libFuzzer target: bytes as a hand model file, loaded as the webcam service loads either of its
// models and run once when it loads. Whatever the file holds, the load says one line or builds a
// graph that runs.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "webcam/TfliteModel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/dev/shm/model_fuzzer_" + std::to_string(getpid()) + ".tflite";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));
    using Shape = webcam::TfliteModel::Shape;
    const std::pair<Shape, std::vector<Shape>> models[] = {
        // the landmarks', the palm detector's
        {{1, 224, 224, 3}, {{1, 63}, {1, 1}, {1, 1}, {1, 63}}},
        {{1, 192, 192, 3}, {{1, 2016, 18}, {1, 2016, 1}}}};
    for (const auto& [input, outputs] : models) {
        webcam::TfliteModel model;
        if (model.load(path, input, outputs).empty()) {
            model.run();
            break;
        }
    }
    return 0;
}
