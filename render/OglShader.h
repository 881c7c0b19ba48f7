// Shader stages compiled from text files, and the linked program that draws everything.
#pragma once

#include <GL/glew.h>

#include <istream>
#include <string>

class OglShader {
public:
    virtual void compile(const char* path, GLenum type);
    virtual ~OglShader();

    GLuint shader = 0;

protected:
    OglShader() = default;
    // Stages own a GL name; copying one would delete it twice.
    OglShader(const OglShader&) = delete;
    OglShader& operator=(const OglShader&) = delete;
};

class OglVertexShader : public OglShader {
public:
    explicit OglVertexShader(const char* path);
};

class OglFragmentShader : public OglShader {
public:
    explicit OglFragmentShader(const char* path);
};

// A plain value: the program lives until the process ends and is never deleted.
class OglProgram {
public:
    void link(OglShader& vertex, OglShader& fragment);

    GLuint program = 0;
};

// Source text as handed to the compiler: a line feed before every line, none after the last,
// carriage returns of CRLF line ends dropped.
std::string assembleSource(std::istream& in);
// The file's source text; empty when it cannot be opened.
std::string readSourceFile(const char* path);
