// The hand reader on real photographs held still in front of the camera, and its models failing to load.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <opencv2/imgcodecs.hpp>

#include "webcam/HandReader.h"

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

TEST(WebcamReader, ModelThatCannotBeLoadedIsOneLineNamingIt) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("webcam_reader_test_" + std::to_string(getpid()));
    const fs::path shipped = HANDVIEW_WEBCAM_MODELS;
    fs::create_directories(dir);
    const cv::Mat five = cv::imread(kPhotos + "five.jpg");
    const auto expectRefused = [&](const std::string& file) {
        testing::internal::CaptureStderr();
        webcam::HandReader reader(dir.string());
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the caller prints the one line
        EXPECT_NE(reader.error().find((dir / file).string()), std::string::npos) << reader.error();
        EXPECT_EQ(reader.error().find('\n'), std::string::npos) << reader.error();
        EXPECT_FALSE(reader.read(five));
    };
    expectRefused("palm_detection.onnx");  // no files at all
    std::ofstream(dir / "palm_detection.onnx") << "not a model";
    expectRefused("palm_detection.onnx");
    fs::copy_file(shipped / "palm_detection.onnx", dir / "palm_detection.onnx", fs::copy_options::overwrite_existing);
    fs::copy_file(shipped / "palm_detection.onnx", dir / "hand_landmark.onnx");  // the other model
    expectRefused("hand_landmark.onnx");
    fs::remove_all(dir);
}

}  // namespace
