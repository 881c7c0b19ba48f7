// Vector and matrix operations, written out so every rounding step is explicit.
#include "camera/Math.h"

#include <cmath>

float sinf64(float a) {
    return static_cast<float>(std::sin(static_cast<double>(a)));
}
float cosf64(float a) {
    return static_cast<float>(std::cos(static_cast<double>(a)));
}
float tanf64(float a) {
    return static_cast<float>(std::tan(static_cast<double>(a)));
}
float sqrtf64(float a) {
    return static_cast<float>(std::sqrt(static_cast<double>(a)));
}

Mat4::Mat4(float diagonal) : m{} {
    for (int i = 0; i < 4; ++i) at(i, i) = diagonal;
}

Mat4::Mat4(const float c0[4], const float c1[4], const float c2[4], const float c3[4]) : m{} {
    const float* columns[4] = {c0, c1, c2, c3};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) at(c, r) = columns[c][r];
}

Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 operator-(Vec3 a) {
    return {-a.x, -a.y, -a.z};
}
Vec3 operator*(Vec3 v, float s) {
    return {v.x * s, v.y * s, v.z * s};
}

float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - b.y * a.z, a.z * b.x - b.z * a.x, a.x * b.y - b.x * a.y};
}

float length(Vec3 v) {
    return sqrtf64(v.x * v.x + v.y * v.y + v.z * v.z);
}

// No guard for the zero vector: callers never pass one, and NaN shows the fault.
Vec3 normalize(Vec3 v) {
    return v * (1.0f / length(v));
}

Vec3 transformDirection(const Mat4& m, Vec3 v) {
    return {m.at(0, 0) * v.x + m.at(1, 0) * v.y + m.at(2, 0) * v.z,
            m.at(0, 1) * v.x + m.at(1, 1) * v.y + m.at(2, 1) * v.z,
            m.at(0, 2) * v.x + m.at(1, 2) * v.y + m.at(2, 2) * v.z};
}

Vec3 project(const Mat4& m, Vec3 p) {
    float out[4];
    for (int r = 0; r < 4; ++r) out[r] = m.at(0, r) * p.x + m.at(1, r) * p.y + m.at(2, r) * p.z + m.at(3, r);
    return {out[0] / out[3], out[1] / out[3], out[2] / out[3]};
}

Vec3 direction(float yaw, float pitch) {
    return {sinf64(yaw) * cosf64(pitch), sinf64(pitch), cosf64(yaw) * cosf64(pitch)};
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 out(0.0f);
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += a.at(k, r) * b.at(c, k);
            out.at(c, r) = sum;
        }
    return out;
}

Mat4 rotate(const Mat4& m, float angleDegrees, Vec3 axis) {
    const float theta = angleDegrees * kDegToRad;
    const float c = cosf64(theta);
    const float s = sinf64(theta);
    const Vec3 a = normalize(axis);
    const Vec3 t = a * (1.0f - c);
    const Vec3 r[3] = {
        {c + t.x * a.x, t.x * a.y + s * a.z, t.x * a.z - s * a.y},
        {t.y * a.x - s * a.z, c + t.y * a.y, t.y * a.z + s * a.x},
        {t.z * a.x + s * a.y, t.z * a.y - s * a.x, c + t.z * a.z},
    };
    Mat4 out(0.0f);
    for (int i = 0; i < 3; ++i)
        for (int row = 0; row < 4; ++row)
            out.at(i, row) = m.at(0, row) * r[i].x + m.at(1, row) * r[i].y + m.at(2, row) * r[i].z;
    for (int row = 0; row < 4; ++row) out.at(3, row) = m.at(3, row);
    return out;
}

Mat4 lookAt(Vec3 eye, Vec3 center, Vec3 up) {
    const Vec3 f = normalize(center - eye);
    Vec3 u = normalize(up);
    const Vec3 s = normalize(cross(f, u));
    u = cross(s, f);
    Mat4 out(1.0f);
    out.at(0, 0) = s.x;
    out.at(0, 1) = u.x;
    out.at(0, 2) = -f.x;
    out.at(1, 0) = s.y;
    out.at(1, 1) = u.y;
    out.at(1, 2) = -f.y;
    out.at(2, 0) = s.z;
    out.at(2, 1) = u.z;
    out.at(2, 2) = -f.z;
    out.at(3, 0) = -dot(s, eye);
    out.at(3, 1) = -dot(u, eye);
    out.at(3, 2) = dot(f, eye);
    return out;
}

Mat4 perspective(float fovDegrees, float aspect, float zNear, float zFar) {
    const float tanHalf = tanf64(fovDegrees * kDegToRad * 0.5f);
    Mat4 p(0.0f);
    p.at(0, 0) = 1.0f / (tanHalf * aspect);
    p.at(1, 1) = 1.0f / tanHalf;
    p.at(2, 2) = -((zFar + zNear) / (zFar - zNear));
    p.at(2, 3) = -1.0f;
    p.at(3, 2) = -((zFar * 2.0f * zNear) / (zFar - zNear));
    return p;
}

namespace {
// Determinant of the 3x3 minor that leaves out column `skipC` and row `skipR`.
float minor3(const Mat4& m, int skipC, int skipR) {
    float e[3][3];
    for (int c = 0, ci = 0; c < 4; ++c) {
        if (c == skipC) continue;
        for (int r = 0, ri = 0; r < 4; ++r) {
            if (r == skipR) continue;
            e[ci][ri++] = m.at(c, r);
        }
        ++ci;
    }
    return e[0][0] * (e[1][1] * e[2][2] - e[2][1] * e[1][2]) -
           e[1][0] * (e[0][1] * e[2][2] - e[2][1] * e[0][2]) +
           e[2][0] * (e[0][1] * e[1][2] - e[1][1] * e[0][2]);
}
}  // namespace

// Adjugate over determinant; a singular matrix gives inf/NaN, which the camera never feeds it.
Mat4 inverse(const Mat4& m) {
    Mat4 adj(0.0f);
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            const float sign = ((c + r) % 2 == 0) ? 1.0f : -1.0f;
            // Transposed cofactor: adj(c, r) = cofactor(r, c).
            adj.at(c, r) = sign * minor3(m, r, c);
        }
    // First column of m against the first row of the adjugate.
    float det = 0.0f;
    for (int k = 0; k < 4; ++k) det += m.at(0, k) * adj.at(k, 0);
    for (float& v : adj.m) v /= det;
    return adj;
}
