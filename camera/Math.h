// The small vector and matrix kit of the camera and the hand control.
// Single precision throughout; trigonometry and square roots run in double
// on the widened argument and are rounded back, so results are reproducible.
#pragma once

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// Column-major, as OpenGL takes it untransposed: element (column c, row r) is m[4c + r].
struct Mat4 {
    float m[16];

    Mat4() : Mat4(1.0f) {}
    explicit Mat4(float diagonal);
    // Part of the matrix type's interface; nothing here builds one from columns.
    Mat4(const float c0[4], const float c1[4], const float c2[4], const float c3[4]);

    float& at(int column, int row) { return m[4 * column + row]; }
    float at(int column, int row) const { return m[4 * column + row]; }
};

// pi/180 rounded to single precision; radians become degrees by dividing by it.
constexpr float kDegToRad = 0.017453292f;

Vec3 operator+(Vec3 a, Vec3 b);
Vec3 operator-(Vec3 a, Vec3 b);
Vec3 operator-(Vec3 a);
Vec3 operator*(Vec3 v, float s);

float dot(Vec3 a, Vec3 b);
Vec3 cross(Vec3 a, Vec3 b);
float length(Vec3 v);
Vec3 normalize(Vec3 v);
Vec3 transformDirection(const Mat4& m, Vec3 v);
// Where `m` puts the point `p`, divided by w: on the screen x and y from -1 to 1, z from -1 to 1
// between the clipping planes.
Vec3 project(const Mat4& m, Vec3 p);
// The unit vector a heading and elevation point along; part of the toolkit, nothing here calls it.
Vec3 direction(float yaw, float pitch);

Mat4 operator*(const Mat4& a, const Mat4& b);
Mat4 rotate(const Mat4& m, float angleDegrees, Vec3 axis);
Mat4 lookAt(Vec3 eye, Vec3 center, Vec3 up);
Mat4 perspective(float fovDegrees, float aspect, float zNear, float zFar);
Mat4 inverse(const Mat4& m);

// Double-precision evaluation, single-precision result.
float sinf64(float a);
float cosf64(float a);
float tanf64(float a);
float sqrtf64(float a);
