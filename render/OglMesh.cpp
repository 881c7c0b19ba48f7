// Mesh import, upload and per-frame draw.
#include "render/OglMesh.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>
#include <utility>

#include "render/ModelFile.h"

void OglMesh::load(GLuint program, const char* path) {
    scene = aiImportFile(path, kImportFlags);
    if (scene == nullptr) {
        problem = std::string("Could not import ") + path + ": " + aiGetErrorString();
        std::printf("Could not import %s: %s\n", path, aiGetErrorString());
        std::fflush(stdout);
    } else if (!sceneHasMeshes(scene)) {
        problem = "No meshes. Not good.";
        std::printf("No meshes. Not good.\n");
        std::fflush(stdout);
    } else {
        const MeshFlags flags = decideFlags(*scene);
        use(flags, buildParts(*scene, flags));
    }
    colorUniforms.push_back(glGetUniformLocation(program, "col"));
}

void OglMesh::loadModel(GLuint program, const char* model) {
    replaceModel(model);
    colorUniforms.push_back(glGetUniformLocation(program, "col"));
}

bool OglMesh::replaceModel(const char* model) {
    ModelImport imported = importModel(model);
    problem = imported.scene == nullptr ? imported.error : sceneHasMeshes(imported.scene) ? "" : "No meshes. Not good.";
    if (imported.scene == nullptr) {
        std::fprintf(stderr, "handview: %s\n", imported.error.c_str());
        return false;
    }
    if (!sceneHasMeshes(imported.scene)) {
        std::printf("No meshes. Not good.\n");
        std::fflush(stdout);
        aiReleaseImport(imported.scene);
        return false;
    }
    const float scale = fitToDefaultScene(imported.parts);
    aiReleaseImport(scene);
    scene = imported.scene;
    use(imported.flags, std::move(imported.parts));
    size_t triangles = 0;
    for (const OglMeshPart& part : parts) triangles += part.indexBuffer.indices.size() / 3;
    std::printf("Loaded %s: %zu parts, %zu triangles, imported in %.3f s, scaled by %g\n", model, parts.size(), triangles,
                imported.seconds, scale);
    std::fflush(stdout);
    return true;
}

void OglMesh::use(const MeshFlags& flags, std::vector<OglMeshPart> built) {
    for (const OglMeshPart& part : parts) {
        const GLuint buffers[] = {part.vertexBuffer.bufferId, part.indexBuffer.bufferId};
        glDeleteBuffers(2, buffers);
    }
    hasNormals = flags.hasNormals;
    hasColors = flags.hasColors;
    hasTexCoords = flags.hasTexCoords;
    hasMaterials = flags.hasMaterials;
    parts = std::move(built);
    for (OglMeshPart& part : parts) {
        part.vertexBuffer.upload();
        part.indexBuffer.upload();
    }
}

void OglMesh::draw() {
    for (OglMeshPart& part : parts) {
        for (GLint location : colorUniforms) glUniform3f(location, part.color.r, part.color.g, part.color.b);
        drawIndexed(part.vertexBuffer, part.indexBuffer);
    }
}

OglMesh::~OglMesh() {
    aiReleaseImport(scene);
}
