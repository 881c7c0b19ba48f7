// Mesh import, upload and per-frame draw.
#include "render/OglMesh.h"

#include <assimp/cimport.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "render/ModelFile.h"
#include "tracker/Console.h"

using Leap::kWholeLine;
using Leap::printable;

void OglMesh::load(GLuint program, const char* path) {
    scene = aiImportFile(path, kImportFlags);
    if (scene == nullptr) {
        problem = std::string("Could not import ") + path + ": " + aiGetErrorString();
        std::printf("Could not import %s: %s\n", printable(path, kWholeLine).c_str(),
                    printable(aiGetErrorString(), kWholeLine).c_str());
        std::fflush(stdout);
    } else if (!sceneHasMeshes(scene)) {
        problem = "No meshes. Not good.";
        std::printf("No meshes. Not good.\n");
        std::fflush(stdout);
    } else {
        const MeshFlags flags = decideFlags(*scene);
        use(flags, buildParts(*scene, flags));
    }
    locateUniforms(program);
}

void OglMesh::loadModel(GLuint program, const char* model, const ModelView& view, ModelUp up) {
    replaceModel(model, view, up);
    locateUniforms(program);
}

void OglMesh::locateUniforms(GLuint program) {
    colorUniforms.push_back(glGetUniformLocation(program, "col"));
    partUniforms_.push_back({glGetUniformLocation(program, "col_vertex"),
                             glGetUniformLocation(program, "col_unlit"),
                             glGetUniformLocation(program, "col_mapped")});
}

namespace {
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Each part of a user's model has its own attributes.
MeshFlags flagsOfEvery(const std::vector<OglMeshPart>& parts, const aiScene& scene) {
    const auto every = [&parts](AttribLocation location) {
        return std::all_of(parts.begin(), parts.end(),
                           [location](const OglMeshPart& part) { return carries(part, location); });
    };
    MeshFlags flags;
    flags.hasNormals = every(kNormalLocation);
    flags.hasColors = every(kColorLocation);
    flags.hasTexCoords = every(kTexCoordLocation);
    flags.hasMaterials = scene.mMaterials != nullptr && scene.mNumMaterials > 0;
    return flags;
}

size_t primitives(const std::vector<OglMeshPart>& parts, int corners) {
    size_t count = 0;
    for (const OglMeshPart& part : parts)
        if (part.indexBuffer.elementsPerPrimitive == corners)
            count += part.indexBuffer.indices.size() / size_t(corners);
    return count;
}
}  // namespace

bool OglMesh::replaceModel(const char* model, const ModelView& view, ModelUp up) {
    ModelImport imported = importModel(model, up);
    problem = imported.scene == nullptr ? imported.error : imported.meshes ? "" : "No meshes. Not good.";
    if (imported.scene == nullptr) {
        Leap::printConsoleLine(imported.error);
        return false;
    }
    if (!imported.meshes) {
        std::printf("No meshes. Not good.\n");
        std::fflush(stdout);
        aiReleaseImport(imported.scene);
        return false;
    }
    modelFrame = frameInView(imported.parts, view);
    bothSides = true;
    aiReleaseImport(scene);
    scene = imported.scene;
    use(flagsOfEvery(imported.parts, *scene), std::move(imported.parts));
    textures_.attach(parts, *scene, folderOf(model));
    std::string linesAndPoints;
    for (const auto& [corners, kind] : {std::pair{2, " lines"}, {1, " points"}})
        if (const size_t count = primitives(parts, corners))
            linesAndPoints += ", " + std::to_string(count) + kind;
    std::printf("Loaded %s: %zu parts, %zu triangles%s, imported in %.3f s, scaled by %g\n",
                printable(model, kWholeLine).c_str(), parts.size(), primitives(parts, 3),
                linesAndPoints.c_str(), imported.seconds, modelFrame.scale);
    std::fflush(stdout);
    return true;
}

void OglMesh::use(const MeshFlags& flags, std::vector<OglMeshPart> built) {
    for (const OglMeshPart& part : parts) {
        const GLuint buffers[] = {part.vertexBuffer.bufferId, part.indexBuffer.bufferId};
        glDeleteBuffers(2, buffers);
    }
    textures_.release();
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
    if (bothSides) glDisable(GL_CULL_FACE);
    for (OglMeshPart& part : parts) {
        for (GLint location : colorUniforms) glUniform3f(location, part.color.r, part.color.g, part.color.b);
        for (const PartUniforms& at : partUniforms_) {
            glUniform1i(at.vertexColors, carries(part, kColorLocation));
            glUniform1i(at.unlit, part.indexBuffer.elementsPerPrimitive < 3);
            glUniform1i(at.mapped, part.texture != 0);
        }
        if (part.texture != 0) {
            glBindTexture(GL_TEXTURE_2D, part.texture);
            glBindSampler(0, part.sampler);
        }
        drawIndexed(part.vertexBuffer, part.indexBuffer);
    }
}

OglMesh::~OglMesh() {
    aiReleaseImport(scene);
}
