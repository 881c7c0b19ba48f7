// A mesh's parts built on the CPU from an imported scene: no OpenGL, so they can be tested and
// fuzzed on scenes of any shape.
#pragma once

#include <vector>

#include "render/OglBuff.h"

struct aiScene;

struct PartColor {
    float r;
    float g;
    float b;
};

struct OglMeshPart {
    // White; the builders always give a colour, so nothing here calls it.
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
