// Tracker costs: the controller's per-frame calls when no tracking service runs (the usual case),
// and decoding one five-finger frame message of a real recording. Prints figures; never fails on
// a time. Usage: tracker_bench [--quick]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tracker/FrameDecoding.h"
#include "Leap.h"
#include "bench/BenchSupport.h"

namespace {

constexpr double kControllerBoundMs = 0.05;
constexpr double kDecodeBoundMs = 0.1;

// The first frame of the recording whose hand shows five fingers.
std::string fiveFingerMessage() {
    std::ifstream in(std::string(HANDVIEW_SOURCE_DIR) + "/tracker/recordings/hand-splay.jsonl");
    for (std::string line; std::getline(in, line);) {
        const Leap::Message m = Leap::decodeMessage(line);
        if (m.hands.size() == 1 && m.hands[0].tips.size() == 5) return line;
    }
    bench::ModelDir::fail("no five-finger frame in tracker/recordings/hand-splay.jsonl");
}

double msSince(bench::Clock::time_point start) {
    return bench::secondsSince(start) * 1000.0;
}

// Sorted sample at quantile q.
double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (argc > 2 || (argc == 2 && !quick)) {
        std::fprintf(stderr, "usage: tracker_bench [--quick]\n");
        return 2;
    }
    // The default address with nothing listening there: a new attempt about once a second, which
    // the maximum shows.
    unsetenv("HANDVIEW_REPLAY");
    unsetenv("HANDVIEW_TRACKER");
    unsetenv("HANDVIEW_RECORD");
    Leap::Controller controller;
    std::vector<double> frameMs;
    const double runS = quick ? 0.3 : 3.5;
    for (const auto start = bench::Clock::now(); bench::secondsSince(start) < runS;) {
        const auto before = bench::Clock::now();
        const bool connected = controller.isConnected();
        const Leap::Frame frame = controller.frame(0);
        frameMs.push_back(msSince(before));
        std::this_thread::sleep_for(std::chrono::microseconds(500));  // a fast frame loop's pace
        if (connected || frame.isValid()) {
            std::fprintf(stderr,
                         "a tracking service answers at the default address: not the case measured\n");
            return 1;
        }
    }
    const bench::Spread frames = bench::spreadOf(frameMs);
    std::printf("controller per frame, no service (isConnected + frame(0)), %zu frames over %.1f s:\n",
                frameMs.size(), runS);
    std::printf("  median %.5f ms (bound %.2f ms), 99.9th percentile %.5f ms, max %.3f ms\n", frames.median,
                kControllerBoundMs, quantile(frameMs, 0.999), frames.max);

    const std::string message = fiveFingerMessage();
    std::vector<double> decodeMs;
    for (int i = 0; i < (quick ? 200 : 20000); ++i) {
        const auto before = bench::Clock::now();
        const Leap::Message m = Leap::decodeMessage(message);
        decodeMs.push_back(msSince(before));
        if (m.kind != Leap::Message::Kind::frame) return 1;
    }
    const bench::Spread decode = bench::spreadOf(decodeMs);
    std::printf("decoding one five-finger frame message (%zu bytes), %zu times:\n", message.size(),
                decodeMs.size());
    std::printf("  median %.4f ms (bound %.2f ms), max %.3f ms\n", decode.median, kDecodeBoundMs, decode.max);
    bench::result("tracker_frame_median_ms", frames.median);
    bench::result("tracker_decode_median_ms", decode.median);
    return 0;
}
