// Vertex and index buffers: a CPU-side array, its layout, and one GL buffer object.
//
// Ownership: a buffer owns its CPU arrays (copied deeply) but not its GL name. Copies share
// the name and a buffer never deletes it: the mesh deletes those of a model it replaces, the
// rest end with the context at exit.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <vector>

// Shader inputs by meaning: a mesh that leaves one out must not shift the others down.
enum AttribLocation : GLuint {
    kPositionLocation = 0,
    kNormalLocation = 1,
    kColorLocation = 2,
    kTexCoordLocation = 3
};

struct AttribFormat {
    GLenum type;  // GL_FLOAT for every vertex attribute
    GLint components;
    GLuint location = kPositionLocation;
};

class OglBuff {
public:
    virtual void upload();

    GLuint bufferId = 0;
    const void* data = nullptr;  // first element of the derived array; read only by upload
    std::vector<AttribFormat> layout;
    int32_t elementsPerPrimitive = 0;  // 3: triangles; a user's model also has lines (2) and points (1)
    int32_t byteSize = 0;
    int32_t count = 0;
    int32_t stride = 0;       // elements per vertex
    int32_t elementSize = 0;  // bytes per element
    GLenum bindTarget;

protected:
    explicit OglBuff(GLenum target) : bindTarget(target) {}
    // A copy never points into the other's array; moves keep the array and so the pointer.
    OglBuff(const OglBuff& other);
    OglBuff& operator=(const OglBuff& other);
    OglBuff(OglBuff&&) = default;
    OglBuff& operator=(OglBuff&&) = default;
    ~OglBuff() = default;

    // Sets the size fields from the element count and the layout.
    void fill(const void* first, size_t elements);
};

class OglBuffVertex : public OglBuff {
public:
    OglBuffVertex() : OglBuff(GL_ARRAY_BUFFER) {}

    // Records the current vertices as the buffer's contents.
    void fill() { OglBuff::fill(vertices.data(), vertices.size()); }
    // Points each layout entry's shader location at its place in this buffer.
    void bindAttributes();

    std::vector<float> vertices;
};

class OglBuffIndex : public OglBuff {
public:
    OglBuffIndex() : OglBuff(GL_ELEMENT_ARRAY_BUFFER) {}

    void fill(int32_t perPrimitive = 3) {
        OglBuff::fill(indices.data(), indices.size());
        elementsPerPrimitive = perPrimitive;
    }

    std::vector<uint32_t> indices;
};

// Number of indices the draw uses: whole primitives only.
GLsizei drawnIndexCount(const OglBuffIndex& indices);
// Enable, point, bind the elements, draw the primitives, disable.
void drawIndexed(OglBuffVertex& vertices, const OglBuffIndex& indices);
