// The one mesh the viewer shows: imported once, one uploaded part per triangle mesh.
#pragma once

#include <GL/glew.h>
#include <assimp/postprocess.h>

#include <string>
#include <vector>

#include "render/MeshParts.h"

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
    // A user's model: placed by its nodes and fitted into the default scene's bounds.
    void loadModel(GLuint program, const char* model);
    // Another model, taken as loadModel takes it, in place of the one shown. A file that gives
    // nothing to draw is said why on one line and keeps the one shown. True when replaced.
    bool replaceModel(const char* model);
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

private:
    // Takes the parts and their flags, and uploads them; the GL buffers of the parts it replaces go.
    void use(const MeshFlags& flags, std::vector<OglMeshPart> built);
};

// Assimp's realtime max-quality preset plus Debone.
constexpr unsigned kImportFlags =
    aiProcess_CalcTangentSpace | aiProcess_JoinIdenticalVertices | aiProcess_Triangulate |
    aiProcess_GenSmoothNormals | aiProcess_SplitLargeMeshes | aiProcess_LimitBoneWeights |
    aiProcess_ValidateDataStructure | aiProcess_ImproveCacheLocality | aiProcess_RemoveRedundantMaterials |
    aiProcess_SortByPType | aiProcess_FindDegenerates | aiProcess_FindInvalidData | aiProcess_GenUVCoords |
    aiProcess_FindInstances | aiProcess_OptimizeMeshes | aiProcess_Debone;

