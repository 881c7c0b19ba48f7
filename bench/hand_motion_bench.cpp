// How steady and how quick the webcam's readings are: each labelled photo is put before the camera
// as a hand held still (with a small tremor), then panned, then zoomed, with fresh sensor noise in
// every frame. The hand reader reads every frame once; its readings go through the smoothing of
// earlier versions ("before") and through HandFilter ("after"), and unsmoothed ("raw"). Prints the
// still palm's jitter, the finger-count changes on a still hand, how many frames the reading is
// behind the picture half-way through a pan and a zoom, and how near a still hand reads to the rest
// once centred. Never fails on a figure.
// Usage: hand_motion_bench [--list] [--limit N] [IMAGES_DIR]   (IMAGES_DIR holds labels.csv; default
// ../shared/hands/images beside the repository)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/BenchSupport.h"
#include "webcam/ControllerSpace.h"
#include "webcam/HandCentring.h"
#include "webcam/HandFilter.h"
#include "webcam/Vectors.h"
#include "webcam/HandReader.h"

namespace {

using Leap::Vector;
using webcam::ControllerHand;
using webcam::operator+, webcam::operator-, webcam::dot;

constexpr double kFps = 30;
constexpr int kSettleFrames = 15;    // before any measurement: the reader finds the hand, filters settle
constexpr int kStillFrames = 60;     // 2 s
constexpr int kMoveFrames = 30;      // each motion lasts 1 s
constexpr float kPanPxPerFrame = 4;  // about 100 mm/s for a hand 40 cm from a 640-pixel-wide camera
constexpr float kZoomPerFrame = 1.01f;
constexpr double kNoiseSigma = 4;  // 8-bit levels per channel: an indoor webcam's sensor noise
constexpr float kTremorPx = 0.3f;  // a held hand's tremor at 40 cm, about 0.25 mm, at 8 Hz
constexpr double kTremorHz = 8;
const Vector kRest{0, 200, 100};
constexpr double kAimMm = 1;  // a still palm's jitter, RMS

// The filter of earlier versions: a fixed share of a small change, all of a large one.
class BeforeFilter {
public:
    std::optional<ControllerHand> next(const std::optional<ControllerHand>& seen) {
        if (!seen || !hand_) {
            hand_ = seen;
            pending_.fill(false);
            return hand_;
        }
        ControllerHand& h = *hand_;
        Vector normal = seen->palmNormal;
        if (std::fabs(normal.y) < 0.5f && dot(normal, h.palmNormal) < 0)
            normal = {-normal.x, -normal.y, -normal.z};
        h.palmPosition = blend(h.palmPosition, seen->palmPosition, 30, false);
        h.palmNormal = blend(h.palmNormal, normal, 0.5f, true);
        h.direction = blend(h.direction, seen->direction, 0.5f, true);
        for (int f = 0; f < webcam::kFingers; ++f) {
            h.tips[f] = blend(h.tips[f], seen->tips[f], 30, false);
            const bool changed = seen->extended[f] != h.extended[f];
            if (changed && pending_[f]) h.extended[f] = seen->extended[f];
            pending_[f] = changed && !pending_[f];
        }
        return hand_;
    }

private:
    static Vector blend(Vector from, Vector to, float fastStep, bool unit) {
        const Vector d = to - from;
        const float t = std::min(1.0f, 0.3f + std::sqrt(dot(d, d)) / fastStep);
        Vector v{from.x + d.x * t, from.y + d.y * t, from.z + d.z * t};
        const float n = std::sqrt(dot(v, v));
        return unit && n > 0 ? Vector{v.x / n, v.y / n, v.z / n} : v;
    }
    std::optional<ControllerHand> hand_;
    std::array<bool, webcam::kFingers> pending_{};
};

int fingerCount(const std::optional<ControllerHand>& h) {
    return h ? int(std::count(h->extended.begin(), h->extended.end(), true)) : -1;
}

// Where the photo sits in a frame: scaled about the picture's centre, then shifted.
struct Placement {
    float scale = 1, dx = 0, dy = 0;
};

cv::Mat frameOf(const cv::Mat& photo, Placement p) {
    const cv::Point2f c(photo.cols / 2.0f, photo.rows / 2.0f);
    const cv::Mat m = (cv::Mat_<double>(2, 3) << p.scale, 0, c.x * (1 - p.scale) + p.dx, 0, p.scale,
                       c.y * (1 - p.scale) + p.dy);
    cv::Mat moved, noise(photo.size(), CV_32FC3), out;
    cv::warpAffine(photo, moved, m, photo.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    cv::randn(noise, 0, kNoiseSigma);
    moved.convertTo(out, CV_32FC3);
    out += noise;
    out.convertTo(out, CV_8UC3);
    return out;
}

// A scene: the photo's place frame by frame, tremor included; a motion runs over [moveStart, moveEnd)
// and the hand rests before and after it.
struct Scene {
    std::vector<Placement> frames;
    int moveStart = 0, moveEnd = 0;
};

Placement tremor(int frame, Placement p) {
    const double t = frame / kFps;
    p.dx += kTremorPx * float(std::sin(2 * M_PI * kTremorHz * t));
    p.dy += kTremorPx * float(std::cos(2 * M_PI * kTremorHz * 1.1 * t));
    return p;
}

Scene stillScene() {
    Scene s;
    for (int i = 0; i < kStillFrames; ++i) s.frames.push_back(tremor(i, {}));
    return s;
}

Scene motionScene(bool zoom) {
    Scene s{{}, kSettleFrames, kSettleFrames + kMoveFrames};
    for (int i = 0; i < 2 * kSettleFrames + kMoveFrames; ++i) {
        const int k = std::clamp(i - kSettleFrames + 1, 0, kMoveFrames);
        s.frames.push_back(tremor(i, zoom ? Placement{std::pow(kZoomPerFrame, float(k)), 0, 0}
                                          : Placement{1, kPanPxPerFrame * float(k - kMoveFrames / 2), 0}));
    }
    return s;
}

// What a reader without error or delay would read: the resting hand's landmarks placed as the photo is.
std::optional<ControllerHand> truth(const webcam::HandSighting& still, Placement p, cv::Size size) {
    webcam::HandSighting moved = still;
    const cv::Point2f c(size.width / 2.0f, size.height / 2.0f);
    for (auto& l : moved.landmarks)
        l = {c.x + (l.x - c.x) * p.scale + p.dx, c.y + (l.y - c.y) * p.scale + p.dy, l.z * p.scale};
    return webcam::toControllerSpace(moved, size.width, size.height);
}

using Hands = std::vector<std::optional<ControllerHand>>;

struct Readings {
    std::vector<std::optional<webcam::HandSighting>> sightings;
    Hands raw;
};

Readings play(webcam::HandReader& reader, const cv::Mat& photo, const Scene& scene) {
    Readings r;
    reader.forget();
    for (const Placement& p : scene.frames) {
        const auto sighting = reader.read(frameOf(photo, p));
        r.sightings.push_back(sighting);
        r.raw.push_back(sighting ? webcam::toControllerSpace(*sighting, photo.cols, photo.rows)
                                 : std::nullopt);
    }
    return r;
}

int64_t microseconds(size_t frame) {
    return int64_t(double(frame) * 1e6 / kFps);
}

enum Way { kRaw, kBefore, kAfter, kWays };
const char* const kWayNames[kWays] = {"raw reading", "before (blend)", "after (HandFilter)"};

// Through the real HandFilter, with its own settings or a sweep's.
Hands through(const Hands& raw, const webcam::HandFilterSettings& settings = {}) {
    webcam::HandFilter filter(settings);
    Hands out;
    for (size_t i = 0; i < raw.size(); ++i) out.push_back(filter.next(raw[i], microseconds(i)));
    return out;
}

Hands smoothed(const Hands& raw, Way way) {
    if (way != kBefore) return way == kRaw ? raw : through(raw);
    Hands out;
    BeforeFilter before;
    for (const auto& hand : raw) out.push_back(before.next(hand));
    return out;
}

bool seenFrom(const Hands& v, size_t from) {
    return std::all_of(v.begin() + long(from), v.end(), [](const auto& h) { return h.has_value(); });
}

Vector meanPalm(const Hands& v, size_t from, size_t to) {
    Vector mean{};
    const float n = float(to - from);
    for (size_t i = from; i < to; ++i)
        mean = {mean.x + v[i]->palmPosition.x / n, mean.y + v[i]->palmPosition.y / n,
                mean.z + v[i]->palmPosition.z / n};
    return mean;
}

// The sum of squared distances of the palm from `about` (default: its own mean) from frame `from` on.
double squares(const Hands& v, size_t from, std::optional<Vector> about = {}) {
    const Vector centre = about ? *about : meanPalm(v, from, v.size());
    double sum = 0;
    for (size_t i = from; i < v.size(); ++i) {
        const Vector d = v[i]->palmPosition - centre;
        sum += dot(d, d);
    }
    return sum;
}

int countChanges(const Hands& v, size_t from) {
    int n = 0;
    for (size_t i = from + 1; i < v.size(); ++i) n += fingerCount(v[i]) != fingerCount(v[i - 1]);
    return n;
}

// A motion with the hand's true place in every frame, and the reader's readings of it.
struct Motion {
    Scene scene;
    Readings readings;
    std::vector<Vector> picture;  // the true palm, frame by frame
};

std::optional<Motion> measureMotion(webcam::HandReader& reader, const cv::Mat& photo,
                                    const webcam::HandSighting& rest, bool zoom) {
    Motion m{motionScene(zoom), {}, {}};
    for (const Placement& p : m.scene.frames) {
        const auto t = truth(rest, p, photo.size());
        if (!t) return std::nullopt;
        m.picture.push_back(t->palmPosition);
    }
    m.readings = play(reader, photo, m.scene);
    if (!seenFrom(m.readings.raw, kSettleFrames / 2)) return std::nullopt;
    return m;
}

// The frame, between two, at which a palm has covered half its way from where it rested before the
// motion to where it rested after, each measured by `ends` over the last frames of each rest.
std::optional<double> halfWay(const std::vector<Vector>& palm, const std::vector<Vector>& ends,
                              const Scene& s) {
    const auto mean = [](const std::vector<Vector>& v, size_t from, size_t to) {
        Vector m{};
        for (size_t i = from; i < to; ++i) m = {m.x + v[i].x, m.y + v[i].y, m.z + v[i].z};
        const float n = float(to - from);
        return Vector{m.x / n, m.y / n, m.z / n};
    };
    const size_t start = size_t(s.moveStart), end = s.frames.size(), rested = kSettleFrames / 2;
    const Vector a = mean(ends, start - rested, start), way = mean(ends, end - rested, end) - a;
    const auto progress = [&](size_t i) { return dot(palm[i] - a, way) / dot(way, way); };
    for (size_t i = start; i < end; ++i)
        if (progress(i) >= 0.5f) return double(i) - (progress(i) - 0.5) / (progress(i) - progress(i - 1));
    return std::nullopt;
}

std::vector<Vector> palms(const Hands& v) {
    std::vector<Vector> out;
    for (const auto& h : v) out.push_back(h ? h->palmPosition : Vector{NAN, NAN, NAN});
    return out;
}

// How many frames after the picture the reading is half-way through the motion.
std::optional<double> lag(const Hands& v, const Motion& m) {
    const auto reading = halfWay(palms(v), palms(m.readings.raw), m.scene);
    const auto picture = halfWay(m.picture, m.picture, m.scene);
    if (!reading || !picture) return std::nullopt;
    return *reading - *picture;
}

double median(const std::vector<double>& v) {  // NaN for none
    return v.empty() ? NAN : bench::spreadOf(v).median;
}

// Every photo's readings, kept to be smoothed each way.
struct Photo {
    std::string name;
    Readings still;
    std::vector<Motion> motions;  // those the reader followed throughout: the pan, the zoom
    std::vector<bool> zoomed;
};

struct Figures {
    double jitter = NAN, worst = 0, within = 0;  // median RMS per photo, the largest, the share at most 1 mm
    double turn = NAN;                           // the palm normal's, degrees: median RMS per photo
    double fromRest = NAN;
    int flips = 0, flippedPhotos = 0;
    double panLag = NAN, zoomLag = NAN;
    double panAdded = NAN, zoomAdded = NAN;  // by the smoothing: against the raw reading of the same frames
};

template <typename Smooth>
Figures figures(const std::vector<const Photo*>& photos, Smooth smooth, bool centred = false) {
    Figures f;
    std::vector<double> jitter, turn, fromRest, pan, zoom, panAdded, zoomAdded;
    for (const Photo* p : photos) {
        const Hands s = smooth(p->still.raw);
        const int n = kStillFrames - kSettleFrames;
        jitter.push_back(std::sqrt(squares(s, kSettleFrames) / n));
        f.worst = std::max(f.worst, jitter.back());
        f.within += jitter.back() <= kAimMm ? 1.0 / double(photos.size()) : 0;
        Vector mean{};
        for (size_t i = kSettleFrames; i < s.size(); ++i) mean = mean + s[i]->palmNormal;
        double turns = 0;
        for (size_t i = kSettleFrames; i < s.size(); ++i) {
            const double a =
                std::acos(std::clamp(dot(s[i]->palmNormal, mean) / std::sqrt(dot(mean, mean)), -1.0f, 1.0f));
            turns += a * a;
        }
        turn.push_back(std::sqrt(turns / n) * 180 / M_PI);
        const int changes = countChanges(s, kSettleFrames);
        f.flips += changes;
        f.flippedPhotos += changes > 0;
        if (centred && fingerCount(s.back()) > 0) {
            webcam::HandCentring centring;
            Hands c;
            for (size_t i = 0; i < s.size(); ++i) c.push_back(centring.next(s[i], microseconds(i)));
            fromRest.push_back(std::sqrt(squares(c, kSettleFrames, kRest) / n));
        }
        for (size_t k = 0; k < p->motions.size(); ++k) {
            const Motion& m = p->motions[k];
            const auto l = lag(smooth(m.readings.raw), m), raw = lag(m.readings.raw, m);
            if (l) (p->zoomed[k] ? zoom : pan).push_back(*l);
            if (l && raw) (p->zoomed[k] ? zoomAdded : panAdded).push_back(*l - *raw);
        }
    }
    f.jitter = median(jitter);
    f.turn = median(turn);
    f.fromRest = median(fromRest);
    f.panLag = median(pan);
    f.zoomLag = median(zoom);
    f.panAdded = median(panAdded);
    f.zoomAdded = median(zoomAdded);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const char* usage = "usage: hand_motion_bench [--list] [--sweep] [--limit N] [IMAGES_DIR]";
    bool list = false, sweep = false;
    int limit = 1 << 30;
    std::string dir = std::string(HANDVIEW_SOURCE_DIR) + "/../shared/hands/images";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--list"))
            list = true;
        else if (!std::strcmp(argv[i], "--sweep"))
            sweep = true;
        else if (!std::strcmp(argv[i], "--limit") && i + 1 < argc)
            limit = bench::countArgument(argv[++i], usage);
        else if (argv[i][0] == '-')
            bench::ModelDir::fail(usage);
        else
            dir = argv[i];
    }
    std::ifstream labels(dir + "/labels.csv");
    if (!labels) bench::ModelDir::fail("cannot read " + dir + "/labels.csv");
    webcam::HandReader reader;
    if (!reader.error().empty()) bench::ModelDir::fail(reader.error());
    cv::theRNG().state = 2012;  // the same noise in every run

    std::vector<Photo> photos;
    int tried = 0;
    std::string line;
    std::getline(labels, line);  // header
    while (std::getline(labels, line) && tried < limit) {
        Photo p;
        p.name = line.substr(0, line.find(','));
        const cv::Mat photo = cv::imread(dir + "/" + p.name, cv::IMREAD_COLOR);
        if (photo.empty()) bench::ModelDir::fail("cannot read " + dir + "/" + p.name);
        ++tried;
        p.still = play(reader, photo, stillScene());
        if (!seenFrom(p.still.raw, kSettleFrames)) {
            if (list) std::printf("%-46s the hand is not read throughout\n", p.name.c_str());
            continue;
        }
        // The resting hand's place in the unmoved photo: its landmarks' mean while still.
        webcam::HandSighting rest = *p.still.sightings.back();
        const float n = float(kStillFrames - kSettleFrames);
        for (int k = 0; k < webcam::kLandmarks; ++k) {
            webcam::Point3 sum;
            for (size_t i = kSettleFrames; i < p.still.sightings.size(); ++i) {
                const auto& l = p.still.sightings[i]->landmarks[k];
                sum = {sum.x + l.x / n, sum.y + l.y / n, sum.z + l.z / n};
            }
            rest.landmarks[k] = sum;
        }
        for (bool zoom : {false, true})
            if (auto m = measureMotion(reader, photo, rest, zoom)) {
                p.motions.push_back(std::move(*m));
                p.zoomed.push_back(zoom);
            }
        if (list) {
            std::printf("%-46s", p.name.c_str());
            for (Way w : {kRaw, kBefore, kAfter}) {
                const Figures f = figures({&p}, [w](const Hands& h) { return smoothed(h, w); });
                std::printf("  %s: jitter %.2f mm, %d changes, lag %.2f/%.2f",
                            w == kRaw      ? "raw"
                            : w == kBefore ? "before"
                                           : "after",
                            f.jitter, f.flips, f.panLag, f.zoomLag);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
        photos.push_back(std::move(p));
    }

    int pans = 0, zooms = 0;
    std::vector<std::pair<std::string, std::vector<const Photo*>>> folders{{"all", {}}};
    for (const Photo& p : photos) {
        for (bool z : p.zoomed) (z ? zooms : pans) += 1;
        const std::string folder = p.name.substr(0, p.name.find('/'));
        if (folders.size() == 1 || (folders.end() - 2)->first != folder)
            folders.insert(folders.end() - 1, {folder, {}});
        (folders.end() - 2)->second.push_back(&p);
        folders.back().second.push_back(&p);
    }
    std::printf(
        "%d photos, %d read throughout %d still frames (%.0f fps; sensor noise sigma %.0f; tremor %.1f px at "
        "%.0f Hz);\n"
        "%d followed through a pan of %.0f px a frame, %d through a zoom of %.0f %% a frame (1 s each)\n\n",
        tried, int(photos.size()), kStillFrames, kFps, kNoiseSigma, kTremorPx, kTremorHz, pans,
        kPanPxPerFrame, zooms, 100 * (kZoomPerFrame - 1));
    std::printf("%-8s %-19s %13s %9s %9s %8s %16s %22s %22s %10s\n", "photos", "", "still jitter", "<= 1 mm",
                "worst", "normal", "count changes", "pan lag, frames", "zoom lag, frames", "centred");
    for (const auto& [folder, members] : folders) {
        if (folders.size() == 2 && folder == "all") break;
        for (Way w : {kRaw, kBefore, kAfter}) {
            const Figures f = figures(
                members, [w](const Hands& h) { return smoothed(h, w); }, w == kAfter);
            char flips[32], pan[32], zoom[32], centred[32] = "";
            std::snprintf(flips, sizeof flips, "%d (%d photos)", f.flips, f.flippedPhotos);
            std::snprintf(pan, sizeof pan, w == kRaw ? "%.2f" : "%.2f (%+.2f)", f.panLag, f.panAdded);
            std::snprintf(zoom, sizeof zoom, w == kRaw ? "%.2f" : "%.2f (%+.2f)", f.zoomLag, f.zoomAdded);
            if (w == kAfter) std::snprintf(centred, sizeof centred, "%.2f mm", f.fromRest);
            std::printf("%-8s %-19s %10.2f mm %8.0f%% %6.1f mm %6.2f° %16s %22s %22s %10s\n",
                        w == kRaw ? folder.c_str() : "", kWayNames[w], f.jitter, 100 * f.within, f.worst,
                        f.turn, flips, pan, zoom, centred);
        }
    }
    std::printf(
        "\n(still jitter: the median over photos of the palm's RMS distance from its mean over frames %d-%d "
        "of the\n"
        " still photo; <= 1 mm: the share of photos within that; count changes: of the finger count over "
        "those\n"
        " frames; lag: the median over photos of how many frames after the picture the palm has covered half "
        "its\n"
        " way from its rest before the motion to its rest after, as the raw reading places those rests, and "
        "in\n"
        " brackets what the smoothing adds to the raw reading's lag on the same frames; normal: the median "
        "RMS\n"
        " angle of the palm normal from its mean direction on the still photo; centred: the median RMS\n"
        " distance of a still open or pointing hand from the rest, once centred)\n",
        kSettleFrames, kStillFrames - 1);
    if (sweep) {
        std::printf("\n%8s %6s %8s %12s %9s %10s %10s %10s %10s\n", "cutoff", "beta", "dcutoff", "jitter",
                    "<= 1 mm", "pan lag", "added", "zoom lag", "added");
        for (float cutoff : {0.2f, 0.3f, 0.5f, 0.7f, 1.0f, 1.5f})
            for (float beta : {0.01f, 0.02f, 0.05f, 0.1f, 0.2f, 0.5f})
                for (float dcutoff : {0.3f, 0.5f, 1.0f, 2.0f}) {
                    webcam::HandFilterSettings palm;
                    palm.placeCutoffHz = cutoff, palm.placeBeta = beta, palm.speedCutoffHz = dcutoff;
                    const Figures f =
                        figures(folders.back().second, [&](const Hands& h) { return through(h, palm); });
                    std::printf("%8.2f %6.2f %8.1f %9.2f mm %8.0f%% %10.2f %10.2f %10.2f %10.2f\n", cutoff,
                                beta, dcutoff, f.jitter, 100 * f.within, f.panLag, f.panAdded, f.zoomLag,
                                f.zoomAdded);
                }
        for (float cutoff : {0.3f, 0.5f, 1.0f})
            for (float beta : {1.0f, 2.0f, 4.0f, 8.0f}) {
                webcam::HandFilterSettings turn;
                turn.turnCutoffHz = cutoff, turn.turnBeta = beta;
                const Figures f =
                    figures(folders.back().second, [&](const Hands& h) { return through(h, turn); });
                std::printf(
                    "the normal through cutoff %.1f Hz, beta %.0f, dcutoff %.1f Hz: %.2f° RMS; a steady turn "
                    "of a radian a second %.2f frames behind\n",
                    cutoff, beta, turn.speedCutoffHz, f.turn, kFps / (2 * M_PI * (cutoff + beta)));
            }
        for (int frames : {1, 2, 3, 4}) {
            webcam::HandFilterSettings fingers;
            fingers.agreeingFrames = frames;
            const Figures f =
                figures(folders.back().second, [&](const Hands& h) { return through(h, fingers); });
            std::printf("a finger's change taken once %d frames agree: %d count changes (%d photos)\n",
                        frames, f.flips, f.flippedPhotos);
        }
    }
    return 0;
}
