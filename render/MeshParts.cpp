// Turns an imported scene into part data on the CPU.
#include "render/MeshParts.h"

#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <unordered_set>
#include <utility>

#include "render/ModelImages.h"

namespace {
constexpr PartColor kWhite{1.0f, 1.0f, 1.0f};
// byteSize is a signed 32-bit count of bytes.
constexpr size_t kMaxElements = std::numeric_limits<int32_t>::max() / 4;
// Bounds of obj/shapes.obj as scripts/make-scene writes it: a user's model takes its distance.
constexpr float kSceneMin[3] = {-0.75f, -0.08f, -0.75f};
constexpr float kSceneMax[3] = {1.25f, 0.62f, 1.25f};
// Of the view's height or width, in normalised device units (the whole view spans 2).
constexpr double kFramedHalfExtent = 0.5;
// From the framed model's centre, in its bounding radii: up, towards the eye, to the right.
constexpr float kLightUp = 1.0f, kLightTowardsEye = 0.8f, kLightRight = 0.4f, kLightRadii = 2.0f;
const aiVector3D kWorldUp(0.0f, 1.0f, 0.0f);
constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;
}  // namespace

OglMeshPart::OglMeshPart(OglBuffVertex vertices, OglBuffIndex indices, PartColor partColor)
    : vertexBuffer(std::move(vertices)), indexBuffer(std::move(indices)), color(partColor) {}

bool carries(const OglMeshPart& part, AttribLocation location) {
    for (const AttribFormat& attribute : part.vertexBuffer.layout)
        if (attribute.location == location) return true;
    return false;
}

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

// Keeps the faces of `corners` indices (3: triangles, 2: lines, 1: points) whose indices all name
// a vertex of this mesh; an index past the end would make the GPU read outside the vertex buffer.
unsigned appendPrimitives(const aiMesh& mesh, unsigned corners, std::vector<uint32_t>& out) {
    unsigned kept = 0;
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices != corners || face.mIndices == nullptr) continue;
        const unsigned* idx = face.mIndices;
        if (std::any_of(idx, idx + corners, [&](unsigned i) { return i >= mesh.mNumVertices; })) continue;
        out.insert(out.end(), idx, idx + corners);
        ++kept;
    }
    return kept;
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
    if (material == nullptr ||
        (aiGetMaterialColor(material, AI_MATKEY_COLOR_DIFFUSE, &colour) != AI_SUCCESS &&
         aiGetMaterialColor(material, AI_MATKEY_BASE_COLOR, &colour) != AI_SUCCESS))
        return kWhite;
    return {colour.r, colour.g, colour.b};
}

namespace {
// One filled part for mesh m at the end of `parts`, of its primitives of `corners` indices; false
// when the mesh has none.
bool appendPart(const aiScene& scene, unsigned m, const MeshFlags& flags, unsigned corners,
                std::vector<OglMeshPart>& parts) {
    const aiMesh* mesh = scene.mMeshes[m];
    const size_t stride = floatsPerVertex(flags);
    if (!meshIsDrawable(mesh)) return false;
    if (size_t(mesh->mNumVertices) * stride > kMaxElements || size_t(mesh->mNumFaces) * 3 > kMaxElements)
        return false;

    OglBuffIndex indexBuffer;
    indexBuffer.indices.reserve(size_t(mesh->mNumFaces) * 3);
    if (appendPrimitives(*mesh, corners, indexBuffer.indices) == 0) return false;
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
    parts.back().material = mesh->mMaterialIndex;
    parts.back().vertexBuffer.fill();
    parts.back().indexBuffer.fill(int32_t(corners));
    return true;
}

// The material's texture transform (scaled, turned about the image's centre, moved), and v
// counted from the image's top row, which is uploaded first.
void mapTexCoords(OglMeshPart& part, const aiUVTransform& transform) {
    const float c = std::cos(transform.mRotation), s = std::sin(transform.mRotation);
    std::vector<float>& v = part.vertexBuffer.vertices;
    const size_t stride = size_t(part.vertexBuffer.stride);
    for (size_t i = stride - 2; i + 2 <= v.size(); i += stride) {
        const float x = v[i] * transform.mScaling.x - 0.5f, y = v[i + 1] * transform.mScaling.y - 0.5f;
        v[i] = c * x - s * y + 0.5f + transform.mTranslation.x;
        v[i + 1] = 1.0f - (s * x + c * y + 0.5f + transform.mTranslation.y);
    }
}

// Positions by the node's transform, normals by its inverse transpose (as the cofactor matrix,
// which a flattening scale of 0 leaves finite), and a mirroring transform turns the winding back
// so that the outside still faces out.
void place(OglMeshPart& part, const aiMatrix4x4& m) {
    const bool hasNormals = carries(part, kNormalLocation);
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
    if (det < 0.0f && part.indexBuffer.elementsPerPrimitive == 3) {
        std::vector<uint32_t>& indices = part.indexBuffer.indices;
        for (size_t i = 0; i + 3 <= indices.size(); i += 3) std::swap(indices[i + 1], indices[i + 2]);
    }
}
}  // namespace

std::vector<OglMeshPart> buildParts(const aiScene& scene, const MeshFlags& flags) {
    std::vector<OglMeshPart> parts;
    if (!sceneHasMeshes(&scene)) return parts;
    parts.reserve(scene.mNumMeshes);
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) appendPart(scene, m, flags, 3, parts);
    return parts;
}

namespace {
// A mesh's own attributes; its triangles, else its lines, else its points (the importer sorts
// them into meshes of one kind).
bool appendModelPart(const aiScene& scene, unsigned m, std::vector<OglMeshPart>& parts) {
    const aiMesh* mesh = scene.mMeshes[m];
    if (!meshIsDrawable(mesh)) return false;
    MeshFlags flags;
    flags.hasNormals = mesh->mNormals != nullptr;
    flags.hasColors = mesh->mColors[0] != nullptr;
    flags.hasTexCoords = mesh->mTextureCoords[0] != nullptr;
    flags.hasMaterials = scene.mMaterials != nullptr && scene.mNumMaterials > 0;
    if (!appendPart(scene, m, flags, 3, parts) && !appendPart(scene, m, flags, 2, parts) &&
        !appendPart(scene, m, flags, 1, parts))
        return false;
    const MaterialImage image = materialImage(scene, mesh->mMaterialIndex);
    if (flags.hasTexCoords && !image.written.empty()) mapTexCoords(parts.back(), image.transform);
    return true;
}
}  // namespace

// Walks the node tree with an explicit stack: a file may nest nodes deeper than the call stack goes.
// A node met twice (the tree would have a cycle) is passed over.
std::vector<OglMeshPart> buildPlacedParts(const aiScene& scene, const aiMatrix4x4& root) {
    std::vector<OglMeshPart> parts;
    if (!sceneHasMeshes(&scene)) return parts;
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending;
    if (scene.mRootNode != nullptr) {
        pending.emplace_back(scene.mRootNode, root);
    } else {  // no nodes: every mesh once, where it is
        for (unsigned m = 0; m < scene.mNumMeshes; ++m)
            if (appendModelPart(scene, m, parts) && !root.IsIdentity()) place(parts.back(), root);
    }
    std::unordered_set<const aiNode*> seen;
    while (!pending.empty()) {
        const auto [node, parent] = pending.back();
        pending.pop_back();
        if (!seen.insert(node).second) continue;
        const aiMatrix4x4 transform = parent * node->mTransformation;
        const bool moved = !(transform == aiMatrix4x4());  // exactly: an identity keeps the file's values
        for (unsigned i = 0; i < node->mNumMeshes; ++i)
            if (node->mMeshes[i] < scene.mNumMeshes && appendModelPart(scene, node->mMeshes[i], parts) &&
                moved)
                place(parts.back(), transform);
        for (unsigned c = node->mNumChildren; c-- > 0;)
            if (node->mChildren[c] != nullptr) pending.emplace_back(node->mChildren[c], transform);
    }
    return parts;
}

bool parseModelUp(const char* text, ModelUp& up) {
    if (std::strcmp(text, "+y") == 0) return up = ModelUp::PlusY, true;
    if (std::strcmp(text, "+z") == 0) return up = ModelUp::PlusZ, true;
    return false;
}

// Blender keeps its Z up; an FBX says which axis is up (0, 1, 2 for x, y, z) and its sign.
aiMatrix4x4 upTurn(const aiScene& scene, ModelUp up) {
    int axis = 1, sign = 1;
    aiString format;
    if (up == ModelUp::PlusZ) {
        axis = 2;
    } else if (up == ModelUp::Declared && scene.mMetaData != nullptr) {
        if (scene.mMetaData->Get("SourceAsset_Format", format) &&
            std::strncmp(format.C_Str(), "Blender", 7) == 0)
            axis = 2;
        int32_t declared = 0;
        if (scene.mMetaData->Get("UpAxis", declared) && declared >= 0 && declared <= 2) axis = declared;
        if (scene.mMetaData->Get("UpAxisSign", declared) && declared == -1) sign = -1;
    }
    const float s = float(sign);
    switch (axis) {  // rows: where x, y and z go; a turn, so normals turn alike
        case 0:
            return aiMatrix4x4(0, -s, 0, 0, s, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
        case 2:
            return aiMatrix4x4(1, 0, 0, 0, 0, 0, s, 0, 0, -s, 0, 0, 0, 0, 0, 1);
        default:
            return aiMatrix4x4(1, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, 0, 0, 0, 1);
    }
}

namespace {
// The parts' drawn, finite vertices, once each.
std::vector<aiVector3D> drawnPoints(const std::vector<OglMeshPart>& parts) {
    std::vector<aiVector3D> points;
    for (const OglMeshPart& part : parts) {
        std::vector<bool> used(part.vertexBuffer.vertices.size() /
                               size_t(std::max(part.vertexBuffer.stride, 3)));
        for (uint32_t index : part.indexBuffer.indices) used[index] = true;
        for (size_t i = 0; i < used.size(); ++i) {
            const float* p = &part.vertexBuffer.vertices[i * size_t(part.vertexBuffer.stride)];
            if (used[i] && std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]))
                points.emplace_back(p[0], p[1], p[2]);
        }
    }
    return points;
}

// The framing of points given across and along the view from the model's middle: the largest
// scale that keeps each within the framed extent once the middle is moved `offset` across the
// view at `distance`. A point at x across and z along projects to (offset + x·s) / (distance + z·s)
// over the lens, linear in s after multiplying out; none comes nearer the eye than half the distance.
double largestScale(const std::vector<aiVector3D>& points, const double lens[2], const double offset[2],
                    double distance) {
    double scale = std::numeric_limits<double>::infinity();
    for (const aiVector3D& p : points) {
        for (int a = 0; a < 2; ++a) {
            const double limit = kFramedHalfExtent * lens[a], across = p[a];
            for (const double side : {1.0, -1.0}) {
                const double slope = side * across - limit * p.z, room = limit * distance - side * offset[a];
                if (slope > 0) scale = std::min(scale, room / slope);
            }
        }
        if (p.z < 0) scale = std::min(scale, distance / 2 / -p.z);
    }
    return scale;
}
}  // namespace

// The scale binds the extent; the offset centres the picture, which perspective takes off the
// model's middle: a few rounds of both settle within a pixel.
ModelFrame frameInView(std::vector<OglMeshPart>& parts, const ModelView& view) {
    constexpr int kRounds = 5;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    std::vector<aiVector3D> points = drawnPoints(parts);
    aiVector3D lo = points.empty() ? aiVector3D() : points[0], hi = lo;
    for (const aiVector3D& p : points) {
        lo = aiVector3D(std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z));
        hi = aiVector3D(std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z));
    }
    const aiVector3D middle = (lo + hi) * 0.5f, forward = aiVector3D(view.forward).Normalize();
    const aiVector3D right = (forward ^ kWorldUp).Normalize(), up = right ^ forward;
    for (aiVector3D& p : points)
        p = aiVector3D((p - middle) * right, (p - middle) * up, (p - middle) * forward);
    const aiVector3D sceneCentre((kSceneMin[0] + kSceneMax[0]) / 2, (kSceneMin[1] + kSceneMax[1]) / 2,
                                 (kSceneMin[2] + kSceneMax[2]) / 2);
    const double distance = (sceneCentre - view.eye).Length();
    const double tanHalfFov = std::tan(double(view.fovDegrees) / 2 * kRadiansPerDegree);
    const double lens[2] = {tanHalfFov * view.aspect,
                            tanHalfFov};  // half the view's width and height at depth 1
    double offset[2] = {0, 0}, scale = kInf;
    for (int round = 0; round < kRounds; ++round) {
        scale = largestScale(points, lens, offset, distance);
        if (scale == kInf || round == kRounds - 1) break;        // a point is only moved
        double low[2] = {kInf, kInf}, high[2] = {-kInf, -kInf};  // the picture's, over the lens
        for (const aiVector3D& p : points)
            for (int a = 0; a < 2; ++a) {
                const double at = (offset[a] + p[a] * scale) / (distance + p.z * scale);
                std::tie(low[a], high[a]) = std::make_pair(std::min(low[a], at), std::max(high[a], at));
            }
        for (int a = 0; a < 2; ++a) offset[a] -= (low[a] + high[a]) / 2 * distance;
    }
    ModelFrame frame;
    frame.scale = scale == kInf ? 1.0f : float(scale);
    const aiVector3D centre =
        view.eye + forward * float(distance) + right * float(offset[0]) + up * float(offset[1]);
    for (OglMeshPart& part : parts) {
        std::vector<float>& v = part.vertexBuffer.vertices;
        const size_t stride = size_t(std::max(part.vertexBuffer.stride, 3));
        for (size_t i = 0; i + 3 <= v.size(); i += stride)
            for (int a = 0; a < 3; ++a)
                v[i + a] = float((v[i + a] - double(middle[a])) * frame.scale + centre[a]);
    }
    const float radius = hi != lo ? (hi - lo).Length() / 2 * frame.scale : 0.5f;
    const aiVector3D towardsEye = aiVector3D(-forward.x, 0, -forward.z).NormalizeSafe();
    frame.light =
        centre + (kWorldUp * kLightUp + towardsEye * kLightTowardsEye + right * kLightRight).Normalize() *
                     (radius * kLightRadii);
    return frame;
}
