// The camera looks at the user, so its image is the controller's space seen from the front: the
// user's right is the image's left, up is up, and the distance to the camera comes from how large
// the hand looks. The hand is turned as a whole so that its pose at rest before the camera (held up,
// palm to the screen, fingers up) is the controller's rest (flat, palm down, fingers forward).
#include "webcam/ControllerSpace.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace webcam {

using Leap::Vector;

Vector operator+(Vector a, Vector b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vector operator-(Vector a, Vector b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vector operator*(Vector a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
float dot(Vector a, Vector b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
float length(Vector a) {
    return std::sqrt(dot(a, a));
}

namespace {

constexpr float kFocalPerWidth = 0.78f;  // 0.5 / tan(65° / 2)
constexpr float kRestHeightMm = 200.0f;
constexpr float kRestDepthMm = 100.0f;
constexpr float kPalmLengthMm = 95.0f;    // wrist to the middle finger's knuckle, an adult's
constexpr float kKnuckleWidthMm = 65.0f;  // index knuckle to little knuckle
constexpr float kMinSpanPx = 8.0f;        // a hand smaller than this cannot be placed
constexpr float kMaxMm = 5000.0f;         // beyond any tracked space; keeps readings in the protocol's range
constexpr float kEdgeOn = 0.5f;           // a palm turned further than 60° from the screen is edge-on
// The filters' settings, from a sweep over photographs held still, panned and zoomed under fresh
// sensor noise (bench/hand_motion_bench): the median still palm jitters 0.5 mm and a pan of 100 mm/s
// is read less than half a frame late. A lower beta steadies a still palm a little more and makes
// a moving one later; the speed is smoothed harder than the filter's usual 1 Hz, as the readings'
// own noise would otherwise raise the cutoff of a still hand.
constexpr float kPlaceCutoffHz = 0.5f;  // palm and fingertips, millimetres
constexpr float kPlaceBeta = 0.1f;      // per mm/s
constexpr float kTurnCutoffHz = 0.5f;   // palm normal and direction, unit vectors
// Per unit (about a radian) per second: half a frame behind a steady turn of 1 rad/s.
constexpr float kTurnBeta = 8.0f;
constexpr float kSpeedCutoffHz = 0.5f;      // the speed's own smoothing
constexpr float kFrameSeconds = 1 / 30.0f;  // taken for a frame with no time of its own
constexpr float kTwoPi = 6.2831853f;
// A hand back within this time is the same hand at the same rest: the reader lost it for a moment.
constexpr int64_t kSameHandUs = 500000;
// A finger's change is taken once this many frames in a row show it: two let a still hand's count
// flicker on side-on hands (bench/hand_motion_bench), and each one more costs a frame.
constexpr int kAgreeingFrames = 3;
constexpr int kCentringFrames = 10;  // a new hand's first readings settle within 6 to 8 (the bench)
const Vector kRest{0, kRestHeightMm, kRestDepthMm};
constexpr int kWrist = 0, kIndexBase = 5, kMiddleBase = 9, kRingBase = 13, kLittleBase = 17;

Vector cross(Vector a, Vector b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vector point(const Point3& p) {
    return {p.x, p.y, p.z};
}
bool finite(Vector a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}

// The rest pose's turn: the camera's "up" becomes the controller's "forward", its "towards the
// screen" the controller's "down".
Vector turnToController(Vector v) {
    return {v.x, v.z, -v.y};
}

// Pixels per millimetre at the palm, from the hand's length and its breadth across the knuckles:
// turning the hand shortens one of them in the image, seldom both, so the larger scale holds. Each
// is measured at its own depth, which the landmarks give relative to the palm.
float pxPerMm(const HandSighting& hand, float focalPx) {
    const auto at = [&hand](int i) { return point(hand.landmarks[i]); };
    const float palmDepth =
        (at(kWrist).z * 4 + at(kIndexBase).z + at(kMiddleBase).z + at(kRingBase).z + at(kLittleBase).z) / 8;
    float best = 0;
    for (const auto& [a, b, mm] :
         {std::tuple{kWrist, kMiddleBase, kPalmLengthMm}, {kIndexBase, kLittleBase, kKnuckleWidthMm}}) {
        const float nearerPx = palmDepth - (at(a).z + at(b).z) / 2;
        best = std::max(best, length(at(b) - at(a)) / mm * (1 - nearerPx / focalPx));
    }
    return best;
}

Vector unit(Vector v) {
    return length(v) > 0 ? v * (1.0f / length(v)) : v;
}

// The share of a change taken in a step of `seconds` by a first-order low-pass at `cutoffHz`.
float smoothing(float cutoffHz, float seconds) {
    const float r = kTwoPi * cutoffHz * seconds;
    return r / (r + 1);
}

}  // namespace

float focalLengthPx(int imageWidth) {
    return kFocalPerWidth * static_cast<float>(imageWidth);
}

std::optional<ControllerHand> toControllerSpace(const HandSighting& hand, int imageWidth, int imageHeight) {
    const float focal = focalLengthPx(imageWidth);
    const float scale = pxPerMm(hand, focal);
    if (!(scale * kKnuckleWidthMm >= kMinSpanPx) || !std::isfinite(scale)) return std::nullopt;
    const float mmPerPx = 1 / scale;
    const float cx = 0.5f * static_cast<float>(imageWidth), cy = 0.5f * static_cast<float>(imageHeight);
    // Millimetres before the camera: x the user's right (the image's left), y up, z away from the camera.
    auto seen = [&](const Point3& p) {
        return Vector{(cx - p.x) * mmPerPx, (cy - p.y) * mmPerPx, p.z * mmPerPx};
    };
    const auto& p = hand.landmarks;
    const Vector wrist = seen(p[kWrist]);
    const Vector knuckles =
        (seen(p[kIndexBase]) + seen(p[kMiddleBase]) + seen(p[kRingBase]) + seen(p[kLittleBase])) * 0.25f;
    const Vector palm = (wrist + knuckles) * 0.5f;

    Vector normal = cross(seen(p[kIndexBase]) - wrist, seen(p[kLittleBase]) - wrist);
    Vector along = seen(p[kMiddleBase]) - wrist;
    if (!(length(normal) > 0) || !finite(normal)) return std::nullopt;
    normal = normal * (1.0f / length(normal));
    // Left and right hands wind the other way round; the palm is the side that faces the camera.
    if (normal.z > 0) normal = normal * -1.0f;
    along = along - normal * dot(along, normal);
    if (!(length(along) > 0)) return std::nullopt;

    const float distance = focal * mmPerPx;
    ControllerHand out;
    out.palmPosition = {palm.x, kRestHeightMm + palm.y, kRestDepthMm + distance - kRestDistanceMm};
    out.palmNormal = turnToController(normal);
    out.direction = turnToController(along * (1.0f / length(along)));
    for (int f = 0; f < kFingers; ++f)
        out.tips[f] = out.palmPosition + turnToController(seen(p[4 * f + 4]) - palm);
    out.extended = hand.extended;
    out.score = hand.score;
    auto placeable = [](Vector v) {
        return finite(v) && std::max({std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)}) < kMaxMm;
    };
    if (!placeable(out.palmPosition) || !finite(out.palmNormal)) return std::nullopt;
    for (const Vector& v : out.tips)
        if (!placeable(v)) return std::nullopt;
    return out;
}

Vector OneEuroFilter::next(Vector value, float seconds) {
    if (!started_) {
        started_ = true;
        value_ = value;
        speed_ = {};
        return value;
    }
    speed_ = speed_ + ((value - value_) * (1 / seconds) - speed_) * smoothing(speedCutoffHz_, seconds);
    value_ = value_ + (value - value_) * smoothing(minCutoffHz_ + beta_ * length(speed_), seconds);
    return value_;
}

HandFilter::HandFilter()
    : palm_(kPlaceCutoffHz, kPlaceBeta, kSpeedCutoffHz),
      normal_(kTurnCutoffHz, kTurnBeta, kSpeedCutoffHz),
      direction_(kTurnCutoffHz, kTurnBeta, kSpeedCutoffHz),
      tips_{{palm_, palm_, palm_, palm_, palm_}} {}

std::optional<ControllerHand> HandFilter::next(const std::optional<ControllerHand>& seen,
                                               int64_t timestampUs) {
    float seconds = static_cast<float>(timestampUs - lastUs_) * 1e-6f;
    lastUs_ = timestampUs;
    // A clock that stood still or stepped back: take a usual frame rather than divide by it.
    if (!(seconds > 0) || !std::isfinite(seconds)) seconds = kFrameSeconds;
    if (!seen) {
        hand_.reset();
        return hand_;
    }
    if (!hand_) {
        ++handId_;
        hand_ = seen;
        differing_.fill(0);
        for (OneEuroFilter* f : {&palm_, &normal_, &direction_}) f->reset();
        for (OneEuroFilter& f : tips_) f.reset();
    }
    ControllerHand& h = *hand_;
    Vector normal = seen->palmNormal;
    // Edge-on, the side facing the camera is a guess: keep the side the palm was on.
    if (std::fabs(normal.y) < kEdgeOn && dot(normal, h.palmNormal) < 0) normal = normal * -1.0f;
    h.palmPosition = palm_.next(seen->palmPosition, seconds);
    h.palmNormal = unit(normal_.next(normal, seconds));
    h.direction = unit(direction_.next(seen->direction, seconds));
    for (int f = 0; f < kFingers; ++f) {
        h.tips[f] = tips_[f].next(seen->tips[f], seconds);
        differing_[f] = seen->extended[f] != h.extended[f] ? differing_[f] + 1 : 0;
        if (differing_[f] == kAgreeingFrames) h.extended[f] = seen->extended[f], differing_[f] = 0;
    }
    h.score = seen->score;
    return hand_;
}

std::optional<ControllerHand> HandCentring::next(std::optional<ControllerHand> hand, int64_t timestampUs) {
    if (!hand) return hand;
    if (timestampUs - lastSeenUs_ > kSameHandUs) armed_ = true;
    lastSeenUs_ = timestampUs;
    if (std::none_of(hand->extended.begin(), hand->extended.end(), [](bool e) { return e; })) {
        armed_ = true;
        centring_ = 0;
    } else if (armed_) {
        armed_ = false;
        centring_ = kCentringFrames;
    }
    if (centring_ > 0) {
        --centring_;
        offset_ = kRest - hand->palmPosition;
    }
    hand->palmPosition = hand->palmPosition + offset_;
    for (Vector& tip : hand->tips) tip = tip + offset_;
    return hand;
}

}  // namespace webcam
