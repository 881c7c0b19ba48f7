// Arithmetic on the controller's vectors (millimetres, or unit directions), for every webcam file
// that turns a hand into the controller's terms.
#pragma once

#include <cmath>

#include "Leap.h"
#include "webcam/Hand.h"

namespace webcam {

using Leap::Vector;

inline Vector operator+(Vector a, Vector b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vector operator-(Vector a, Vector b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vector operator*(Vector a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline float dot(Vector a, Vector b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline float length(Vector a) {
    return std::sqrt(dot(a, a));
}
inline Vector cross(Vector a, Vector b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// A zero vector has no direction and stays as it is.
inline Vector unit(Vector v) {
    return length(v) > 0 ? v * (1.0f / length(v)) : v;
}
inline bool finite(Vector a) {
    return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z);
}
inline Vector vectorOf(const Point3& p) {
    return {p.x, p.y, p.z};
}

}  // namespace webcam
