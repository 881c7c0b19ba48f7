// A finger is held out when it is straight: its joints barely bend. The thumb bends little even
// when tucked in, so it must also stand away from the palm.
#include "Fingers.h"

#include <algorithm>
#include <cmath>

namespace webcam {

namespace {

struct V {
    float x, y, z;
};
V operator-(const Point3& a, const Point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float length(V a) { return std::sqrt(dot(a, a)); }

// The bend at joint b between the bones a-b and b-c, in degrees: 0 when straight.
float bend(const Point3& a, const Point3& b, const Point3& c) {
    const V u = b - a, v = c - b;
    const float n = length(u) * length(v);
    return n > 0 ? float(std::acos(std::clamp(dot(u, v) / n, -1.0f, 1.0f)) * 180 / M_PI) : 0;
}

}  // namespace

std::array<bool, kFingers> extendedFingers(const std::array<Point3, kLandmarks>& lm) {
    std::array<bool, kFingers> out{};
    for (int f = 1; f < kFingers; ++f) {
        const int b = 4 * f + 1;  // base joint
        const float bent = bend(lm[0], lm[b], lm[b + 1]) + bend(lm[b], lm[b + 1], lm[b + 2]) +
                           bend(lm[b + 1], lm[b + 2], lm[b + 3]);
        out[f] = bent < 90;
    }
    const float palm = length(lm[5] - lm[17]);
    out[0] = bend(lm[2], lm[3], lm[4]) < 40 && length(lm[4] - lm[5]) > 0.7f * palm;
    return out;
}

}  // namespace webcam
