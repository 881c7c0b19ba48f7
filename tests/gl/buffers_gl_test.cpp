// Vertex and index buffers on Mesa: what the upload stores, the attribute state the draw
// sets up and takes down, how many triangles it draws, and copies outliving the original.
#include "render/OglBuff.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include "support/GlWindow.h"

namespace {

constexpr GLuint kAttribsChecked = 8;  // GL guarantees at least 16

// `vertexCount` vertices of the given attribute sizes, filled with distinct numbers.
OglBuffVertex makeVertices(const std::vector<GLint>& components, int vertexCount) {
    OglBuffVertex buffer;
    GLint perVertex = 0;
    for (GLint n : components) {
        buffer.layout.push_back({GL_FLOAT, n});
        perVertex += n;
    }
    for (int i = 0; i < vertexCount * perVertex; ++i)
        buffer.vertices.push_back(0.25f * static_cast<float>(i));
    buffer.fill();
    return buffer;
}

// A quad covering the whole viewport, counter-clockwise.
OglBuffVertex makeQuad() {
    OglBuffVertex buffer;
    buffer.layout.push_back({GL_FLOAT, 3});
    buffer.vertices = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
    buffer.fill();
    return buffer;
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

uintptr_t attribOffset(GLuint index) {
    void* pointer = nullptr;
    glGetVertexAttribPointerv(index, GL_VERTEX_ATTRIB_ARRAY_POINTER, &pointer);
    return reinterpret_cast<uintptr_t>(pointer);
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
    GLint size = 0;
    GLint usage = 0;
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

struct LayoutCase {
    std::vector<GLint> components;
    GLint strideBytes;
    std::vector<uintptr_t> offsetsBytes;
};
void PrintTo(const LayoutCase& layout, std::ostream* out) {
    *out << layout.components.size() << " attributes, stride " << layout.strideBytes;
}

class AttributeLayout : public BuffersOnMesa, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(AttributeLayout, BindAttributesPointsEachArrayIntoTheBuffer) {
    const LayoutCase& layout = GetParam();
    const GLuint n = static_cast<GLuint>(layout.components.size());
    OglBuffVertex vertices = makeVertices(layout.components, 3);
    vertices.upload();
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    vertices.bindAttributes();

    EXPECT_EQ(boundBuffer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(vertices.bufferId));
    for (GLuint i = 0; i < n; ++i) {
        SCOPED_TRACE(testing::Message() << "attribute " << i);
        EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_TRUE);
        EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_SIZE), layout.components[i]);
        EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_STRIDE), layout.strideBytes);
        EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_TYPE), GL_FLOAT);
        EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED), GL_FALSE);
        EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING), static_cast<GLint>(vertices.bufferId));
        EXPECT_EQ(attribOffset(i), layout.offsetsBytes[i]);
    }
    for (GLuint i = n; i < kAttribsChecked; ++i)
        EXPECT_EQ(attribIv(i, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_FALSE) << "attribute " << i;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_P(AttributeLayout, DrawDisablesEveryArrayAndLeavesBothBuffersBound) {
    const LayoutCase& layout = GetParam();
    OglBuffVertex vertices = makeVertices(layout.components, 3);
    vertices.upload();
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

INSTANTIATE_TEST_SUITE_P(Layouts, AttributeLayout,
                         ::testing::Values(LayoutCase{{3}, 12, {0}},
                                           LayoutCase{{3, 3, 3, 2}, 44, {0, 12, 24, 36}},
                                           LayoutCase{{3, 2}, 20, {0, 12}}),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                             return "Attributes" + std::to_string(info.param.components.size()) + "Stride" +
                                    std::to_string(info.param.strideBytes);
                         });

struct CountCase {
    std::vector<uint32_t> indices;
    GLuint triangles;
};
void PrintTo(const CountCase& draw, std::ostream* out) {
    *out << draw.indices.size() << " indices, " << draw.triangles << " triangles";
}

class DrawnTriangles : public BuffersOnMesa, public ::testing::WithParamInterface<CountCase> {};

TEST_P(DrawnTriangles, OnlyWholeTrianglesAreDrawn) {
    OglBuffVertex vertices = makeQuad();
    vertices.upload();
    OglBuffIndex indices = makeIndices(GetParam().indices);
    indices.upload();
    glUseProgram(program);
    harness::PrimitiveCounter counter;
    drawIndexed(vertices, indices);
    EXPECT_EQ(counter.count(), GetParam().triangles);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

INSTANTIATE_TEST_SUITE_P(IndexCounts, DrawnTriangles,
                         ::testing::Values(CountCase{{0, 1, 2, 0, 2, 3, 1}, 2}, CountCase{{0, 1}, 0},
                                           CountCase{{0, 1, 2, 0, 2, 3}, 2}, CountCase{{0, 1, 2, 3}, 1}),
                         [](const ::testing::TestParamInfo<CountCase>& info) {
                             return "Count" + std::to_string(info.param.indices.size());
                         });

TEST_F(BuffersOnMesa, CopiesStillDrawAfterTheOriginalsAreDestroyed) {
    std::optional<OglBuffVertex> vertexCopy;
    OglBuffIndex indexCopy;
    GLuint originalIds[2] = {0, 0};
    {
        OglBuffVertex vertices = makeQuad();
        vertices.upload();
        OglBuffIndex indices = makeIndices({0, 1, 2, 0, 2, 3});
        indices.upload();
        originalIds[0] = vertices.bufferId;
        originalIds[1] = indices.bufferId;
        vertexCopy.emplace(vertices);  // copy construction
        indexCopy = indices;           // copy assignment
    }
    EXPECT_EQ(vertexCopy->bufferId, originalIds[0]);
    EXPECT_EQ(indexCopy.bufferId, originalIds[1]);
    ASSERT_TRUE(glIsBuffer(vertexCopy->bufferId))
        << "destroying a buffer object must not delete the GL buffer";
    ASSERT_TRUE(glIsBuffer(indexCopy.bufferId)) << "destroying a buffer object must not delete the GL buffer";

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
