// Buffer upload and the indexed draw of one vertex/index pair.
#include "render/OglBuff.h"

#include <cstdint>
#include <utility>

OglBuff::OglBuff(const OglBuff& other)
    : bufferId(other.bufferId),
      layout(other.layout),
      elementsPerPrimitive(other.elementsPerPrimitive),
      byteSize(other.byteSize),
      count(other.count),
      stride(other.stride),
      elementSize(other.elementSize),
      bindTarget(other.bindTarget) {}

OglBuff& OglBuff::operator=(const OglBuff& other) {
    if (this != &other) {
        OglBuff copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void OglBuff::fill(const void* first, size_t elements) {
    data = first;
    count = static_cast<int32_t>(elements);
    byteSize = count * 4;
    elementsPerPrimitive = 3;
    elementSize = 4;
    stride = 0;
    for (const AttribFormat& attribute : layout) stride += attribute.components;
}

void OglBuff::upload() {
    glGenBuffers(1, &bufferId);
    glBindBuffer(bindTarget, bufferId);
    glBufferData(bindTarget, byteSize, data, GL_STATIC_DRAW);
}

void OglBuffVertex::bindAttributes() {
    for (const AttribFormat& attribute : layout) glEnableVertexAttribArray(attribute.location);
    glBindBuffer(GL_ARRAY_BUFFER, bufferId);
    intptr_t offset = 0;
    for (const AttribFormat& attribute : layout) {
        glVertexAttribPointer(attribute.location, attribute.components, attribute.type, GL_FALSE,
                              stride * elementSize, reinterpret_cast<const void*>(offset * elementSize));
        offset += attribute.components;
    }
}

GLsizei drawnIndexCount(const OglBuffIndex& indices) {
    if (indices.elementsPerPrimitive == 0) return 0;  // never filled
    return (indices.count / indices.elementsPerPrimitive) * indices.elementsPerPrimitive;
}

void drawIndexed(OglBuffVertex& vertices, const OglBuffIndex& indices) {
    vertices.bindAttributes();
    glBindBuffer(indices.bindTarget, indices.bufferId);
    const GLenum mode = indices.elementsPerPrimitive == 1   ? GL_POINTS
                        : indices.elementsPerPrimitive == 2 ? GL_LINES
                                                            : GL_TRIANGLES;
    glDrawElements(mode, drawnIndexCount(indices), GL_UNSIGNED_INT, nullptr);
    for (const AttribFormat& attribute : vertices.layout) glDisableVertexAttribArray(attribute.location);
}
