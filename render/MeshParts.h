// A mesh's parts built on the CPU from an imported scene: no OpenGL, so they can be tested and
// fuzzed on scenes of any shape.
#pragma once

#include <assimp/matrix4x4.h>

#include <vector>

#include "render/OglBuff.h"

struct aiScene;

struct PartColor {
    float r;
    float g;
    float b;
};

struct OglMeshPart {
    OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices, PartColor partColor);

    OglBuffVertex vertexBuffer;
    OglBuffIndex indexBuffer;
    PartColor color;
    unsigned material = 0;  // the scene's, whose image it may draw
    GLuint texture = 0;     // that image, uploaded; 0: none
    GLuint sampler = 0;     // its wrap modes
};

// True when the part's vertices carry the attribute of that shader location.
bool carries(const OglMeshPart& part, AttribLocation location);

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
PartColor partColor(const aiScene& scene, unsigned materialIndex, bool hasMaterials);
bool sceneHasMeshes(const aiScene* scene);

// A user's model, as its file has it: each mesh once for every node that names it, in the node's
// accumulated transform after `root`; each part with its own mesh's attributes, its texture
// coordinates as its material's image wants them, and its lines or points when it has no triangle.
std::vector<OglMeshPart> buildPlacedParts(const aiScene& scene, const aiMatrix4x4& root = aiMatrix4x4());

// Which way is up in a user's model: as the file declares it (Z for Blender, an FBX's UpAxis,
// else Y), or forced.
enum class ModelUp { Declared, PlusY, PlusZ };
// "+y" or "+z"; false for anything else.
bool parseModelUp(const char* text, ModelUp& up);
// The turn that brings the model's up to +Y.
aiMatrix4x4 upTurn(const aiScene& scene, ModelUp up);

// Where a user's model is first seen from: the start camera's eye, unit view direction and lens.
struct ModelView {
    aiVector3D eye;
    aiVector3D forward;
    float fovDegrees;
    float aspect;  // width / height
};
struct ModelFrame {
    float scale = 1.0f;
    aiVector3D light;  // outside the model, above it and towards the eye, to one side
};
// Moves and uniformly scales the parts' positions, on the CPU, so that the bounds of what they
// draw, centred on the view's axis at the default scene's distance, fill half the view's height
// or width, whichever binds first.
ModelFrame frameInView(std::vector<OglMeshPart>& parts, const ModelView& view);
