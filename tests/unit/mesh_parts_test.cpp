// Part building from scenes made in memory: attribute flags, skipped meshes, indices, colours.
#include <gtest/gtest.h>

#include <assimp/material.h>
#include <assimp/scene.h>

#include <memory>
#include <vector>

#include "render/OglMesh.h"

namespace {
struct MeshSpec {
    unsigned vertices = 3;
    bool normals = false;
    bool colors = false;
    bool texCoords = false;
    std::vector<std::vector<unsigned>> faces{{0, 1, 2}};
    unsigned material = 0;
};

// The scene's destructor frees everything allocated here.
aiMesh* makeMesh(const MeshSpec& shape, float base) {
    auto* mesh = new aiMesh;
    mesh->mNumVertices = shape.vertices;
    mesh->mVertices = new aiVector3D[shape.vertices];
    for (unsigned v = 0; v < shape.vertices; ++v)
        mesh->mVertices[v] = aiVector3D(base + v, base + 10 * v, -float(v));
    if (shape.normals) {
        mesh->mNormals = new aiVector3D[shape.vertices];
        for (unsigned v = 0; v < shape.vertices; ++v) mesh->mNormals[v] = aiVector3D(0, 1, 0);
    }
    if (shape.colors) {
        mesh->mColors[0] = new aiColor4D[shape.vertices];
        for (unsigned v = 0; v < shape.vertices; ++v)
            mesh->mColors[0][v] = aiColor4D(0.25f, 0.5f, 0.75f, 0.1f);
    }
    if (shape.texCoords) {
        mesh->mTextureCoords[0] = new aiVector3D[shape.vertices];
        mesh->mNumUVComponents[0] = 2;
        for (unsigned v = 0; v < shape.vertices; ++v)
            mesh->mTextureCoords[0][v] = aiVector3D(0.5f, 0.25f, 9.0f);
    }
    mesh->mNumFaces = static_cast<unsigned>(shape.faces.size());
    mesh->mFaces = shape.faces.empty() ? nullptr : new aiFace[shape.faces.size()];
    for (size_t f = 0; f < shape.faces.size(); ++f) {
        aiFace& face = mesh->mFaces[f];
        face.mNumIndices = static_cast<unsigned>(shape.faces[f].size());
        face.mIndices = new unsigned[face.mNumIndices];
        for (unsigned i = 0; i < face.mNumIndices; ++i) face.mIndices[i] = shape.faces[f][i];
    }
    mesh->mMaterialIndex = shape.material;
    return mesh;
}

aiMaterial* makeMaterial(const aiColor3D* diffuse) {
    auto* material = new aiMaterial;
    const aiColor3D ambient(0, 0, 0);
    // Ambient first, as the OBJ importer stores it: the colour must be found by key, not position.
    material->AddProperty(&ambient, 1, AI_MATKEY_COLOR_AMBIENT);
    if (diffuse) material->AddProperty(diffuse, 1, AI_MATKEY_COLOR_DIFFUSE);
    return material;
}

std::unique_ptr<aiScene> makeScene(const std::vector<MeshSpec>& meshes,
                                   std::vector<aiMaterial*> materials = {}) {
    auto scene = std::make_unique<aiScene>();
    scene->mNumMeshes = static_cast<unsigned>(meshes.size());
    scene->mMeshes = meshes.empty() ? nullptr : new aiMesh*[meshes.size()];
    for (size_t m = 0; m < meshes.size(); ++m) scene->mMeshes[m] = makeMesh(meshes[m], 100.0f * m);
    scene->mNumMaterials = static_cast<unsigned>(materials.size());
    scene->mMaterials = materials.empty() ? nullptr : new aiMaterial*[materials.size()];
    for (size_t m = 0; m < materials.size(); ++m) scene->mMaterials[m] = materials[m];
    return scene;
}

std::vector<OglMeshPart> build(const aiScene& scene) {
    return buildParts(scene, decideFlags(scene));
}

std::vector<GLint> components(const OglBuffVertex& buffer) {
    std::vector<GLint> out;
    for (const AttribFormat& a : buffer.layout) out.push_back(a.components);
    return out;
}
}  // namespace

TEST(MeshPartsTest, PositionsAndIndicesPassThroughUnchanged) {
    MeshSpec quad;
    quad.vertices = 4;
    quad.faces = {{0, 1, 2}, {2, 1, 3}};
    const auto scene = makeScene({quad});
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 1u);
    const OglBuffVertex& v = parts[0].vertexBuffer;
    EXPECT_EQ(components(v), (std::vector<GLint>{3}));
    EXPECT_EQ(v.layout[0].type, static_cast<GLenum>(GL_FLOAT));
    EXPECT_EQ(v.stride, 3);
    EXPECT_EQ(v.count, 12);
    EXPECT_EQ(v.byteSize, 48);
    EXPECT_EQ(v.data, v.vertices.data());
    EXPECT_EQ(v.vertices[9], 3.0f);
    EXPECT_EQ(v.vertices[10], 30.0f);
    EXPECT_EQ(v.vertices[11], -3.0f);
    const OglBuffIndex& i = parts[0].indexBuffer;
    EXPECT_EQ(i.indices, (std::vector<uint32_t>{0, 1, 2, 2, 1, 3}));
    EXPECT_EQ(i.stride, 1);
    EXPECT_EQ(i.elementsPerPrimitive, 3);
    EXPECT_EQ(i.elementSize, 4);
    EXPECT_EQ(static_cast<GLenum>(i.bindTarget), static_cast<GLenum>(GL_ELEMENT_ARRAY_BUFFER));
}

TEST(MeshPartsTest, FirstMeshDecidesTheAttributesOfEveryPart) {
    MeshSpec full;
    full.normals = full.colors = full.texCoords = true;
    MeshSpec bare;
    const auto scene = makeScene({full, bare});
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(components(parts[1].vertexBuffer), (std::vector<GLint>{3, 3, 3, 2}));
    EXPECT_EQ(parts[1].vertexBuffer.stride, 11);
    // The later mesh lacks them all: normal zeros, colour white, texture coordinate zeros.
    const std::vector<float> first(parts[1].vertexBuffer.vertices.begin(),
                                   parts[1].vertexBuffer.vertices.begin() + 11);
    EXPECT_EQ(first, (std::vector<float>{100, 100, 0, 0, 0, 0, 1, 1, 1, 0, 0}));
    // The first mesh's own values: alpha and the third texture component dropped.
    const std::vector<float> own(parts[0].vertexBuffer.vertices.begin(),
                                 parts[0].vertexBuffer.vertices.begin() + 11);
    EXPECT_EQ(own, (std::vector<float>{0, 0, 0, 0, 1, 0, 0.25f, 0.5f, 0.75f, 0.5f, 0.25f}));

    // The other way round: attributes the first mesh lacks are dropped from later parts.
    const auto reversed = makeScene({bare, full});
    const auto reversedParts = build(*reversed);
    EXPECT_EQ(components(reversedParts[1].vertexBuffer), (std::vector<GLint>{3}));
    EXPECT_EQ(reversedParts[1].vertexBuffer.vertices.size(), 9u);
}

TEST(MeshPartsTest, LineOnlyFirstMeshStillDecidesAndYieldsNoPart) {
    MeshSpec lines;
    lines.faces = {{0, 1}, {1, 2}};
    MeshSpec lit;
    lit.normals = true;
    const auto scene = makeScene({lines, lit});
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(components(parts[0].vertexBuffer), (std::vector<GLint>{3}));
}

TEST(MeshPartsTest, MeshesWithoutTrianglesAreSkipped) {
    MeshSpec points;
    points.faces = {{0}, {1}, {2}};
    MeshSpec quadOnly;
    quadOnly.vertices = 4;
    quadOnly.faces = {{0, 1, 2, 3}};
    MeshSpec noFaces;
    noFaces.faces = {};
    MeshSpec triangle;
    const auto scene = makeScene({points, quadOnly, noFaces, triangle});
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].vertexBuffer.vertices[0], 300.0f);  // the fourth mesh
}

TEST(MeshPartsTest, IndicesStayLocalToTheirPart) {
    const auto scene = makeScene({MeshSpec{}, MeshSpec{}});
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].indexBuffer.indices, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(parts[1].vertexBuffer.vertices[0], 100.0f);
}

TEST(MeshPartsTest, TrianglesNamingMissingVerticesAreDropped) {
    MeshSpec hostile;
    hostile.faces = {{0, 1, 3}, {0, 1, 2}, {4000000000u, 0, 1}};
    const auto scene = makeScene({hostile});
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].indexBuffer.indices, (std::vector<uint32_t>{0, 1, 2}));
    MeshSpec allBad;
    allBad.faces = {{0, 1, 3}};
    EXPECT_TRUE(build(*makeScene({allBad})).empty());
}

TEST(MeshPartsTest, ColourIsTheDiffuseColourFoundByKey) {
    const aiColor3D red(0.8f, 0.1f, 0.2f);
    MeshSpec first;
    MeshSpec second;
    second.material = 1;
    MeshSpec outOfRange;
    outOfRange.material = 7;
    const auto scene = makeScene({first, second, outOfRange}, {makeMaterial(&red), makeMaterial(nullptr)});
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].color.r, 0.8f);
    EXPECT_EQ(parts[0].color.g, 0.1f);
    EXPECT_EQ(parts[0].color.b, 0.2f);
    for (size_t p = 1; p < 3; ++p) {
        EXPECT_EQ(parts[p].color.r, 1.0f) << p;
        EXPECT_EQ(parts[p].color.g, 1.0f) << p;
        EXPECT_EQ(parts[p].color.b, 1.0f) << p;
    }
}

TEST(MeshPartsTest, NoMaterialsDrawsWhite) {
    const auto scene = makeScene({MeshSpec{}});
    EXPECT_FALSE(decideFlags(*scene).hasMaterials);
    const auto parts = build(*scene);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].color.r, 1.0f);
    EXPECT_EQ(parts[0].color.b, 1.0f);
}

TEST(MeshPartsTest, SceneWithoutMeshesGivesNoParts) {
    const auto scene = makeScene({});
    EXPECT_FALSE(sceneHasMeshes(scene.get()));
    EXPECT_FALSE(sceneHasMeshes(nullptr));
    EXPECT_TRUE(build(*scene).empty());
    const MeshFlags flags = decideFlags(*scene);
    EXPECT_FALSE(flags.hasNormals || flags.hasColors || flags.hasTexCoords || flags.hasMaterials);
}

TEST(MeshPartsTest, CopiedPartKeepsItsArraysAndNeverPointsIntoTheOriginal) {
    const auto scene = makeScene({MeshSpec{}});
    auto parts = build(*scene);
    parts[0].vertexBuffer.bufferId = 42;
    OglMeshPart copy = parts[0];
    parts.clear();
    EXPECT_EQ(copy.vertexBuffer.bufferId, 42u);
    EXPECT_EQ(copy.vertexBuffer.vertices.size(), 9u);
    EXPECT_EQ(copy.vertexBuffer.data, nullptr);
}
