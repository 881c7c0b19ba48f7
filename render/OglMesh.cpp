// Mesh import, upload and per-frame draw.
#include "render/OglMesh.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>
#include <utility>

#include "render/ModelFile.h"

void OglMesh::load(GLuint program) {
    scene = aiImportFile(kMeshPath, kImportFlags);
    if (scene == nullptr) {
        std::printf("Could not import %s: %s\n", kMeshPath, aiGetErrorString());
        std::fflush(stdout);
    } else if (!sceneHasMeshes(scene)) {
        std::printf("No meshes. Not good.\n");
        std::fflush(stdout);
    } else {
        const MeshFlags flags = decideFlags(*scene);
        use(flags, buildParts(*scene, flags));
    }
    colorUniforms.push_back(glGetUniformLocation(program, "col"));
}

void OglMesh::load(GLuint program, const char* model) {
    ModelImport imported = importModel(model);
    scene = imported.scene;
    if (scene == nullptr) {
        std::fprintf(stderr, "handview: %s\n", imported.error.c_str());
    } else if (!sceneHasMeshes(scene)) {
        std::printf("No meshes. Not good.\n");
        std::fflush(stdout);
    } else {
        const float scale = fitToDefaultScene(imported.parts);
        use(imported.flags, std::move(imported.parts));
        size_t triangles = 0;
        for (const OglMeshPart& part : parts) triangles += part.indexBuffer.indices.size() / 3;
        std::printf("Loaded %s: %zu parts, %zu triangles, imported in %.3f s, scaled by %g\n", model, parts.size(),
                    triangles, imported.seconds, scale);
        std::fflush(stdout);
    }
    colorUniforms.push_back(glGetUniformLocation(program, "col"));
}

void OglMesh::use(const MeshFlags& flags, std::vector<OglMeshPart> built) {
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
