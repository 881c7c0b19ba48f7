// The hand reader on real photographs held still in front of the camera, and its models failing to load.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "webcam/HandReader.h"
#include "webcam/TfliteModel.h"
#include "webcam/schema_object.h"

namespace {

const std::string kPhotos = HANDVIEW_SOURCE_DIR "/tests/data/hands/";

std::string fingers(const std::optional<webcam::HandSighting>& hand) {
    if (!hand) return "no hand";
    std::string s;
    for (int f = 0; f < webcam::kFingers; ++f) s += hand->extended[f] ? "TIMRL"[f] : '.';
    return s;
}

TEST(WebcamReader, ReadsAStillPhotoWithinThreeFramesAndHoldsIt) {
    webcam::HandReader reader;
    ASSERT_EQ(reader.error(), "");
    const struct {
        const char* photo;
        int count;
    } cases[] = {
        {"no-hand.jpg", 0},  // a face is not a hand
        {"fist.jpg", 0},
        {"one.jpg", 1},
        {"two.jpg", 2},
        {"three.jpg", 3},
        {"three-with-thumb.jpg", 3},  // side-on; the thumb held out, ring and little folded
        {"four.jpg", 4},              // the thumb tucked across the palm
        {"five.jpg", 5},
        {"two-hands.jpg", 1},  // the larger, nearer hand points; the open one is farther
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
            EXPECT_EQ(fingers(hand), fingers(third)) << c.photo << " changed on frame " << frame;
        }
        EXPECT_EQ(third.has_value(), std::string(c.photo) != "no-hand.jpg") << c.photo;
    }
    // A hand is being followed: too large a frame for OpenCV's warps comes first.
    for (const cv::Mat& odd :
         {cv::Mat(2, 32767, CV_8UC3), cv::Mat(), cv::Mat(1, 1, CV_8UC3),
          cv::Mat(4, 9000, CV_8UC1, cv::Scalar(9)), cv::Mat(64, 64, CV_8UC2), cv::Mat(64, 64, CV_32FC3)})
        EXPECT_FALSE(reader.read(odd)) << odd.size << " type " << odd.type();
}

// The runtime computes what an independent evaluation of the same files in numpy computes
// (bench/tflite_numpy.py, its outputs kept by bench/hand_model_check --write): within 1e-3 of each
// output's largest value, on a photo's letterboxed input.
TEST(WebcamReader, ModelsComputeWhatTheNumpyEvaluationComputes) {
    const std::string data = HANDVIEW_SOURCE_DIR "/tests/data/model-outputs/";
    const std::tuple<const char*, size_t, std::vector<webcam::TfliteModel::Shape>> models[] = {
        {"palm_detection_lite", 192, {{1, 2016, 18}, {1, 2016, 1}}},
        {"hand_landmark_lite", 224, {{1, 63}, {1, 1}, {1, 1}, {1, 63}}}};
    for (const auto& [name, side, outputs] : models) {
        webcam::TfliteModel model;
        ASSERT_EQ(model.load(std::string(HANDVIEW_WEBCAM_MODELS "/") + name + ".tflite", {1, side, side, 3},
                             outputs),
                  "");
        cv::Mat rgb;
        cv::cvtColor(cv::imread(data + "five-" + std::to_string(side) + ".png"), rgb, cv::COLOR_BGR2RGB);
        rgb.convertTo(cv::Mat(int(side), int(side), CV_32FC3, model.input()), CV_32F, 1 / 255.0);
        ASSERT_TRUE(model.run());
        std::ifstream numpy(data + "five." + name + ".f32", std::ios::binary);
        for (size_t k = 0; k < outputs.size(); ++k) {
            std::vector<float> expected(
                size_t(std::accumulate(outputs[k].begin(), outputs[k].end(), 1, std::multiplies<>())));
            ASSERT_TRUE(
                numpy.read(reinterpret_cast<char*>(expected.data()), std::streamsize(expected.size() * 4)))
                << name;
            float worst = 0, scale = 1e-6f;
            for (size_t i = 0; i < expected.size(); ++i)
                worst = std::max(worst, std::isnan(model.output(k)[i])
                                            ? INFINITY
                                            : std::abs(model.output(k)[i] - expected[i])),
                scale = std::max(scale, std::abs(expected[i]));
            EXPECT_LE(worst, 1e-3f * scale) << name << " output " << k;
        }
    }
}

// The real landmark model grown by a convolution of our own (of `kernel` x `kernel` zeros, from
// tensor `from`) through FlatBuffers' object API; a graph output, or read by nothing.
struct Grown : tflite::ModelT {
    std::vector<webcam::TfliteModel::Shape> outs{{1, 63}, {1, 1}, {1, 1}, {1, 63}};
    std::vector<std::unique_ptr<tflite::TensorT>>& tensors() { return subgraphs[0]->tensors; }
    int32_t conv(int32_t from, int32_t kernel, int32_t stride, int32_t channels, int32_t side,
                 bool read = true) {
        const int32_t depth = tensors()[size_t(from)]->shape[3], w = int32_t(tensors().size());
        for (const std::vector<int32_t>& shape :
             {std::vector<int32_t>{channels, kernel, kernel, depth}, {1, side, side, channels}})
            tensors().emplace_back(new tflite::TensorT)->shape = shape;
        tensors()[size_t(w)]->buffer = uint32_t(buffers.size());
        buffers.emplace_back(new tflite::BufferT)
            ->data.resize(size_t(channels * kernel * kernel * depth) * 4);
        operator_codes.emplace_back(new tflite::OperatorCodeT)->deprecated_builtin_code =
            tflite::BuiltinOperator_CONV_2D;
        auto& op = *subgraphs[0]->operators.emplace_back(new tflite::OperatorT);
        op.opcode_index = uint32_t(operator_codes.size() - 1), op.inputs = {from, w}, op.outputs = {w + 1};
        tflite::Conv2DOptionsT o;
        o.padding = stride == 1 ? tflite::Padding_SAME : tflite::Padding_VALID,
        o.stride_w = o.stride_h = stride;
        op.builtin_options.Set(o);
        if (read)
            subgraphs[0]->outputs.push_back(w + 1),
                outs.push_back({1, size_t(side), size_t(side), size_t(channels)});
        return w + 1;
    }
};

// Real files made hostile, each one clear line: the verifier, then the checks of every index, size
// and shape, of what XNNPACK cannot place and of what a run may take, stand between a damaged or
// grown file and XNNPACK.
TEST(WebcamReader, ModelThatCannotBeLoadedIsOneLineNamingIt) {
    std::ifstream in(std::string(HANDVIEW_WEBCAM_MODELS) + "/hand_landmark_lite.tflite", std::ios::binary);
    const std::string real{std::istreambuf_iterator<char>(in), {}};
    const auto model = tflite::UnPackModel(real.data());
    // Operator 2 is the first convolution, after the DEQUANTIZE (0, 1) of its weights; tensor 0 the input.
    const auto at = [](Grown& m, int op, bool in, int k) -> tflite::TensorT& {
        const auto& o = *m.subgraphs[0]->operators[size_t(op)];
        return *m.tensors()[size_t((in ? o.inputs : o.outputs)[size_t(k)])];
    };
    const std::tuple<std::function<void(Grown&)>, std::function<void(std::string&)>, std::string> cases[] = {
        {nullptr, [](std::string& f) { f.resize(f.size() / 2); },
         "not a TFLite model, or a damaged one"},  // truncated
        {nullptr, [](std::string& f) { f[3] = 0x7f; },
         "not a TFLite model, or a damaged one"},  // the root offset far out
        {[&](Grown& m) { at(m, 2, true, 0).shape[1] = 128; }, nullptr, "not the expected model (its input)"},
        {[&](Grown& m) { at(m, 2, false, 0).shape[2] = 97; }, nullptr,
         "operator 2 (CONV_2D): an output of shape [1x112x97x24] where the operator gives [1x112x112x24]"},
        {[&](Grown& m) { at(m, 2, false, 0).buffer = 1u << 30; }, nullptr,
         "operator 2 (CONV_2D): a tensor's buffer index out of range"},
        {[&](Grown& m) { at(m, 2, false, 0).shape.assign(4, 65536); }, nullptr,
         "a tensor's element count of 4294967296, over the limit of 67108864"},
        {[&](Grown& m) { at(m, 0, true, 0).buffer = at(m, 1, true, 0).buffer; }, nullptr,
         "operator 0 (DEQUANTIZE): a weight buffer of the wrong size"},
        {[](Grown& m) { m.operator_codes[0]->deprecated_builtin_code = tflite::BuiltinOperator_SOFTMAX; },
         nullptr, "operator 2 (SOFTMAX): this runtime does not run it"},
        {[](Grown& m) { m.conv(0, 1, 1, 1, 224, false); }, nullptr,
         "tensor " + std::to_string(model->subgraphs[0]->tensors.size() + 1) + " is computed but never read"},
        {[](Grown& m) { m.subgraphs[0]->outputs[2] = m.subgraphs[0]->outputs[1], m.outs[2] = m.outs[1]; },
         nullptr, "an output named twice"},
        {[](Grown& m) { m.conv(0, 1, 1, 400, 224); }, nullptr,
         "the tensors alive at once need 77 MB, 13 MB over the budget of 64 MB"},
        {[](Grown& m) { m.conv(m.conv(0, 4, 4, 1024, 56), 1, 1, 1024, 56); }, nullptr,
         "a run's multiply-adds need 3588 million, 1588 million over the budget of 2000 million"},
        {[](Grown& m) { m.conv(0, 64, 1, 1, 224); }, nullptr,
         "the convolutions' indirection pointers need 206 million, 190 million over the budget of 16 million"},
    };
    const std::string path = testing::TempDir() + "grown.tflite";
    for (const auto& [grow, damage, error] : cases) {
        Grown m;
        static_cast<tflite::ModelT&>(m) = *model;
        if (grow) grow(m);
        flatbuffers::FlatBufferBuilder b;
        tflite::FinishModelBuffer(b, tflite::Model::Pack(b, &m));
        std::string file(reinterpret_cast<const char*>(b.GetBufferPointer()), b.GetSize());
        if (damage) damage(file);
        std::ofstream(path, std::ios::binary) << file;
        EXPECT_EQ(webcam::TfliteModel().load(path, {1, 224, 224, 3}, m.outs), path + ": " + error);
    }
    std::remove(path.c_str());
}

}  // namespace
