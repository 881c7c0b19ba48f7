// Turns an imported scene into part data on the CPU.
#include "render/MeshParts.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_set>
#include <utility>

namespace {
constexpr PartColor kWhite{1.0f, 1.0f, 1.0f};
// byteSize is a signed 32-bit count of bytes.
constexpr size_t kMaxElements = std::numeric_limits<int32_t>::max() / 4;
// Bounds of obj/shapes.obj as scripts/make-scene writes it: the start pose sees all of it.
// As floats, like the file's own values, so that fitting that scene changes nothing.
constexpr float kSceneMin[3] = {-0.75f, -0.08f, -0.75f};
constexpr float kSceneMax[3] = {1.25f, 0.62f, 1.25f};
}  // namespace

OglMeshPart::OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices)
    : OglMeshPart(std::move(vertices), std::move(indices), kWhite) {}

OglMeshPart::OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices, PartColor partColor)
    : vertexBuffer(std::move(vertices)), indexBuffer(std::move(indices)), color(partColor) {}

namespace {
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

// The diffuse colour, looked up by key, else the base colour of physically based formats (glTF);
// anything without either draws white.
PartColor partColor(const aiScene& scene, unsigned materialIndex, bool hasMaterials) {
    if (!hasMaterials || materialIndex >= scene.mNumMaterials) return kWhite;
    const aiMaterial* material = scene.mMaterials[materialIndex];
    aiColor4D colour;
    if (material == nullptr || (aiGetMaterialColor(material, AI_MATKEY_COLOR_DIFFUSE, &colour) != AI_SUCCESS &&
                                aiGetMaterialColor(material, AI_MATKEY_BASE_COLOR, &colour) != AI_SUCCESS))
        return kWhite;
    return {colour.r, colour.g, colour.b};
}

namespace {
// One filled part for mesh m at the end of `parts`; false when the mesh gives no triangle.
bool appendPart(const aiScene& scene, unsigned m, const MeshFlags& flags, std::vector<OglMeshPart>& parts) {
    const aiMesh* mesh = scene.mMeshes[m];
    const size_t stride = floatsPerVertex(flags);
    if (!meshIsDrawable(mesh)) return false;
    if (size_t(mesh->mNumVertices) * stride > kMaxElements || size_t(mesh->mNumFaces) * 3 > kMaxElements)
        return false;

    OglBuffIndex indexBuffer;
    indexBuffer.indices.reserve(size_t(mesh->mNumFaces) * 3);
    if (appendTriangles(*mesh, indexBuffer.indices) == 0) return false;
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
    return true;
}

// Positions by the node's transform, normals by its inverse transpose (as the cofactor matrix,
// which a flattening scale of 0 leaves finite), and a mirroring transform turns the winding back
// so that back-face culling still removes the back.
void place(OglMeshPart& part, const aiMatrix4x4& m, bool hasNormals) {
    const aiVector3D r0(m.a1, m.a2, m.a3), r1(m.b1, m.b2, m.b3), r2(m.c1, m.c2, m.c3);
    const float det = r0 * (r1 ^ r2);
    const float sign = det < 0.0f ? -1.0f : 1.0f;
    const aiVector3D n0 = (r1 ^ r2) * sign, n1 = (r2 ^ r0) * sign, n2 = (r0 ^ r1) * sign;
    std::vector<float>& v = part.vertexBuffer.vertices;
    for (size_t i = 0; i + 3 <= v.size(); i += size_t(part.vertexBuffer.stride)) {
        const aiVector3D p = m * aiVector3D(v[i], v[i + 1], v[i + 2]);
        put(&v[i], p.x, p.y, p.z);
        if (!hasNormals) continue;
        const aiVector3D n(v[i + 3], v[i + 4], v[i + 5]);
        aiVector3D placed(n0 * n, n1 * n, n2 * n);
        if (placed.SquareLength() > 0.0f) placed.Normalize();
        put(&v[i + 3], placed.x, placed.y, placed.z);
    }
    if (det < 0.0f) {
        std::vector<uint32_t>& indices = part.indexBuffer.indices;
        for (size_t i = 0; i + 3 <= indices.size(); i += 3) std::swap(indices[i + 1], indices[i + 2]);
    }
}
}  // namespace

std::vector<OglMeshPart> buildParts(const aiScene& scene, const MeshFlags& flags) {
    std::vector<OglMeshPart> parts;
    if (!sceneHasMeshes(&scene)) return parts;
    parts.reserve(scene.mNumMeshes);
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) appendPart(scene, m, flags, parts);
    return parts;
}

// Walks the node tree with an explicit stack: a file may nest nodes deeper than the call stack goes.
// A node met twice (the tree would have a cycle) is passed over.
std::vector<OglMeshPart> buildPlacedParts(const aiScene& scene, const MeshFlags& flags) {
    if (scene.mRootNode == nullptr) return buildParts(scene, flags);
    std::vector<OglMeshPart> parts;
    if (!sceneHasMeshes(&scene)) return parts;
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending{{scene.mRootNode, aiMatrix4x4()}};
    std::unordered_set<const aiNode*> seen;
    while (!pending.empty()) {
        const auto [node, parent] = pending.back();
        pending.pop_back();
        if (!seen.insert(node).second) continue;
        const aiMatrix4x4 transform = parent * node->mTransformation;
        const bool moved = !(transform == aiMatrix4x4());  // exactly: an identity keeps the file's values
        for (unsigned i = 0; i < node->mNumMeshes; ++i)
            if (node->mMeshes[i] < scene.mNumMeshes && appendPart(scene, node->mMeshes[i], flags, parts) && moved)
                place(parts.back(), transform, flags.hasNormals);
        for (unsigned c = node->mNumChildren; c-- > 0;)
            if (node->mChildren[c] != nullptr) pending.emplace_back(node->mChildren[c], transform);
    }
    return parts;
}

// The largest uniform scale that keeps the model inside the default scene's box: a box of the
// same proportions fills it exactly, so the default scene itself stays where it is. Axes along
// which the model is flat do not limit it; a model that is a single point is only moved.
float fitToDefaultScene(std::vector<OglMeshPart>& parts) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double lo[3] = {kInf, kInf, kInf}, hi[3] = {-kInf, -kInf, -kInf};
    for (const OglMeshPart& part : parts) {
        const std::vector<float>& v = part.vertexBuffer.vertices;
        for (uint32_t index : part.indexBuffer.indices) {
            const float* p = &v[size_t(index) * part.vertexBuffer.stride];
            if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2])) continue;
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], double(p[a]));
                hi[a] = std::max(hi[a], double(p[a]));
            }
        }
    }
    if (lo[0] > hi[0]) return 1.0f;
    double scale = kInf;
    for (int a = 0; a < 3; ++a)
        if (hi[a] > lo[a]) scale = std::min(scale, (double(kSceneMax[a]) - kSceneMin[a]) / (hi[a] - lo[a]));
    if (scale == kInf) scale = 1.0;
    for (OglMeshPart& part : parts) {
        std::vector<float>& v = part.vertexBuffer.vertices;
        const size_t stride = size_t(std::max(part.vertexBuffer.stride, 3));
        for (size_t i = 0; i + 3 <= v.size(); i += stride)
            for (int a = 0; a < 3; ++a)
                v[i + a] = float((v[i + a] - (lo[a] + hi[a]) / 2) * scale + (double(kSceneMin[a]) + kSceneMax[a]) / 2);
    }
    return float(scale);
}
