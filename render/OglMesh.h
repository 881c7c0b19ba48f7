// The one mesh the viewer shows: imported once, one uploaded part per triangle mesh.
#pragma once

#include <GL/glew.h>
#include <assimp/postprocess.h>

#include <vector>

#include "render/MeshParts.h"

struct aiScene;

class OglMesh {
public:
    OglMesh() = default;
    ~OglMesh();
    // Owns the imported scene.
    OglMesh(const OglMesh&) = delete;
    OglMesh& operator=(const OglMesh&) = delete;

    // The default scene, as it is.
    void load(GLuint program);
    // A user's model: placed by its nodes and fitted into the default scene's bounds.
    void load(GLuint program, const char* model);
    void draw();

    // What every part carries; nothing reads these back (the builders work from MeshFlags).
    bool hasNormals = false;
    bool hasColors = false;
    bool hasTexCoords = false;
    bool hasMaterials = false;
    const aiScene* scene = nullptr;
    std::vector<OglMeshPart> parts;
    std::vector<GLint> colorUniforms;

private:
    // Takes the parts and their flags, and uploads them.
    void use(const MeshFlags& flags, std::vector<OglMeshPart> built);
};

constexpr const char* kMeshPath = "obj/shapes.obj";
// Assimp's realtime max-quality preset plus Debone.
constexpr unsigned kImportFlags =
    aiProcess_CalcTangentSpace | aiProcess_JoinIdenticalVertices | aiProcess_Triangulate |
    aiProcess_GenSmoothNormals | aiProcess_SplitLargeMeshes | aiProcess_LimitBoneWeights |
    aiProcess_ValidateDataStructure | aiProcess_ImproveCacheLocality | aiProcess_RemoveRedundantMaterials |
    aiProcess_SortByPType | aiProcess_FindDegenerates | aiProcess_FindInvalidData | aiProcess_GenUVCoords |
    aiProcess_FindInstances | aiProcess_OptimizeMeshes | aiProcess_Debone;

