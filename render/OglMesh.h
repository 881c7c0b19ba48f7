// The one mesh the viewer shows: imported once, one uploaded part per triangle mesh.
#pragma once

#include <GL/glew.h>

#include <string>
#include <vector>

#include "render/MeshParts.h"
#include "render/ModelFile.h"
#include "render/OglTexture.h"

struct aiScene;

constexpr const char* kMeshPath = "obj/shapes.obj";

class OglMesh {
public:
    OglMesh() = default;
    ~OglMesh();
    // Owns the imported scene.
    OglMesh(const OglMesh&) = delete;
    OglMesh& operator=(const OglMesh&) = delete;

    // The default scene, as it is: kMeshPath, or the installed copy of it.
    void load(GLuint program, const char* path = kMeshPath);
    // A user's model: up turned up, placed by its nodes, framed in `view`, with its images, both
    // sides of its surfaces, its lines and points.
    void loadModel(GLuint program, const char* model, const ModelView& view, ModelUp up = ModelUp::Declared);
    // Another model, taken as loadModel takes it, in place of the one shown. A file that gives
    // nothing to draw is said why on one line and keeps the one shown. True when replaced.
    bool replaceModel(const char* model, const ModelView& view, ModelUp up = ModelUp::Declared);
    void draw();
    // Why the last load drew nothing, as its console line says; empty when it drew.
    std::string problem;

    // What every part carries; nothing reads these back (the builders work from MeshFlags).
    bool hasNormals = false;
    bool hasColors = false;
    bool hasTexCoords = false;
    bool hasMaterials = false;
    const aiScene* scene = nullptr;
    std::vector<OglMeshPart> parts;
    std::vector<GLint> colorUniforms;
    // A user's model: where it was framed and its light placed, and its surfaces seen from behind.
    ModelFrame modelFrame;
    bool bothSides = false;

private:
    // The part's switches of the one program: "col_vertex" (its vertices carry colours),
    // "col_unlit" (lines and points, in their colour as it is), "col_mapped" (it draws its image).
    struct PartUniforms {
        GLint vertexColors;
        GLint unlit;
        GLint mapped;
    };
    void locateUniforms(GLuint program);
    // Takes the parts and their flags, and uploads them; the GL buffers of the parts it replaces go.
    void use(const MeshFlags& flags, std::vector<OglMeshPart> built);

    std::vector<PartUniforms> partUniforms_;
    OglTextures textures_;
};
