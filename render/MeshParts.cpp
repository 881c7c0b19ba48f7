// Turns an imported scene into part data on the CPU. No OpenGL here, so it can be
// tested and fuzzed on scenes of any shape.
#include <assimp/material.h>
#include <assimp/scene.h>

#include <cstdint>
#include <limits>

#include "render/OglMesh.h"

namespace {
constexpr PartColor kWhite{1.0f, 1.0f, 1.0f};
// byteSize is a signed 32-bit count of bytes.
constexpr size_t kMaxElements = std::numeric_limits<int32_t>::max() / 4;

bool meshIsDrawable(const aiMesh* mesh) {
    return mesh != nullptr && mesh->mVertices != nullptr && mesh->mNumVertices > 0 &&
           mesh->mFaces != nullptr && mesh->mNumFaces > 0;
}

size_t floatsPerVertex(const MeshFlags& flags) {
    return 3 + (flags.hasNormals ? 3 : 0) + (flags.hasColors ? 3 : 0) + (flags.hasTexCoords ? 2 : 0);
}

float* put(float* out, float a, float b, float c) {
    out[0] = a;
    out[1] = b;
    out[2] = c;
    return out + 3;
}

// Sized once and written in place: an insert per attribute cost ten times the copy itself.
void appendVertices(const aiMesh& mesh, const MeshFlags& flags, std::vector<float>& out) {
    const aiVector3D* normals = mesh.mNormals;
    const aiColor4D* colors = mesh.mColors[0];
    const aiVector3D* texCoords = mesh.mTextureCoords[0];
    const size_t first = out.size();
    out.resize(first + size_t(mesh.mNumVertices) * floatsPerVertex(flags));
    float* o = out.data() + first;
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
        const aiVector3D& p = mesh.mVertices[v];
        o = put(o, p.x, p.y, p.z);
        if (flags.hasNormals)
            o = normals ? put(o, normals[v].x, normals[v].y, normals[v].z) : put(o, 0.0f, 0.0f, 0.0f);
        if (flags.hasColors)
            o = colors ? put(o, colors[v].r, colors[v].g, colors[v].b) : put(o, 1.0f, 1.0f, 1.0f);
        if (flags.hasTexCoords) {
            o[0] = texCoords ? texCoords[v].x : 0.0f;
            o[1] = texCoords ? texCoords[v].y : 0.0f;
            o += 2;
        }
    }
}

// Keeps triangles whose indices all name a vertex of this mesh; an index past the end
// would make the GPU read outside the vertex buffer.
unsigned appendTriangles(const aiMesh& mesh, std::vector<uint32_t>& out) {
    unsigned triangles = 0;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != 3 || face.mIndices == nullptr) continue;
        const unsigned* idx = face.mIndices;
        if (idx[0] >= mesh.mNumVertices || idx[1] >= mesh.mNumVertices || idx[2] >= mesh.mNumVertices)
            continue;
        out.insert(out.end(), {idx[0], idx[1], idx[2]});
        ++triangles;
    }
    return triangles;
}
}  // namespace

bool sceneHasMeshes(const aiScene* scene) {
    return scene != nullptr && scene->mMeshes != nullptr && scene->mNumMeshes > 0;
}

MeshFlags decideFlags(const aiScene& scene) {
    MeshFlags flags;
    const aiMesh* first = sceneHasMeshes(&scene) ? scene.mMeshes[0] : nullptr;
    if (first != nullptr && first->mNumVertices > 0) {
        flags.hasColors = first->mColors[0] != nullptr;
        flags.hasNormals = first->mNormals != nullptr;
        flags.hasTexCoords = first->mTextureCoords[0] != nullptr;
    }
    flags.hasMaterials = scene.mMaterials != nullptr && scene.mNumMaterials > 0;
    return flags;
}

// The diffuse colour, looked up by key; anything without one draws white.
PartColor partColor(const aiScene& scene, unsigned materialIndex, bool hasMaterials) {
    if (!hasMaterials || materialIndex >= scene.mNumMaterials) return kWhite;
    const aiMaterial* material = scene.mMaterials[materialIndex];
    aiColor4D diffuse;
    if (material == nullptr || aiGetMaterialColor(material, AI_MATKEY_COLOR_DIFFUSE, &diffuse) != AI_SUCCESS)
        return kWhite;
    return {diffuse.r, diffuse.g, diffuse.b};
}

std::vector<OglMeshPart> buildParts(const aiScene& scene, const MeshFlags& flags) {
    std::vector<OglMeshPart> parts;
    if (!sceneHasMeshes(&scene)) return parts;
    parts.reserve(scene.mNumMeshes);
    const size_t stride = floatsPerVertex(flags);
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        const aiMesh* mesh = scene.mMeshes[m];
        if (!meshIsDrawable(mesh)) continue;
        if (size_t(mesh->mNumVertices) * stride > kMaxElements || size_t(mesh->mNumFaces) * 3 > kMaxElements)
            continue;

        OglBuffIndex indexBuffer;
        indexBuffer.indices.reserve(size_t(mesh->mNumFaces) * 3);
        if (appendTriangles(*mesh, indexBuffer.indices) == 0) continue;
        indexBuffer.layout.push_back({0, 1});

        OglBuffVertex vertexBuffer;
        vertexBuffer.layout.push_back({GL_FLOAT, 3, kPositionLocation});
        if (flags.hasNormals) vertexBuffer.layout.push_back({GL_FLOAT, 3, kNormalLocation});
        if (flags.hasColors) vertexBuffer.layout.push_back({GL_FLOAT, 3, kColorLocation});
        if (flags.hasTexCoords) vertexBuffer.layout.push_back({GL_FLOAT, 2, kTexCoordLocation});
        vertexBuffer.vertices.reserve(size_t(mesh->mNumVertices) * stride);
        appendVertices(*mesh, flags, vertexBuffer.vertices);

        parts.emplace_back(std::move(vertexBuffer), std::move(indexBuffer),
                           partColor(scene, mesh->mMaterialIndex, flags.hasMaterials));
        parts.back().vertexBuffer.fill();
        parts.back().indexBuffer.fill();
    }
    return parts;
}
