// The camera looks at the user, so its image is the controller's space seen from the front: the
// user's right is the image's left, up is up, and the distance to the camera comes from how large
// the hand looks. The hand is turned as a whole so that its pose at rest before the camera (held up,
// palm to the screen, fingers up) is the controller's rest (flat, palm down, fingers forward).
#include "webcam/ControllerSpace.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "webcam/Vectors.h"

namespace webcam {

namespace {

constexpr float kFocalPerWidth = 0.78f;   // 0.5 / tan(65° / 2)
constexpr float kPalmLengthMm = 95.0f;    // wrist to the middle finger's knuckle, an adult's
constexpr float kKnuckleWidthMm = 65.0f;  // index knuckle to little knuckle
constexpr float kMinSpanPx = 8.0f;        // a hand smaller than this cannot be placed
constexpr float kMaxMm = 5000.0f;         // beyond any tracked space; keeps readings in the protocol's range
constexpr int kWrist = 0, kIndexBase = 5, kMiddleBase = 9, kRingBase = 13, kLittleBase = 17;

// The rest pose's turn: the camera's "up" becomes the controller's "forward", its "towards the
// screen" the controller's "down".
Vector turnToController(Vector v) {
    return {v.x, v.z, -v.y};
}

// Pixels per millimetre at the palm, from the hand's length and its breadth across the knuckles:
// turning the hand shortens one of them in the image, seldom both, so the larger scale holds. Each
// is measured at its own depth, which the landmarks give relative to the palm.
float pxPerMm(const HandSighting& hand, float focalPx) {
    const auto at = [&hand](int i) { return vectorOf(hand.landmarks[i]); };
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

}  // namespace webcam
