// The webcam's model runtime (XNNPACK) against a second, independent evaluation of the same files
// (bench/tflite_numpy.py, plain numpy in float64) on real photographs: prints the largest
// difference per output, against the output's own scale (its largest magnitude), and whether it is
// within 1e-3 of it. Exits 1 if any is not; never looks at a time. With --write DIR it also keeps, for
// each photo, the models' inputs (PHOTO-SIDE.png) and numpy's outputs (PHOTO.MODEL.f32, the outputs
// one after the other, float32): the suite's test compares the runtime with those
// (tests/data/model-outputs, written by: hand_model_check --write tests/data/model-outputs
// webcam/models/palm_detection_lite.tflite webcam/models/hand_landmark_lite.tflite tests/data/hands/five.jpg).
// Usage: hand_model_check [--write DIR] [MODEL.tflite | MODELS_DIR]... [PHOTO]...   (default: the
// shipped models, three test photos)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/BenchSupport.h"
#include "webcam/TfliteModel.h"

namespace {

namespace fs = std::filesystem;
using Shape = webcam::TfliteModel::Shape;

constexpr double kTolerance = 1e-3;  // of the output's scale

size_t elements(const Shape& s) {
    size_t n = 1;
    for (size_t d : s) n *= d;
    return n;
}

// The photo letterboxed into the model's square input, as the hand reader feeds it (8-bit BGR here).
cv::Mat letterboxed(const cv::Mat& bgr, int side) {
    const double scale = double(side) / std::max(bgr.cols, bgr.rows);
    cv::Mat fitted, square(side, side, CV_8UC3, cv::Scalar::all(0));
    cv::resize(bgr, fitted, cv::Size(int(bgr.cols * scale), int(bgr.rows * scale)), 0, 0, cv::INTER_AREA);
    fitted.copyTo(
        square(cv::Rect((side - fitted.cols) / 2, (side - fitted.rows) / 2, fitted.cols, fitted.rows)));
    return square;
}

// The input: RGB in [0, 1].
void fill(const cv::Mat& square, float* input) {
    cv::Mat rgb;
    cv::cvtColor(square, rgb, cv::COLOR_BGR2RGB);
    rgb.convertTo(cv::Mat(square.rows, square.cols, CV_32FC3, input), CV_32F, 1 / 255.0);
}

std::vector<float> readFloats(const fs::path& path, size_t count) {
    std::vector<float> v(count);
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(v.data()), std::streamsize(count * sizeof(float))))
        bench::ModelDir::fail("no numpy output " + path.string());
    return v;
}

std::string shellWord(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

int main(int argc, char** argv) {
    std::string write;
    if (argc > 2 && std::string(argv[1]) == "--write") {
        write = argv[2];
        argv += 2, argc -= 2;
    }
    if (argc > 1 && argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: hand_model_check [--write DIR] [MODEL.tflite | MODELS_DIR]... [PHOTO]...\n");
        return std::string(argv[1]) == "--help" ? 0 : 2;
    }
    std::vector<fs::path> models;
    std::vector<std::string> photos;
    const auto addModels = [&](const fs::path& dir) {
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".tflite") models.push_back(entry.path());
    };
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i]))
            addModels(argv[i]);
        else if (fs::path(argv[i]).extension() == ".tflite")
            models.emplace_back(argv[i]);
        else
            photos.emplace_back(argv[i]);
    }
    if (models.empty()) addModels(HANDVIEW_WEBCAM_MODELS);
    if (photos.empty())
        for (const char* p : {"five.jpg", "two-hands.jpg", "no-hand.jpg"})
            photos.push_back(std::string(HANDVIEW_SOURCE_DIR) + "/tests/data/hands/" + p);

    std::string dir = (fs::temp_directory_path() / "hand-model-check-XXXXXX").string();
    if (!mkdtemp(dir.data())) bench::ModelDir::fail("cannot create a temporary directory");
    bool allWithin = true;
    int checked = 0;
    for (const fs::path& path : models) {
        const std::string name = path.filename().string();
        const bool palm = name.rfind("palm", 0) == 0;
        const int side = palm ? 192 : 224;
        const std::vector<std::string> names =
            palm ? std::vector<std::string>{"Identity", "Identity_1"}
                 : std::vector<std::string>{"Identity", "Identity_1", "Identity_2", "Identity_3"};
        const std::vector<Shape> outputs = palm ? std::vector<Shape>{{1, 2016, 18}, {1, 2016, 1}}
                                                : std::vector<Shape>{{1, 63}, {1, 1}, {1, 1}, {1, 63}};
        webcam::TfliteModel model;
        const std::string error = model.load(path.string(), {1, size_t(side), size_t(side), 3}, outputs);
        if (!error.empty()) bench::ModelDir::fail(error);
        for (const std::string& photo : photos) {
            const cv::Mat image = cv::imread(photo, cv::IMREAD_COLOR);
            if (image.empty()) bench::ModelDir::fail("cannot read " + photo);
            const cv::Mat square = letterboxed(image, side);
            const std::string stem = fs::path(photo).stem().string();
            if (!write.empty() &&
                !cv::imwrite(write + "/" + stem + "-" + std::to_string(side) + ".png", square))
                bench::ModelDir::fail("cannot write into " + write);
            fill(square, model.input());
            if (!model.run()) bench::ModelDir::fail("XNNPACK failed to run " + name);
            const fs::path input = fs::path(dir) / "input.f32";
            std::ofstream(input, std::ios::binary)
                .write(reinterpret_cast<const char*>(model.input()),
                       std::streamsize(side * side * 3 * sizeof(float)));
            const std::string command =
                "/usr/bin/python3 " + shellWord(HANDVIEW_SOURCE_DIR "/bench/tflite_numpy.py") + " " +
                shellWord(path.string()) + " " + shellWord(input.string()) + " " + shellWord(dir);
            if (std::system(command.c_str()) != 0)
                bench::ModelDir::fail("the numpy evaluation failed: " + command);
            std::ofstream kept;
            if (!write.empty())
                kept.open(write + "/" + stem + "." + path.stem().string() + ".f32", std::ios::binary);
            for (size_t k = 0; k < outputs.size(); ++k) {
                const std::vector<float> expected =
                    readFloats(fs::path(dir) / (names[k] + ".f32"), elements(outputs[k]));
                kept.write(reinterpret_cast<const char*>(expected.data()),
                           std::streamsize(expected.size() * sizeof(float)));
                double worst = 0, scale = 0;
                for (size_t i = 0; i < expected.size(); ++i) {
                    worst = std::max(worst, double(std::abs(model.output(k)[i] - expected[i])));
                    scale = std::max(scale, double(std::abs(expected[i])));
                }
                const bool within = std::isfinite(worst) && worst <= kTolerance * std::max(scale, 1e-6);
                allWithin = allWithin && within;
                ++checked;
                std::printf(
                    "%-27s %-22s %-10s largest difference %.2e, values up to %8.3g: %.1e of the scale%s\n",
                    name.c_str(), fs::path(photo).filename().c_str(), names[k].c_str(), worst, scale,
                    worst / std::max(scale, 1e-6), within ? "" : "  OVER 1e-3");
            }
        }
    }
    fs::remove_all(dir);
    if (checked == 0) bench::ModelDir::fail("no models or no photos");
    std::printf("%d outputs compared: %s\n", checked,
                allWithin ? "all within 1e-3 of their scale" : "SOME DIFFER");
    return allWithin ? 0 : 1;
}
