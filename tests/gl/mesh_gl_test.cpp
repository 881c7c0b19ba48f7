// Mesh import through Assimp into Mesa buffers: what load uploads and prints for good,
// missing and face-less files, and the colour each part is drawn with.
#include "render/OglMesh.h"

#include <assimp/cimport.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/GlWindow.h"
#include "support/ProgramRun.h"

namespace {

using harness::captureStdout;

// Two parts in two diffuse colours, each a quad in clip space: red covers the left half of
// the view, green the right half. Four triangles in all.
constexpr const char* kTwoPartObj = R"(mtllib shapes.mtl
o left
v -1 -1 0
v 0 -1 0
v 0 1 0
v -1 1 0
usemtl red
f 1 2 3 4
o right
v 0 -1 0
v 1 -1 0
v 1 1 0
v 0 1 0
usemtl green
f 5 6 7 8
)";
// Ambient given too: a part colour taken from the wrong property would show.
constexpr const char* kTwoPartMtl = R"(newmtl red
Ka 0.2 0.2 0.2
Kd 1 0 0
newmtl green
Ka 0.2 0.2 0.2
Kd 0 1 0
)";
constexpr GLuint kTwoPartTriangles = 4;
const std::vector<float> kRed{1.0f, 0.0f, 0.0f};
const std::vector<float> kGreen{0.0f, 1.0f, 0.0f};
constexpr const char* kVerticesOnlyObj = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
constexpr const char* kLinesOnlyObj = "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\nl 2 3\n";

std::vector<float> asVector(const PartColor& c) {
    return {c.r, c.g, c.b};
}

std::vector<float> bufferContents(GLenum target, GLuint buffer, GLint byteSize) {
    std::vector<float> contents(static_cast<size_t>(byteSize) / 4, -1.0f);
    glBindBuffer(target, buffer);
    glGetBufferSubData(target, 0, byteSize, contents.data());
    return contents;
}

class MeshOnMesa : public harness::GlTest {
protected:
    void SetUp() override {
        harness::GlTest::SetUp();
        if (HasFatalFailure()) return;
        // An App test earlier in this process may have left the importer's console log attached.
        aiDetachAllLogStreams();
        program = harness::linkShippedProgram();
        ASSERT_NE(program, 0u);
    }
    void TearDown() override { glUseProgram(0); }

    // Loads `obj` (nothing at all when null) as obj/shapes.obj; returns what load printed.
    std::string load(const char* obj, const char* mtl = nullptr) {
        if (obj != nullptr) dir.writeFile("obj/shapes.obj", obj);
        if (mtl != nullptr) dir.writeFile("obj/shapes.mtl", mtl);
        harness::ScopedChdir inDir(dir.path());
        return captureStdout([&] { mesh.load(program); });
    }

    void expectEmptyMeshThatDrawsNothing() {
        EXPECT_EQ(mesh.scene, nullptr);
        EXPECT_TRUE(mesh.parts.empty());
        EXPECT_EQ(mesh.colorUniforms, std::vector<GLint>{glGetUniformLocation(program, "col")});
        glUseProgram(program);
        harness::UniformSpy spy;
        harness::PrimitiveCounter counter;
        mesh.draw();
        EXPECT_EQ(counter.count(), 0u);
        EXPECT_TRUE(spy.vec3Writes.empty());
    }

    harness::WorkDir dir{harness::WorkDir::Contents::empty};
    GLuint program = 0;
    OglMesh mesh;
};

TEST_F(MeshOnMesa, LoadUploadsEveryPartSilentlyAndStoresOneColLocation) {
    EXPECT_EQ(load(kTwoPartObj, kTwoPartMtl), "");
    ASSERT_EQ(mesh.parts.size(), 2u);
    EXPECT_NE(mesh.scene, nullptr);
    EXPECT_EQ(mesh.colorUniforms, std::vector<GLint>{glGetUniformLocation(program, "col")});
    for (const OglMeshPart& part : mesh.parts) {
        ASSERT_TRUE(glIsBuffer(part.vertexBuffer.bufferId));
        ASSERT_TRUE(glIsBuffer(part.indexBuffer.bufferId));
        EXPECT_NE(part.vertexBuffer.bufferId, part.indexBuffer.bufferId);
        EXPECT_EQ(bufferContents(GL_ARRAY_BUFFER, part.vertexBuffer.bufferId, part.vertexBuffer.byteSize),
                  part.vertexBuffer.vertices);
        std::vector<uint32_t> indices(part.indexBuffer.indices.size(), 99);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, part.indexBuffer.bufferId);
        glGetBufferSubData(GL_ELEMENT_ARRAY_BUFFER, 0, part.indexBuffer.byteSize, indices.data());
        EXPECT_EQ(indices, part.indexBuffer.indices);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

TEST_F(MeshOnMesa, DrawSetsEachPartsDiffuseColourBeforeDrawingIt) {
    load(kTwoPartObj, kTwoPartMtl);
    ASSERT_EQ(mesh.parts.size(), 2u);
    EXPECT_EQ(asVector(mesh.parts[0].color), kRed);
    EXPECT_EQ(asVector(mesh.parts[1].color), kGreen);

    // Drawn with a program of our own that shows "col" as it is, so each half of the picture
    // tells which colour its part was drawn with. The locations stored by load are the
    // shipped program's, so ask this one instead.
    const GLuint flat = harness::linkFlatColourProgram();
    ASSERT_NE(flat, 0u);
    mesh.colorUniforms = {glGetUniformLocation(flat, "col")};
    glUseProgram(flat);
    harness::ColourTarget target;
    ASSERT_TRUE(target.complete());
    harness::PrimitiveCounter counter;
    mesh.draw();
    EXPECT_EQ(counter.count(), kTwoPartTriangles);
    const int middle = harness::ColourTarget::sizePx / 2;
    EXPECT_EQ(target.pixel(1, middle), (std::vector<uint8_t>{255, 0, 0})) << "left part in red";
    EXPECT_EQ(target.pixel(harness::ColourTarget::sizePx - 2, middle), (std::vector<uint8_t>{0, 255, 0}))
        << "right part in green";
    EXPECT_EQ(harness::uniformFloats(flat, "col", 3), kGreen);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(MeshOnMesa, MissingFilePrintsTheImportersErrorAndLeavesAnEmptyMesh) {
    EXPECT_EQ(load(nullptr), "Could not import obj/shapes.obj: Unable to open file \"obj/shapes.obj\".\n");
    expectEmptyMeshThatDrawsNothing();
}

// Assimp validates every import, and a scene without meshes fails validation: such a file
// never reaches the "No meshes" branch, it arrives as a failed import.
TEST_F(MeshOnMesa, FileWithoutFacesIsAFailedImport) {
    const std::string out = load(kVerticesOnlyObj);
    const std::string prefix = "Could not import obj/shapes.obj: ";
    EXPECT_EQ(out.compare(0, prefix.size(), prefix), 0) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line: " << out;
    expectEmptyMeshThatDrawsNothing();
}

TEST_F(MeshOnMesa, LinesOnlyFileGivesNoPartAndNoMessage) {
    EXPECT_EQ(load(kLinesOnlyObj), "");
    EXPECT_NE(mesh.scene, nullptr);
    EXPECT_TRUE(mesh.parts.empty());
    EXPECT_EQ(mesh.colorUniforms, std::vector<GLint>{glGetUniformLocation(program, "col")});
}

}  // namespace
