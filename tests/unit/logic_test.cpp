// What needs no display: camera, hand control, part building, shader text, mouse edges, fuzz corpus.
#include <assimp/cimport.h>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

#include "app/FrameTime.h"
#include "camera/HandControl.h"
#include "input/OisInput.h"
#include "render/OglLight.h"
#include "render/OglMesh.h"
#include "render/OglShader.h"
#include "support/FakeHands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
void expectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

LeapCam cameraAt(Vec3 position, float yaw, float pitch) {
    LeapCam cam;
    cam.position = position;
    cam.yaw = yaw;
    cam.pitch = pitch;
    cam.updateTarget();
    return cam;
}

Vec3 ahead(const LeapCam& cam, float distance) {
    return cam.position + normalize(cam.target - cam.position) * distance;
}

// Where `m` puts `p` on the screen, x and y from -1 to 1.
Vec3 project(const Mat4& m, Vec3 p) {
    float out[4];
    for (int r = 0; r < 4; ++r) out[r] = m.at(0, r) * p.x + m.at(1, r) * p.y + m.at(2, r) * p.z + m.at(3, r);
    return {out[0] / out[3], out[1] / out[3], out[2] / out[3]};
}

struct FrameTimeGuard {
    explicit FrameTimeGuard(double seconds) { frameTime = seconds; }
    ~FrameTimeGuard() { frameTime = 0.0; }
};

fake::HandSpec hand(int fingers, Leap::Vector palm = {0, 200, 100}, Leap::Vector normal = {0, -1, 0}) {
    fake::HandSpec spec{palm, normal, {}};
    for (int f = 0; f < fingers; ++f) spec.tips.push_back({10.0f * f, 250.0f, 20.0f - f});
    return spec;
}
}  // namespace

TEST(Camera, LooksAtItsTargetUprightUntilPastTheVerticalAndStaysFinite) {
    const struct {
        float pitch;
        bool upsideDown;
    } cases[] = {{-0.7853982f, false}, {1.5f, false}, {2.0f, true}, {-1.6f, true}, {-2.0f, true},
                 {8.2831855f, true},   {4.0f, true}, {6.7831855f, false}, {1.5707964f, false}, {-1.5707964f, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pitch);
        LeapCam cam = cameraAt({1, 2, 3}, 0.3f, c.pitch);
        const Mat4 m = cam.update();
        for (int i = 0; i < 16; ++i) ASSERT_TRUE(std::isfinite(m.m[i]) && std::isfinite(cam.mvpInverse.m[i]));
        const Mat4 identity = m * cam.mvpInverse;
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(identity.m[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-3f);
        const Vec3 centre = project(m, ahead(cam, 3.0f));
        EXPECT_NEAR(centre.x, 0, 1e-4f);
        EXPECT_NEAR(centre.y, 0, 1e-4f);
        if (std::fabs(std::cos(c.pitch)) > 0.1f) {  // world up shows above the centre, or below it
            EXPECT_EQ(project(m, ahead(cam, 3.0f) + Vec3{0, 0.5f, 0}).y < 0, c.upsideDown);
        }
        if (std::fabs(std::cos(c.pitch)) > 1e-6f) expectNear(cam.fingerPoint({0, 200, 0}), ahead(cam, 3.0f), 1e-4f);
    }
    LeapCam rolled = cameraAt({0, 0, 0}, 0, 0);
    rolled.roll = 90.0f;
    const Vec3 above = project(rolled.update(), {0, 1, 5});
    EXPECT_NEAR(above.y, 0, 1e-5f);
    EXPECT_GT(std::fabs(above.x), 0.1f);
}

TEST(HandControl, ReadersTakeTheFrontmostHandAndFinger) {
    const float s = 0.70710677f;
    const struct {
        Leap::Frame frame;
        Vec3 tip, palm, angles;
    } cases[] = {
        {Leap::Frame(), NoReading, NoReading, NoReading},
        {fake::makeFrame({}), NoReading, NoReading, NoReading},
        {fake::makeFrame({hand(0)}), NoReading, NoReading, NoReading},
        {fake::makeFrame({hand(2)}), {10, 250, 19}, NoReading, NoReading},
        {fake::makeFrame({hand(3, {5, 180, 60})}), {20, 250, 18}, {5, 180, 60}, {0, 0, 0}},
        {fake::makeFrame({hand(1, {0, 200, 50}), hand(4, {0, 200, -30})}), {30, 250, 17}, {0, 200, -30}, {0, 0, 0}},
        {fake::makeFrame({hand(5, {0, 200, 100}, {s, -s, 0})}), {40, 250, 16}, {0, 200, 100}, {0.7853982f, 0, 0}},
        {fake::makeFrame({hand(5, {0, 200, 100}, {0, -s, -s})}), {40, 250, 16}, {0, 200, 100}, {0, 0.7853982f, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        expectNear(readFingerTip(c.frame), c.tip);
        EXPECT_EQ(readHandOpen(c.frame), c.palm.x != kNoReadingValue);
        expectNear(readPalmPosition(c.frame), c.palm);
        expectNear(readPalmAngles(c.frame), c.angles, 1e-6f);
    }
}

TEST(HandControl, FingertipPlacesTheLightInTheView) {
    const struct {
        float yaw;
        Vec3 tip, light;
    } cases[] = {{0, {0, 200, 0}, {1, 2, 6}},   {0, {37, -80, 200}, {1, 2, 3}},          {0, {150, 200, 0}, {-2, 2, 6}},
                 {0, {0, 350, 0}, {1, 5, 6}},   {1.5707964f, {0, 200, 0}, {4, 2, 3}}, {0, {0, 125, 100}, {1, 1.25f, 4.5f}}};
    for (const auto& c : cases) expectNear(cameraAt({1, 2, 3}, c.yaw, 0).fingerPoint(c.tip), c.light);
}

TEST(HandControl, PalmFliesAlongTheViewAndTiltOrbitsThePointAhead) {
    const struct {
        float yaw, pitch;
        Vec3 palm, angles;
        float forward;
    } cases[] = {{0, 0, {0, 200, 0}, {0, 0, 0}, 3},         {0.3f, 2.0f, {0, 200, 0}, {0, 0, 0}, 3},
                 {0.3f, -2.0f, {0, 200, 0}, {0, 0, 0}, 3},  {-2.3561945f, -0.7853982f, {0, 200, 100}, {0.3f, 0, 0}, 0},
                 {-2.3561945f, -0.7853982f, {0, 200, 100}, {0, -0.1f, 0}, 0}, {0.3f, 2.0f, {0, 200, 100}, {0, 0.1f, 0}, 0},
                 {0.3f, -2.0f, {0, 200, 100}, {0, 0.1f, 0}, 0}, {0, 0, {0, 200, 200}, {0, 0, 0}, -3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        LeapCam cam = cameraAt({1, 2, 3}, c.yaw, c.pitch);
        const Vec3 pointAhead = ahead(cam, 2.0f + c.forward);
        FrameTimeGuard guard(0.5);
        cam.steer(c.palm, c.angles);
        cam.updateTarget();
        EXPECT_FLOAT_EQ(cam.yaw, c.yaw + c.angles.x * 2);
        EXPECT_FLOAT_EQ(cam.pitch, c.pitch + c.angles.y * 2);
        expectNear(ahead(cam, 2.0f), pointAhead, 1e-4f);
    }
    LeapCam cam;
    const LeapCam before = cam;
    cam.steer({40, 300, -50}, {0.5f, -0.3f, 0});  // no time has passed
    expectNear(cam.position, before.position, 0);
    EXPECT_EQ(cam.yaw, before.yaw);
    cam = cameraAt({1, 2, 3}, 0.7f, 1.5707964f);
    FrameTimeGuard guard(0.1);
    cam.steer({30, 250, 50}, {0.2f, 0.3f, 0});
    cam.updateTarget();
    EXPECT_TRUE(std::isfinite(cam.position.x + cam.position.y + cam.position.z + cam.target.x));
}

TEST(HandControl, OneOrTwoFingersPlaceTheLightThreeOrMoreFly) {
    LeapCam cam = cameraAt({1, 2, 3}, 0, 0);
    OglPointLight light;
    FrameTimeGuard guard(0.5);
    handStep(fake::makeFrame({hand(0)}), cam, light);
    EXPECT_EQ(light.position.x, 0.57);
    fake::HandSpec pointing = hand(2);
    pointing.tips = {{0, 200, 0}, {0, 200, 50}};
    handStep(fake::makeFrame({pointing}), cam, light);
    EXPECT_EQ(std::vector<double>({light.position.x, light.position.y, light.position.z}), std::vector<double>({1, 2, 6}));
    expectNear(cam.position, {1, 2, 3}, 0);
    handStep(fake::makeFrame({hand(3, {0, 200, 0})}), cam, light);
    expectNear(cam.position, {1, 2, 6});
    expectNear(cam.target, {1, 2, 7});
    EXPECT_EQ(light.position.z, 6.0);
    for (const auto& [from, to, seconds] : std::initializer_list<std::tuple<int64_t, int64_t, double>>{
             {0, 16666667, 0.016666667}, {1000000000, 3500000000, 2.5}, {int64_t(1) << 33, (int64_t(1) << 33) + 1000, 1e-6}})
        EXPECT_DOUBLE_EQ(wallToSeconds(from, to), seconds);
}

namespace {
struct MeshSpec {
    std::vector<std::vector<unsigned>> faces{{0, 1, 2}};
    bool normals = false, colors = false, texCoords = false;
    unsigned material = 0;
};

// Vertices (m + v, 10 v, -v) for mesh m; the scene's destructor frees all of it.
aiScene* makeScene(const std::vector<MeshSpec>& meshes, std::vector<const aiColor3D*> diffuse = {}) {
    auto* scene = new aiScene;
    scene->mNumMeshes = static_cast<unsigned>(meshes.size());
    scene->mMeshes = meshes.empty() ? nullptr : new aiMesh*[meshes.size()];
    for (unsigned m = 0; m < meshes.size(); ++m) {
        aiMesh* mesh = scene->mMeshes[m] = new aiMesh;
        mesh->mNumVertices = 3;
        mesh->mVertices = new aiVector3D[3];
        if (meshes[m].normals) mesh->mNormals = new aiVector3D[3];
        if (meshes[m].colors) mesh->mColors[0] = new aiColor4D[3];
        if (meshes[m].texCoords) mesh->mTextureCoords[0] = new aiVector3D[3];
        for (unsigned v = 0; v < 3; ++v) {
            mesh->mVertices[v] = aiVector3D(100.0f * m + v, 10.0f * v, -float(v));
            if (meshes[m].normals) mesh->mNormals[v] = aiVector3D(0, 1, 0);
            if (meshes[m].colors) mesh->mColors[0][v] = aiColor4D(0.25f, 0.5f, 0.75f, 0.1f);
            if (meshes[m].texCoords) mesh->mTextureCoords[0][v] = aiVector3D(0.5f, 0.25f, 9);
        }
        mesh->mNumFaces = static_cast<unsigned>(meshes[m].faces.size());
        mesh->mFaces = new aiFace[mesh->mNumFaces];
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            mesh->mFaces[f].mNumIndices = static_cast<unsigned>(meshes[m].faces[f].size());
            mesh->mFaces[f].mIndices = new unsigned[mesh->mFaces[f].mNumIndices];
            std::copy(meshes[m].faces[f].begin(), meshes[m].faces[f].end(), mesh->mFaces[f].mIndices);
        }
        mesh->mMaterialIndex = meshes[m].material;
    }
    scene->mNumMaterials = static_cast<unsigned>(diffuse.size());
    scene->mMaterials = diffuse.empty() ? nullptr : new aiMaterial*[diffuse.size()];
    for (unsigned m = 0; m < diffuse.size(); ++m) {
        scene->mMaterials[m] = new aiMaterial;
        const aiColor3D black(0, 0, 0);  // ambient first, as the OBJ importer stores it
        scene->mMaterials[m]->AddProperty(&black, 1, AI_MATKEY_COLOR_AMBIENT);
        if (diffuse[m]) scene->mMaterials[m]->AddProperty(diffuse[m], 1, AI_MATKEY_COLOR_DIFFUSE);
    }
    return scene;
}
}  // namespace

TEST(MeshParts, FirstMeshDecidesTheAttributesEachAtTheLocationOfItsMeaning) {
    MeshSpec full{{{0, 1, 2}}, true, true, true};
    MeshSpec textured{{{0, 1, 2}}, false, false, true};
    MeshSpec lines{{{0, 1}, {1, 2}}, false, true};
    const struct {
        std::vector<MeshSpec> meshes;
        std::vector<GLuint> locations;
        std::vector<float> lastPartFirstVertex;
    } cases[] = {
        {{MeshSpec{}}, {0}, {0, 0, 0}},
        {{full}, {0, 1, 2, 3}, {0, 0, 0, 0, 1, 0, 0.25f, 0.5f, 0.75f, 0.5f, 0.25f}},
        {{full, MeshSpec{}}, {0, 1, 2, 3}, {100, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0}},
        {{MeshSpec{}, full}, {0}, {100, 0, 0}},
        {{textured}, {0, 3}, {0, 0, 0, 0.5f, 0.25f}},
        {{lines, full}, {0, 2}, {100, 0, 0, 0.25f, 0.5f, 0.75f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const aiScene* scene = makeScene(c.meshes);
        const std::vector<OglMeshPart> parts = buildParts(*scene, decideFlags(*scene));
        ASSERT_FALSE(parts.empty());
        const OglBuffVertex& v = parts.back().vertexBuffer;
        std::vector<GLuint> locations;
        for (const AttribFormat& a : v.layout) locations.push_back(a.location);
        EXPECT_EQ(locations, c.locations);
        EXPECT_EQ(std::vector<float>(v.vertices.begin(), v.vertices.begin() + v.stride), c.lastPartFirstVertex);
        EXPECT_EQ(v.vertices.size(), 3 * c.lastPartFirstVertex.size());
        EXPECT_EQ(parts.back().indexBuffer.indices, (std::vector<uint32_t>{0, 1, 2}));
        delete scene;
    }
}

TEST(MeshParts, OnlyWholeTrianglesOfExistingVerticesAreDrawn) {
    const struct {
        MeshSpec mesh;
        std::vector<uint32_t> indices;
    } cases[] = {{{{{0}, {1}, {2}}}, {}},
                 {{{{0, 1, 2, 1}}}, {}},
                 {{{}}, {}},
                 {{{{0, 1, 3}, {2, 1, 0}, {4000000000u, 0, 1}, {0, 1}, {1, 2, 0}}}, {2, 1, 0, 1, 2, 0}}};
    for (const auto& c : cases) {
        const aiScene* scene = makeScene({c.mesh});
        const std::vector<OglMeshPart> parts = buildParts(*scene, decideFlags(*scene));
        EXPECT_EQ(parts.empty() ? std::vector<uint32_t>() : parts[0].indexBuffer.indices, c.indices);
        EXPECT_EQ(parts.empty() ? 6 : drawnIndexCount(parts[0].indexBuffer), 6);
        delete scene;
    }
    const aiScene* empty = makeScene({});
    EXPECT_TRUE(buildParts(*empty, decideFlags(*empty)).empty());
    delete empty;
    OglBuffIndex partial;
    partial.indices = {0, 1, 2, 3, 4, 5, 6};
    partial.fill();
    EXPECT_EQ(drawnIndexCount(partial), 6);
}

TEST(MeshParts, ColourIsTheMaterialsDiffuseOrWhite) {
    const aiColor3D red(0.8f, 0.1f, 0.2f);
    const aiScene* scene = makeScene({MeshSpec{}, {{{0, 1, 2}}, false, false, false, 1}, {{{0, 1, 2}}, false, false, false, 7}},
                                     {&red, nullptr});
    const std::vector<OglMeshPart> parts = buildParts(*scene, decideFlags(*scene));
    ASSERT_EQ(parts.size(), 3u);
    const float expected[3][3] = {{0.8f, 0.1f, 0.2f}, {1, 1, 1}, {1, 1, 1}};
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(std::vector<float>({parts[p].color.r, parts[p].color.g, parts[p].color.b}),
                  std::vector<float>(expected[p], expected[p] + 3));
    delete scene;
}

TEST(ShaderSource, LineFeedBeforeEveryLineCarriageReturnsAtLineEndsDropped) {
    const std::pair<const char*, const char*> cases[] = {
        {"A\nB\n", "\nA\nB"}, {"A\nB", "\nA\nB"}, {"A\r\nB\r\n", "\nA\nB"}, {"", ""},
        {"\n\n", "\n\n"},     {"a\rb\n", "\na\rb"}};
    for (const auto& [file, text] : cases) {
        std::istringstream in(file);
        EXPECT_EQ(assembleSource(in), text);
    }
    EXPECT_EQ(readSourceFile("tests\\unit\\missing.vsh"), "");
    EXPECT_EQ(readSourceFile("shaders\\simple\\ColoredPointL.vsh").substr(0, 14), "\n#version 330\n");
}

TEST(MouseEdges, PressAndReleaseOnceEachButtonByItsOwnBit) {
    const struct {
        int before, now;
        bool down[3], pressed[3], released[3];  // left, middle, right
    } cases[] = {{0, 1, {1, 0, 0}, {1, 0, 0}, {0, 0, 0}}, {1, 1, {1, 0, 0}, {0, 0, 0}, {0, 0, 0}},
                 {1, 2, {0, 0, 1}, {0, 0, 1}, {1, 0, 0}}, {4, 0, {0, 0, 0}, {0, 0, 0}, {0, 1, 0}},
                 {0, ~7, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}}};
    for (const auto& c : cases) {
        const MouseSnapshot s = nextSnapshot(nextSnapshot(MouseSnapshot{}, c.before, 3, 3), c.now, 7, -3);
        EXPECT_EQ(std::vector<bool>({s.leftDown, s.middleDown, s.rightDown, s.leftPressed, s.middlePressed,
                                     s.rightPressed, s.leftReleased, s.middleReleased, s.rightReleased}),
                  std::vector<bool>({c.down[0], c.down[1], c.down[2], c.pressed[0], c.pressed[1], c.pressed[2],
                                     c.released[0], c.released[1], c.released[2]}))
            << c.before << " -> " << c.now;
        EXPECT_EQ(std::make_pair(s.dx, s.dy), std::make_pair(7, -3));
    }
}

// The fuzz target aborts on parts the upload could not trust; every kept input must pass.
TEST(FuzzCorpus, EveryInputImportsIntoTrustworthyParts) {
    for (const auto& entry : std::filesystem::directory_iterator(HANDVIEW_SOURCE_DIR "/fuzz/corpus")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}
