// Per-frame cost of the hand reader with OpenCV's DNN module at 2 threads: the median of frames
// that follow a tracked hand (the landmark model alone) and of frames that run the palm detector.
// The source is any sequence OpenCV reads (a video, or dir/%05d.jpg); by default the labelled
// photos, each held for a few frames as a still in front of the camera. Prints figures and the
// machine's load; never fails on a time.
// Usage: hand_cost_bench [SEQUENCE | IMAGES_DIR]   (IMAGES_DIR holds labels.csv; default
// ../shared/hands/images beside the repository)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "bench/BenchSupport.h"
#include "webcam/HandReader.h"

namespace {

constexpr int kThreads = 2;
constexpr int kFramesPerPhoto = 6;
constexpr double kTrackedBoundMs = 15;
constexpr double kSearchBoundMs = 30;

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// CPU time of the whole process (both DNN threads): less sensitive than wall time to other
// programs sharing the cores, though not to their sharing the caches.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(q * double(v.size() - 1))];
}

// The frames: a sequence as OpenCV reads it, or each labelled photo held still.
std::vector<cv::Mat> readFrames(const std::string& source, bool& stills) {
    std::vector<cv::Mat> frames;
    std::ifstream labels(source + "/labels.csv");
    stills = bool(labels);
    if (stills) {
        std::string line;
        std::getline(labels, line);
        while (std::getline(labels, line)) {
            const cv::Mat image = cv::imread(source + "/" + line.substr(0, line.find(',')), cv::IMREAD_COLOR);
            if (image.empty()) bench::ModelDir::fail("cannot read a photo named in " + source + "/labels.csv");
            frames.push_back(image);
        }
    } else {
        cv::VideoCapture capture(source);
        for (cv::Mat frame; capture.read(frame);) frames.push_back(frame.clone());
    }
    if (frames.empty()) bench::ModelDir::fail("no frames in " + source);
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: hand_cost_bench [SEQUENCE | IMAGES_DIR]\n");
        return argc == 2 && !std::strcmp(argv[1], "--help") ? 0 : 2;
    }
    const std::string source = argc > 1 ? argv[1] : std::string(HANDVIEW_SOURCE_DIR) + "/../shared/hands/images";
    // OpenCV's video readers log their own failures at length; the bench says one line.
    if (source.find('%') == std::string::npos && !std::filesystem::exists(source))
        bench::ModelDir::fail("no sequence or photos at " + source);
    bool stills = false;
    const std::vector<cv::Mat> frames = readFrames(source, stills);
    cv::setNumThreads(kThreads);
    webcam::HandReader reader;
    if (!reader.error().empty()) bench::ModelDir::fail(reader.error());
    // The first calls set up OpenCV's buffers; they are not what a running camera costs.
    for (int i = 0; i < 3; ++i) reader.read(frames.front());

    const std::string loadBefore = loadAverage();
    std::vector<double> tracked, searched, trackedCpu, searchedCpu;
    int seen = 0, total = 0;
    const auto readOne = [&](const cv::Mat& frame) {
        const auto start = bench::Clock::now();
        const double cpuStart = cpuMs();
        const bool hand = reader.read(frame).has_value();
        const double ms = bench::secondsSince(start) * 1000;
        (reader.searched() ? searched : tracked).push_back(ms);
        (reader.searched() ? searchedCpu : trackedCpu).push_back(cpuMs() - cpuStart);
        seen += hand;
        ++total;
    };
    for (const cv::Mat& frame : frames) {
        if (!stills) {
            readOne(frame);
            continue;
        }
        reader.forget();
        for (int i = 0; i < kFramesPerPhoto; ++i) readOne(frame);
    }

    std::printf("hand reader, OpenCV DNN at %d threads, %d frames (%s), a hand in %d\n", kThreads, total,
                stills ? "labelled photos, each held still" : source.c_str(), seen);
    std::printf("%-30s %7s %9s %9s %9s %12s\n", "", "frames", "median", "90 %", "target", "median CPU");
    std::printf("%-30s %7zu %6.1f ms %6.1f ms %6.0f ms %9.1f ms\n", "tracked (landmark model only)",
                tracked.size(), quantile(tracked, 0.5), quantile(tracked, 0.9), kTrackedBoundMs,
                quantile(trackedCpu, 0.5));
    std::printf("%-30s %7zu %6.1f ms %6.1f ms %6.0f ms %9.1f ms\n", "needs the palm detector", searched.size(),
                quantile(searched, 0.5), quantile(searched, 0.9), kSearchBoundMs, quantile(searchedCpu, 0.5));
    std::printf("load average (1, 5, 15 min) before: %s, after: %s, on %d cores\n", loadBefore.c_str(),
                loadAverage().c_str(), cv::getNumberOfCPUs());
    return 0;
}
