// The hand reader on real photographs held still in front of the camera, and its models failing to load.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include <opencv2/imgcodecs.hpp>

#include "webcam/HandReader.h"
#include "webcam/schema_generated.h"

namespace {

const std::string kPhotos = HANDVIEW_SOURCE_DIR "/tests/data/hands/";

std::string fingers(const std::optional<webcam::HandSighting>& hand) {
    if (!hand) return "no hand";
    std::string s;
    for (int f = 0; f < webcam::kFingers; ++f) s += hand->extended[f] ? "TIMRL"[f] : '.';
    return s;
}

const char* control(int count) { return count == 0 ? "idle" : count <= 2 ? "point" : "fly"; }

TEST(WebcamReader, ReadsAStillPhotoWithinThreeFramesAndHoldsIt) {
    webcam::HandReader reader;
    ASSERT_EQ(reader.error(), "");
    const struct {
        const char* photo;
        int count;
        const char* control;
    } cases[] = {
        {"no-hand.jpg", 0, "idle"},  // a face is not a hand
        {"fist.jpg", 0, "idle"},
        {"one.jpg", 1, "point"},
        {"two.jpg", 2, "point"},
        {"three.jpg", 3, "fly"},
        {"three-with-thumb.jpg", 3, "fly"},  // side-on; the thumb held out, ring and little folded
        {"four.jpg", 4, "fly"},              // the thumb tucked across the palm
        {"five.jpg", 5, "fly"},
        {"two-hands.jpg", 1, "point"},  // the larger, nearer hand points; the open one is farther
    };
    for (const auto& c : cases) {
        const cv::Mat photo = cv::imread(kPhotos + c.photo);
        ASSERT_FALSE(photo.empty()) << c.photo;
        reader.forget();
        std::optional<webcam::HandSighting> third;
        for (int frame = 1; frame <= 8; ++frame) {
            const auto hand = reader.read(photo);
            if (frame == 3) third = hand;
            const int count = hand ? int(std::count(hand->extended.begin(), hand->extended.end(), true)) : 0;
            if (frame < 3) continue;
            EXPECT_EQ(count, c.count) << c.photo << " frame " << frame << ": " << fingers(hand);
            EXPECT_STREQ(control(count), c.control) << c.photo << " frame " << frame;
            EXPECT_EQ(fingers(hand), fingers(third)) << c.photo << " changed on frame " << frame;
        }
        EXPECT_EQ(third.has_value(), std::string(c.photo) != "no-hand.jpg") << c.photo;
    }
    for (const cv::Mat& odd : {cv::Mat(), cv::Mat(1, 1, CV_8UC3), cv::Mat(4, 9000, CV_8UC1, cv::Scalar(9)),
                               cv::Mat(64, 64, CV_8UC2), cv::Mat(64, 64, CV_32FC3)})
        EXPECT_FALSE(reader.read(odd)) << odd.size << " type " << odd.type();
}

// Real files made hostile, each one clear line: the verifier, then the checks of every index,
// size and shape, stand between a damaged file and XNNPACK.
TEST(WebcamReader, ModelThatCannotBeLoadedIsOneLineNamingIt) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("webcam_reader_test_" + std::to_string(getpid()));
    const fs::path palm = dir / "palm_detection_lite.tflite";
    fs::create_directories(dir);
    std::ifstream in(fs::path(HANDVIEW_WEBCAM_MODELS) / palm.filename(), std::ios::binary);
    const std::string real{std::istreambuf_iterator<char>(in), {}};
    // Tensor k of operator `op`: 2 is the first convolution, after the DEQUANTIZE (0, 1) of its weights.
    const auto tensor = [](tflite::Model* m, int op, bool in, int k) {
        const auto* o = m->subgraphs()->Get(0)->operators()->Get(op);
        return m->mutable_subgraphs()->GetMutableObject(0)->mutable_tensors()->GetMutableObject((in ? o->inputs() : o->outputs())->Get(k));
    };
    const std::pair<std::function<void(std::string&, tflite::Model*)>, const char*> cases[] = {
        {[](std::string& f, auto) { f.resize(f.size() / 2); }, "not a TFLite model, or a damaged one"},  // truncated
        {[](std::string& f, auto) { f[3] = 0x7f; }, "not a TFLite model, or a damaged one"},  // the root offset far out
        {[&](std::string&, auto m) { tensor(m, 2, true, 0)->mutable_shape()->Mutate(1, 128); },
         "not the expected model (its input)"},
        {[&](std::string&, auto m) { tensor(m, 2, false, 0)->mutable_shape()->Mutate(2, 97); },
         "operator 2 (CONV_2D): an output of shape [1x96x97x32] where the operator gives [1x96x96x32]"},
        {[&](std::string&, auto m) { tensor(m, 2, false, 0)->mutate_buffer(1u << 30); },
         "operator 2 (CONV_2D): a tensor's buffer index out of range"},
        {[&](std::string&, auto m) { tensor(m, 0, true, 0)->mutate_buffer(tensor(m, 1, true, 0)->buffer()); },
         "operator 0 (DEQUANTIZE): a weight buffer of the wrong size"},
        {[](std::string&, auto m) { m->mutable_operator_codes()->GetMutableObject(0)->mutate_builtin_code(tflite::BuiltinOperator_SOFTMAX); },
         "operator 2 (SOFTMAX): this runtime does not run it"},
    };
    for (const auto& [harm, error] : cases) {
        std::string file = real;
        harm(file, tflite::GetMutableModel(file.data()));
        std::ofstream(palm, std::ios::binary) << file;
        EXPECT_EQ(webcam::HandReader(dir.string()).error(), palm.string() + ": " + error);
    }
    fs::remove_all(dir);
}

}  // namespace
