// How well the hand reader reads real photographs: each labelled photo is held still for three
// frames, as in front of a camera, and the third reading is judged. Prints, per folder, the share
// with the right control (idle 0, point 1-2, fly 3+), the exact finger count, where boxes are
// labelled the palm against the box, and whether the reading holds while the photo stays; for each
// of the four pairs of models, or the one --models names. Never fails on a figure.
// Usage: hand_quality_bench [--list] [--models PALM,LANDMARKS] [IMAGES_DIR]   (IMAGES_DIR holds
// labels.csv; default ../shared/hands/images beside the repository)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "bench/BenchSupport.h"
#include "bench/HandPairs.h"
#include "tracker/Gestures.h"
#include "webcam/HandReader.h"

namespace {

struct Label {
    std::string image;
    int fingers = 0;
    bool boxed = false;
    cv::Rect2f box;
};

std::vector<Label> readLabels(const std::string& path) {
    std::ifstream in(path);
    if (!in) bench::ModelDir::fail("cannot read " + path);
    std::vector<Label> labels;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string s; std::getline(ss, s, ',');) f.push_back(s);
        if (f.size() < 2) continue;
        Label l;
        l.image = f[0];
        l.fingers = std::stoi(f[1]);
        if (f.size() >= 6 && !f[2].empty()) {
            l.boxed = true;
            l.box = cv::Rect2f(cv::Point2f(std::stof(f[2]), std::stof(f[3])),
                               cv::Point2f(std::stof(f[4]), std::stof(f[5])));
        }
        labels.push_back(l);
    }
    return labels;
}

int control(int fingers) {
    return fingers == 0 ? 0 : Leap::fingersFly(fingers) ? 2 : 1;
}

struct Tally {
    int images = 0, seen = 0, rightControl = 0, exact = 0, boxed = 0, palmInBox = 0;
    std::vector<double> offsets, inBox;
    int steady = 0;
};

constexpr int kSteadyFrames = 10;

double mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void judge(webcam::HandReader& reader, const std::string& dir, bool list) {
    std::map<std::string, Tally> tallies;
    for (const Label& l : readLabels(dir + "/labels.csv")) {
        const cv::Mat image = cv::imread(dir + "/" + l.image, cv::IMREAD_COLOR);
        if (image.empty()) bench::ModelDir::fail("cannot read " + dir + "/" + l.image);
        reader.forget();
        std::optional<webcam::HandSighting> hand;
        for (int frame = 0; frame < 3; ++frame) hand = reader.read(image);
        const int count = hand ? int(std::count(hand->extended.begin(), hand->extended.end(), true)) : 0;
        bool steady = true;
        for (int frame = 3; frame < kSteadyFrames; ++frame) {
            const auto later = reader.read(image);
            steady = steady && later.has_value() == hand.has_value() &&
                     (!later || later->extended == hand->extended);
        }

        const size_t slash = l.image.find('/');
        Tally& t = tallies[slash == std::string::npos ? "." : l.image.substr(0, slash)];
        ++t.images;
        t.seen += hand.has_value();
        t.rightControl += control(count) == control(l.fingers);
        t.exact += count == l.fingers;
        t.steady += steady;
        std::string where;
        if (l.boxed) {
            ++t.boxed;
            if (hand) {
                // The palm: the wrist and the four finger bases.
                cv::Point2f palm;
                for (int i : {0, 5, 9, 13, 17})
                    palm += cv::Point2f(hand->landmarks[i].x, hand->landmarks[i].y) / 5;
                int in = 0;
                for (const auto& p : hand->landmarks) in += l.box.contains({p.x, p.y});
                t.inBox.push_back(double(in) / webcam::kLandmarks);
                t.palmInBox += l.box.contains(palm);
                const cv::Point2f centre(l.box.x + l.box.width / 2, l.box.y + l.box.height / 2);
                t.offsets.push_back(cv::norm(palm - centre) / std::max(l.box.width, l.box.height));
                char buf[64];
                std::snprintf(buf, sizeof buf, " palm %.0f,%.0f joints in box %.0f%%", palm.x, palm.y,
                              100 * t.inBox.back());
                where = buf;
            }
        }
        if (list) {
            std::printf("%-48s shown %d read %s", l.image.c_str(), l.fingers, hand ? "" : "no hand");
            if (hand)
                for (int f = 0; f < webcam::kFingers; ++f)
                    std::printf("%c", hand->extended[f] ? "TIMRL"[f] : '.');
            std::printf(" = %d%s%s%s\n", count, where.c_str(), steady ? "" : " unsteady",
                        control(count) == control(l.fingers) ? "" : "  WRONG CONTROL");
        }
    }
    std::printf("%-8s %6s %9s %14s %12s %12s %16s %14s %7s\n", "folder", "images", "hand seen",
                "right control", "exact count", "palm in box", "palm off centre", "joints in box", "steady");
    for (const auto& [name, t] : tallies) {
        const auto pct = [&](int n, int of) { return of ? 100.0 * n / of : 0.0; };
        std::printf("%-8s %6d %8.0f%% %13.0f%% %11.0f%%", name.c_str(), t.images, pct(t.seen, t.images),
                    pct(t.rightControl, t.images), pct(t.exact, t.images));
        if (t.boxed)
            std::printf(" %11.0f%% %16.2f %13.0f%%", pct(t.palmInBox, t.boxed), median(t.offsets),
                        100 * mean(t.inBox));
        else
            std::printf(" %12s %16s %14s", "-", "-", "-");
        std::printf(" %6.0f%%\n", pct(t.steady, t.images));
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool list = false;
    std::string dir = std::string(HANDVIEW_SOURCE_DIR) + "/../shared/hands/images", only;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--list"))
            list = true;
        else if (!std::strcmp(argv[i], "--models") && i + 1 < argc)
            only = argv[++i];
        else
            dir = argv[i];
    }
    for (const bench::HandPair& pair : bench::handPairs(only)) {
        webcam::HandReader reader(bench::handModelDir(), pair.models);
        if (!reader.error().empty()) bench::ModelDir::fail(reader.error());
        std::printf("== %s\n", pair.name.c_str());
        judge(reader, dir, list);
    }
    std::printf(
        "(palm: the mean of the wrist and the four finger bases; palm off centre: its median distance\n"
        " from the labelled box's centre, in box sizes; joints in box: the mean share of the 21 landmarks\n"
        " inside the box; steady: the reading of frame 3 holds through frame %d)\n",
        kSteadyFrames);
    return 0;
}
