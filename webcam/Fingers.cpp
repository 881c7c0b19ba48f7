// A finger is held out when it is straight: its joints barely bend. The thumb bends little even
// when tucked in: it is held out when it stands away from the palm.
#include "webcam/Fingers.h"

#include <algorithm>
#include <cmath>

#include "webcam/Vectors.h"

namespace webcam {

namespace {

// The bend at joint b between the bones a-b and b-c, in degrees: 0 when straight.
float bend(const Point3& a, const Point3& b, const Point3& c) {
    const Vector u = vectorOf(b) - vectorOf(a), v = vectorOf(c) - vectorOf(b);
    const float n = length(u) * length(v);
    return n > 0 ? float(std::acos(std::clamp(dot(u, v) / n, -1.0f, 1.0f)) * 180 / M_PI) : 0;
}

// A finger held out bends less than this over its three joints together; a curled one about twice as much.
constexpr float kMostBendDegrees = 90;
constexpr float kThumbOutside = -0.35f;  // in palm widths

}  // namespace

std::array<bool, kFingers> extendedFingers(const std::array<Point3, kLandmarks>& lm) {
    std::array<bool, kFingers> out{};
    for (int f = 1; f < kFingers; ++f) {
        const int b = 4 * f + 1;  // base joint
        const float bent = bend(lm[0], lm[b], lm[b + 1]) + bend(lm[b], lm[b + 1], lm[b + 2]) +
                           bend(lm[b + 1], lm[b + 2], lm[b + 3]);
        out[f] = bent < kMostBendDegrees;
    }
    // The thumb's tip measured across the palm, from the index finger's base (0) towards the
    // little finger's (1): a thumb held out lies well beyond the index side, a tucked one over the palm.
    const Vector across = vectorOf(lm[17]) - vectorOf(lm[5]);
    const float width = dot(across, across);
    out[0] = width > 0 && dot(vectorOf(lm[4]) - vectorOf(lm[5]), across) / width < kThumbOutside;
    return out;
}

}  // namespace webcam
