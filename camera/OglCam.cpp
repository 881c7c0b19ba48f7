// Camera matrices and their upload to the current program.
#include "camera/OglCam.h"

#include <cmath>
#include <string>

void OglCam::updateTarget() {
    target.x = sinf64(yaw) * cosf64(pitch) + position.x;
    target.y = sinf64(pitch) + position.y;
    target.z = cosf64(yaw) * cosf64(pitch) + position.z;
}

void OglCam::targetForAngles(float* outX, float* outY, float* outZ, float a, float b) {
    *outX = sinf64(a) * cosf64(b) + position.x;
    *outZ = cosf64(a) * cosf64(b) + position.z;
    *outY = sinf64(b) + position.y;
}

void OglCam::locateUniforms(GLuint program, const char* name) {
    const GLint matrixLocation = glGetUniformLocation(program, name);
    const std::string positionName = std::string(name) + "_pos";
    const GLint positionLocation = glGetUniformLocation(program, positionName.c_str());
    locations.push_back({matrixLocation, positionLocation});
}

Vec3 rightOfView(Vec3 d, float yaw, float pitch) {
    const Vec3 right = cross(d, Vec3{0.0f, 1.0f, 0.0f});
    if (right.x != 0.0f || right.z != 0.0f) return right;
    // What cross(d, up) is before rounding loses d's tiny horizontal part.
    const float c = cosf64(pitch);
    return {-cosf64(yaw) * c, 0.0f, sinf64(yaw) * c};
}

bool isUpsideDown(float pitch) {
    // pi/2 and pi as single-precision constants, widened: the test runs in double.
    const double h = (static_cast<double>(pitch) + 1.5707963705062866) / 3.1415927410125732;
    const double k = std::floor(h);
    const float a = static_cast<float>(k * 0.5);
    return static_cast<float>(std::floor(static_cast<double>(a))) != a;
}

Mat4 OglCam::update() {
    const Vec3 d = target - position;
    const Vec3 right = rightOfView(d, yaw, pitch);
    Vec3 up = cross(right, d);
    up = transformDirection(rotate(Mat4(), roll, d), up);
    if (isUpsideDown(pitch)) up = -up;

    const float aspect = viewWidth / viewHeight;
    const Mat4 projection = perspective(fov, aspect, zNear, zFar);
    const Mat4 view = lookAt(position, target, up);
    const Mat4 combined = projection * view;

    for (const CamLocations& record : locations) {
        glUniformMatrix4fv(record.matrixLocation, 1, GL_FALSE, combined.m);
        if (record.positionLocation != -1)
            glUniform3f(record.positionLocation, position.x, position.y, position.z);
    }
    mvp = combined;
    mvpInverse = inverse(mvp);
    return combined;
}
