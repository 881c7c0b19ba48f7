// Mesh import, upload and per-frame draw.
#include "render/OglMesh.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <cstdio>
#include <utility>

OglMeshPart::OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices)
    : OglMeshPart(std::move(vertices), std::move(indices), PartColor{1.0f, 1.0f, 1.0f}) {}

OglMeshPart::OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices, PartColor partColor)
    : vertexBuffer(std::move(vertices)), indexBuffer(std::move(indices)), color(partColor) {}

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
        hasNormals = flags.hasNormals;
        hasColors = flags.hasColors;
        hasTexCoords = flags.hasTexCoords;
        hasMaterials = flags.hasMaterials;
        parts = buildParts(*scene, flags);
        for (OglMeshPart& part : parts) {
            part.vertexBuffer.upload();
            part.indexBuffer.upload();
        }
    }
    colorUniforms.push_back(glGetUniformLocation(program, "col"));
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
