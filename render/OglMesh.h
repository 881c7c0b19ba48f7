// The one mesh the viewer shows: imported once, one uploaded part per triangle mesh.
#pragma once

#include <GL/glew.h>

#include <vector>

#include "render/OglBuff.h"

struct aiScene;

struct PartColor {
    float r;
    float g;
    float b;
};

struct OglMeshPart {
    OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices);
    OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices, PartColor partColor);

    OglBuffVertex vertexBuffer;
    OglBuffIndex indexBuffer;
    PartColor color;
};

// Which attributes every part carries, decided once from the first mesh.
struct MeshFlags {
    bool hasNormals = false;
    bool hasColors = false;
    bool hasTexCoords = false;
    bool hasMaterials = false;
};

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
constexpr unsigned kImportFlags = 0x4379ECB;

// CPU-side part building, no OpenGL: the flags from the first mesh, then one filled
// (not uploaded) part per mesh that yields a triangle. Null or mesh-less scenes give none.
MeshFlags decideFlags(const aiScene& scene);
std::vector<OglMeshPart> buildParts(const aiScene& scene, const MeshFlags& flags);
// The same, placed as the scene's nodes say: each mesh once for every node that names it, in
// the node's accumulated transform.
std::vector<OglMeshPart> buildPlacedParts(const aiScene& scene, const MeshFlags& flags);
PartColor partColor(const aiScene& scene, unsigned materialIndex, bool hasMaterials);
bool sceneHasMeshes(const aiScene* scene);
// Moves and uniformly scales the parts' positions, on the CPU, so that the bounds of their triangles
// fit the default scene's bounds, centred in them. Returns the scale applied.
float fitToDefaultScene(std::vector<OglMeshPart>& parts);
