// The four pairs of hand models the webcam benches compare (palm detector and landmark model, each
// lite or full), or the one named by --models PALM,LANDMARKS. They come from the shared models
// beside the repository, which hold all four files; without those, from the shipped ones, which
// hold the pairs handview-camera offers.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "webcam/HandReader.h"

namespace bench {

struct HandPair {
    std::string name;  // "palm lite, landmarks full"
    webcam::HandModels models;
};

inline std::string handModelDir() {
    const std::string shared = HANDVIEW_SOURCE_DIR "/../shared/hands/models-tflite";
    return std::filesystem::exists(shared + "/palm_detection_full.tflite") ? shared : HANDVIEW_WEBCAM_MODELS;
}

inline std::vector<HandPair> handPairs(const std::string& only = "") {
    using webcam::ModelSize;
    const auto word = [](ModelSize s) { return std::string(s == ModelSize::full ? "full" : "lite"); };
    std::vector<HandPair> pairs;
    for (ModelSize palm : {ModelSize::lite, ModelSize::full})
        for (ModelSize landmarks : {ModelSize::lite, ModelSize::full}) {
            if (!only.empty() && only != word(palm) + "," + word(landmarks)) continue;
            const std::string name = "palm " + word(palm) + ", landmarks " + word(landmarks);
            if (!std::filesystem::exists(handModelDir() + "/palm_detection_" + word(palm) + ".tflite")) {
                std::printf("(%s: no palm_detection_%s.tflite in %s)\n", name.c_str(), word(palm).c_str(),
                            handModelDir().c_str());
                continue;
            }
            pairs.push_back({name, {palm, landmarks}});
        }
    if (pairs.empty()) ModelDir::fail("--models takes PALM,LANDMARKS, each lite or full, not " + only);
    return pairs;
}

}  // namespace bench
