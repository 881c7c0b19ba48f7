// The perspective camera: pose and lens in, one projection-times-view matrix out.
#pragma once

#include <GL/glew.h>

#include <vector>

#include "camera/Math.h"

// Uniform locations registered under one base name: the matrix and the eye point.
struct CamLocations {
    GLint matrixLocation;
    GLint positionLocation;  // -1 when the program has no eye-point uniform
};

// No virtual destructor: cameras are held by value, never deleted through a base pointer.
class OglCam {
public:
    virtual Mat4 update();
    virtual void updateTarget();
    // Kept in its slot of the camera's interface; nothing calls it.
    virtual void targetForAngles(float* outX, float* outY, float* outZ, float yaw, float pitch);
    virtual void locateUniforms(GLuint program, const char* name);

    Vec3 position{4.0f, 3.0f, 4.0f};
    Vec3 target{0.0f, 0.0f, 0.0f};
    float yaw = 0.0f;    // radians
    float pitch = 0.0f;  // radians
    float fov = 45.0f;   // degrees, vertical
    float zNear = 0.1f;
    float zFar = 100.0f;
    float roll = 0.0f;  // degrees, not radians
    float viewWidth = 640.0f;
    float viewHeight = 480.0f;
    Mat4 mvp;
    Mat4 mvpInverse;
    std::vector<CamLocations> locations;
};

// The camera's right-hand side for viewing direction d: cross(d, world up). Looking straight up or
// down that is the zero vector, which would turn every matrix into NaN for good; the heading
// still gives the side then.
Vec3 rightOfView(Vec3 d, float yaw, float pitch);

// True where the view has passed over the vertical and up must be negated.
bool isUpsideDown(float pitch);
