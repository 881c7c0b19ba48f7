// Stage compilation and program linking; logs go to the console and never stop the run.
#include "render/OglShader.h"

#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

#include "tracker/Console.h"
#include "tracker/DataFiles.h"

namespace {
// The driver's log of a shader or program, fetched with the length it reports.
// The length starts at 0: a name of 0 makes the query fail and leaves it unwritten.
template <typename GetIv, typename GetLog>
void printInfoLog(GLuint name, GetIv getIv, GetLog getLog) {
    GLint length = 0;
    getIv(name, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    if (length > 0) getLog(name, length, nullptr, log.data());
    // The driver may quote the source, a file from outside: its lines as they were, made printable.
    std::string shown;
    std::string_view rest(log.data());
    for (size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1))
        shown += Leap::printable(rest.substr(0, end), Leap::kWholeLine) + '\n';
    std::printf("%s%s\n", shown.c_str(), Leap::printable(rest, Leap::kWholeLine).c_str());
}
}  // namespace

std::string assembleSource(std::istream& in) {
    std::string text;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += '\n';
        text += line;
    }
    return text;
}

std::string readSourceFile(const char* path) {
    std::ifstream in(nativePath(path));
    if (!in) return std::string();
    return assembleSource(in);
}

void OglShader::compile(const char* path, GLenum type) {
    shader = glCreateShader(type);
    const std::string text = readSourceFile(path);
    std::printf("Compiling shader : %s\n", Leap::printable(path, Leap::kWholeLine).c_str());
    const char* source = text.c_str();
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    printInfoLog(shader, glGetShaderiv, glGetShaderInfoLog);
}

OglShader::~OglShader() {
    glDeleteShader(shader);
}

OglVertexShader::OglVertexShader(const char* path) {
    compile(path, GL_VERTEX_SHADER);
}

OglFragmentShader::OglFragmentShader(const char* path) {
    compile(path, GL_FRAGMENT_SHADER);
}

void OglProgram::link(OglShader& vertex, OglShader& fragment) {
    std::printf("Linking program\n");
    program = glCreateProgram();
    glAttachShader(program, vertex.shader);
    glAttachShader(program, fragment.shader);
    glLinkProgram(program);
    printInfoLog(program, glGetProgramiv, glGetProgramInfoLog);
}
