// Vertex and index buffers on Mesa: what the upload stores, the attribute state the draw
// sets up and takes down, how many triangles it draws, and copies outliving the original.
#include "render/OglBuff.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "support/GlWindow.h"

namespace {

constexpr GLuint kAttribsChecked = 8;  // GL guarantees at least 16

OglBuffVertex makeVertices(const std::vector<GLint>& components, std::vector<float> data) {
    OglBuffVertex buffer;
    for (GLint n : components) buffer.layout.push_back({GL_FLOAT, n});
    buffer.vertices = std::move(data);
    buffer.fill();
    return buffer;
}

// `vertexCount` vertices of the given attribute sizes, filled with distinct numbers.
OglBuffVertex makeVertices(const std::vector<GLint>& components, int vertexCount) {
    std::vector<float> data;
    for (GLint n : components)
        for (int i = 0; i < vertexCount * n; ++i) data.push_back(0.25f * static_cast<float>(data.size()));
    return makeVertices(components, data);
}

// A quad covering the whole viewport, counter-clockwise.
OglBuffVertex makeQuad() {
    return makeVertices({3}, {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0});
}

OglBuffIndex makeIndices(std::vector<uint32_t> indices) {
    OglBuffIndex buffer;
    buffer.layout.push_back({0, 1});
    buffer.indices = std::move(indices);
    buffer.fill();
    return buffer;
}

GLint attribIv(GLuint index, GLenum what) {
    GLint value = -1;
    glGetVertexAttribiv(index, what, &value);
    return value;
}

GLint boundBuffer(GLenum binding) {
    GLint name = -1;
    glGetIntegerv(binding, &name);
    return name;
}

class BuffersOnMesa : public harness::GlTest {
protected:
    void SetUp() override {
        harness::GlTest::SetUp();
        if (HasFatalFailure()) return;
        for (GLuint i = 0; i < kAttribsChecked; ++i) glDisableVertexAttribArray(i);
        program = harness::linkFlatColourProgram();
        ASSERT_NE(program, 0u);
    }
    void TearDown() override {
        glUseProgram(0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }

    GLuint program = 0;
};

TEST_F(BuffersOnMesa, UploadStoresTheArrayAndLeavesTheBufferBound) {
    OglBuffVertex vertices = makeVertices({3, 3}, 5);
    vertices.upload();
    ASSERT_TRUE(glIsBuffer(vertices.bufferId));
    EXPECT_EQ(boundBuffer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(vertices.bufferId));
    GLint size = 0, usage = 0;
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_USAGE, &usage);
    EXPECT_EQ(size, 30 * 4);
    EXPECT_EQ(usage, GL_STATIC_DRAW);
    std::vector<float> stored(vertices.vertices.size(), -1.0f);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, size, stored.data());
    EXPECT_EQ(stored, vertices.vertices);

    OglBuffIndex indices = makeIndices({4, 3, 2, 1, 0, 4});
    indices.upload();
    EXPECT_EQ(boundBuffer(GL_ELEMENT_ARRAY_BUFFER_BINDING), static_cast<GLint>(indices.bufferId));
    std::vector<uint32_t> storedIndices(indices.indices.size(), 99);
    glGetBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, 6 * 4, storedIndices.data());
    EXPECT_EQ(storedIndices, indices.indices);
}

TEST_F(BuffersOnMesa, BindPointsEachArrayIntoTheBufferAndDrawTakesThemDown) {
    struct Layout {
        std::vector<GLint> components;
        GLint strideBytes;
        std::vector<uintptr_t> offsetsBytes;
    };
    for (const Layout& layout :
         {Layout{{3}, 12, {0}}, Layout{{3, 3, 3, 2}, 44, {0, 12, 24, 36}}, Layout{{3, 2}, 20, {0, 12}}}) {
        SCOPED_TRACE(testing::Message() << "stride " << layout.strideBytes);
        const GLuint n = static_cast<GLuint>(layout.components.size());
        OglBuffVertex vertices = makeVertices(layout.components, 3);
        vertices.upload();
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        vertices.bindAttributes();
        EXPECT_EQ(boundBuffer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(vertices.bufferId));
        for (GLuint i = 0; i < kAttribsChecked; ++i) {
            SCOPED_TRACE(testing::Message() << "attribute " << i);
            EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED), i < n ? GL_TRUE : GL_FALSE);
            if (i >= n) continue;
            EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_SIZE), layout.components[i]);
            EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_STRIDE), layout.strideBytes);
            EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_TYPE), GL_FLOAT);
            EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED), GL_FALSE);
            EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING),
                      static_cast<GLint>(vertices.bufferId));
            void* offset = nullptr;
            glGetVertexAttribPointerv(i, GL_VERTEX_ATTRIB_ARRAY_POINTER, &offset);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(offset), layout.offsetsBytes[i]);
        }

        OglBuffIndex indices = makeIndices({0, 1, 2});
        indices.upload();
        glUseProgram(program);
        drawIndexed(vertices, indices);
        for (GLuint i = 0; i < kAttribsChecked; ++i)
            EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_FALSE) << "attribute " << i;
        EXPECT_EQ(boundBuffer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(vertices.bufferId));
        EXPECT_EQ(boundBuffer(GL_ELEMENT_ARRAY_BUFFER_BINDING), static_cast<GLint>(indices.bufferId));
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(BuffersOnMesa, OnlyWholeTrianglesAreDrawn) {
    OglBuffVertex vertices = makeQuad();
    vertices.upload();
    glUseProgram(program);
    const std::pair<std::vector<uint32_t>, GLuint> cases[] = {
        {{0, 1, 2, 0, 2, 3, 1}, 2}, {{0, 1}, 0}, {{0, 1, 2, 0, 2, 3}, 2}, {{0, 1, 2, 3}, 1}};
    for (const auto& [list, triangles] : cases) {
        OglBuffIndex indices = makeIndices(list);
        indices.upload();
        harness::PrimitiveCounter counter;
        drawIndexed(vertices, indices);
        EXPECT_EQ(counter.count(), triangles) << list.size() << " indices";
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(BuffersOnMesa, CopiesStillDrawAfterTheOriginalsAreDestroyed) {
    std::optional<OglBuffVertex> vertexCopy;
    OglBuffIndex indexCopy;
    {
        OglBuffVertex vertices = makeQuad();
        vertices.upload();
        OglBuffIndex indices = makeIndices({0, 1, 2, 0, 2, 3});
        indices.upload();
        vertexCopy.emplace(vertices);  // copy construction
        indexCopy = indices;           // copy assignment
    }
    // Destroying a buffer object must not delete the GL buffer.
    ASSERT_TRUE(glIsBuffer(vertexCopy->bufferId) && glIsBuffer(indexCopy.bufferId));

    harness::ColourTarget target;
    ASSERT_TRUE(target.complete());
    glUseProgram(program);
    glUniform3f(glGetUniformLocation(program, "col"), 1.0f, 0.0f, 0.0f);
    harness::PrimitiveCounter counter;
    drawIndexed(*vertexCopy, indexCopy);
    EXPECT_EQ(counter.count(), 2u);
    EXPECT_EQ(target.pixel(target.sizePx / 2, target.sizePx / 2), (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
