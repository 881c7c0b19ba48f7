// The point light: values held in double precision, sent as floats to every registered program.
#pragma once

#include <GL/glew.h>

#include <vector>

struct LightValue3 {
    double x;
    double y;
    double z;
};

// Locations of one locateUniforms call: position, colour, ambient, radius.
struct LightLocations {
    GLint position;
    GLint color;
    GLint ambient;
    GLint radius;
};

// No virtual destructor: the application holds its one light by value.
class OglLight {
public:
    virtual void locateUniforms(GLuint program, const char* baseName) = 0;
    virtual void uploadUniforms() = 0;

    LightValue3 position{0.57, 0.57, 0.57};
    LightValue3 color{1.0, 1.0, 1.0};
    double ambient = 0.3;
    std::vector<LightLocations> locations;
};

class OglPointLight : public OglLight {
public:
    void locateUniforms(GLuint program, const char* baseName) override;
    void uploadUniforms() override;

    double radius = 5.0;
};
