// Per-frame cost of the hand reader at one inference thread, for each of the four pairs of models
// (or the one --models names): wall and CPU time, medians and 90 %, of frames that follow a tracked
// hand (the landmark model alone) and of frames that run the palm detector, and the CPU time per
// frame over the whole sequence. The source is any sequence OpenCV reads (a video, or
// dir/%05d.jpg); by default the labelled photos, each held for a few frames as a still in front of
// the camera. The pairs take turns, --rounds times, so that a shared machine's drift falls on all
// alike. Prints figures and the machine's load; never fails on a time.
// Usage: hand_cost_bench [--models PALM,LANDMARKS] [--rounds N] [SEQUENCE | IMAGES_DIR]
// (IMAGES_DIR holds labels.csv; default ../shared/hands/images beside the repository)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "bench/BenchSupport.h"
#include "webcam/HandReader.h"
#ifndef HANDVIEW_OPENCV_READER
#include "bench/HandPairs.h"
#endif

namespace {

constexpr int kFramesPerPhoto = 6;
constexpr double kTrackedAimMs = 12;
constexpr double kSearchAimMs = 35;

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// CPU time of the whole process, every thread it runs: less sensitive than wall time to other
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
            if (image.empty())
                bench::ModelDir::fail("cannot read a photo named in " + source + "/labels.csv");
            frames.push_back(image);
        }
    } else {
        cv::VideoCapture capture(source);
        for (cv::Mat frame; capture.read(frame);) frames.push_back(frame.clone());
    }
    if (frames.empty()) bench::ModelDir::fail("no frames in " + source);
    return frames;
}

struct Reader {
    std::string name;
    std::unique_ptr<webcam::HandReader> reader;
    std::vector<double> tracked, searched, trackedCpu, searchedCpu;
    double allCpu = 0, allWall = 0;
    int seen = 0, total = 0;
};

void readAll(Reader& r, const std::vector<cv::Mat>& frames, bool stills) {
    const auto readOne = [&](const cv::Mat& frame) {
        const auto start = bench::Clock::now();
        const double cpuStart = cpuMs();
        const bool hand = r.reader->read(frame).has_value();
        const double ms = bench::secondsSince(start) * 1000, cpu = cpuMs() - cpuStart;
        const bool searched = r.reader->searched();
        (searched ? r.searched : r.tracked).push_back(ms);
        (searched ? r.searchedCpu : r.trackedCpu).push_back(cpu);
        r.allCpu += cpu;
        r.allWall += ms;
        r.seen += hand;
        ++r.total;
    };
    for (const cv::Mat& frame : frames) {
        if (!stills) {
            readOne(frame);
            continue;
        }
        r.reader->forget();
        for (int i = 0; i < kFramesPerPhoto; ++i) readOne(frame);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string source = std::string(HANDVIEW_SOURCE_DIR) + "/../shared/hands/images", only;
    int rounds = 2;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--models" && i + 1 < argc) {
            only = argv[++i];
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = bench::countArgument(argv[++i], "usage: hand_cost_bench --rounds N");
        } else if (a[0] == '-') {
            std::fprintf(
                stderr,
                "usage: hand_cost_bench [--models PALM,LANDMARKS] [--rounds N] [SEQUENCE | IMAGES_DIR]\n");
            return a == "--help" ? 0 : 2;
        } else {
            source = a;
        }
    }
    // OpenCV's video readers log their own failures at length; the bench says one line.
    if (source.find('%') == std::string::npos && !std::filesystem::exists(source))
        bench::ModelDir::fail("no sequence or photos at " + source);
    bool stills = false;
    const std::vector<cv::Mat> frames = readFrames(source, stills);

    std::vector<Reader> readers;
#ifdef HANDVIEW_OPENCV_READER  // this file built in the tree of the reader on OpenCV's DNN module
    cv::setNumThreads(2);
    readers.emplace_back();
    readers.back().name = "OpenCV DNN at 2 threads, the 2020 models";
    readers.back().reader = std::make_unique<webcam::HandReader>();
    (void)only;
#else
    for (const bench::HandPair& pair : bench::handPairs(only)) {
        readers.emplace_back();
        readers.back().name = pair.name;
        readers.back().reader = std::make_unique<webcam::HandReader>(bench::handModelDir(), pair.models);
    }
#endif
    for (Reader& r : readers) {
        if (!r.reader->error().empty()) bench::ModelDir::fail(r.reader->error());
        // The first calls set up buffers; they are not what a running camera costs.
        for (int i = 0; i < 3; ++i) r.reader->read(frames.front());
    }

    const std::string loadBefore = loadAverage();
    for (int round = 0; round < rounds; ++round)
        for (Reader& r : readers) readAll(r, frames, stills);

    std::printf("hand reader, %d frames (%s), %d round%s\n",
                int(frames.size()) * (stills ? kFramesPerPhoto : 1),
                stills ? "labelled photos, each held still" : source.c_str(), rounds, rounds > 1 ? "s" : "");
    std::printf("%-42s %-30s %6s %9s %9s %6s %11s\n", "models", "frame", "frames", "median", "90 %", "aim",
                "median CPU");
    for (const Reader& r : readers) {
        std::printf("%-42s %-30s %6zu %6.1f ms %6.1f ms %3.0f ms %8.1f ms\n", r.name.c_str(),
                    "tracked (landmark model only)", r.tracked.size(), quantile(r.tracked, 0.5),
                    quantile(r.tracked, 0.9), kTrackedAimMs, quantile(r.trackedCpu, 0.5));
        std::printf("%-42s %-30s %6zu %6.1f ms %6.1f ms %3.0f ms %8.1f ms\n", "", "needs the palm detector",
                    r.searched.size(), quantile(r.searched, 0.5), quantile(r.searched, 0.9), kSearchAimMs,
                    quantile(r.searchedCpu, 0.5));
        std::printf("%-42s %-30s %6d %6.1f ms (mean wall), CPU %.1f ms a frame; a hand in %d\n", "",
                    "every frame of the sequence", r.total, r.allWall / r.total, r.allCpu / r.total, r.seen);
    }
    std::printf("load average (1, 5, 15 min) before: %s, after: %s, on %d cores\n", loadBefore.c_str(),
                loadAverage().c_str(), cv::getNumberOfCPUs());
    return 0;
}
