// What needs no display: command lines, camera, hand control, part building, framing, images, shader
// text, fuzz corpus.
#include <assimp/cimport.h>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <tuple>

#include "app/App.h"
#include "app/FrameTime.h"
#include "app/Options.h"
#include "camera/HandControl.h"
#include "input/OisInput.h"
#include "render/OglLight.h"
#include "render/MeshParts.h"
#include "render/ModelImages.h"
#include "render/OglMesh.h"
#include "render/OglShader.h"
#include "tests/support/FakeHands.h"
#include "webcam/Options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
std::string fileBytes(const std::filesystem::path& path) {
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void expectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-5f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

LeapCam cameraAt(Vec3 position, float yaw, float pitch) {
    LeapCam cam;
    std::tie(cam.position, cam.yaw, cam.pitch) = std::tie(position, yaw, pitch);
    cam.updateTarget();
    return cam;
}

Vec3 ahead(const LeapCam& cam, float distance) {
    return cam.position + normalize(cam.target - cam.position) * distance;
}

fake::HandSpec hand(int fingers, Leap::Vector palm = {0, 200, 100}, Leap::Vector normal = {0, -1, 0}) {
    fake::HandSpec made{palm, normal, {}};
    for (int f = 0; f < fingers; ++f) made.tips.push_back({10.0f * f, 250.0f, 20.0f - f});
    return made;
}
}  // namespace

// Both programs' command lines: handview's read back as MODEL WxH help version (0 or 1), or its usage
// error; handview-camera's usage errors (the end-to-end cases run it with good options of every kind).
TEST(CommandLine, BothProgramsTakeOneSyntaxAndNameTheOptionOnMisuse) {
    const std::pair<std::string, std::string> lines[] = {
        {"handview --windowed=800x600 m.obj", "m.obj 800x600 00"},
        {"handview m.obj --wind -V", "m.obj 1280x720 01"},  // options after operands, a unique prefix
        {"handview -h -- -odd.obj", "-odd.obj 0x0 10"},     // -- ends the options
        {"handview --windowed=0x5",
         "--windowed=0x5 is not a size such as 1280x720 (1 to 16384 pixels a side)"},
        {"handview --up=-z", "--up takes +y or +z, not -z"},
        {"handview --hud=maybe", "--hud takes on or off, not maybe"},
        {"handview a.obj b.obj", "one model at most, not 2"},
        {"handview -hx", "unknown option -x"},
        {"handview --help=me", "--help takes no value"},
        {"handview --\x1b[2J=1", R"(unknown option --\x1B[2J)"},  // shown as it cannot harm the terminal
        {"handview-camera --port=65536", "--port takes a number from 0 to 65535, not 65536"},
        {"handview-camera --camera 1 --video f", "--camera and --video exclude each other"},
        {"handview-camera --landmarks huge", "--landmarks takes lite or full, not huge"},
        {"handview-camera --p 1", "ambiguous option --p"},
        {"handview-camera extra", "no arguments but options, not extra"}};
    for (const auto& [line, read] : lines) {
        std::istringstream split(line);
        std::vector<std::string> words{std::istream_iterator<std::string>(split), {}};
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        std::ostringstream shown;
        if (words[0] == "handview-camera") {
            shown << webcam::parseOptions(int(argv.size()), argv.data()).error;
        } else if (const Options o = parseOptions(int(argv.size()), argv.data()); !o.error.empty()) {
            shown << o.error;
        } else {
            shown << (o.model ? o.model : "-") << ' ' << o.windowWidth << 'x' << o.windowHeight << ' '
                  << o.help << o.version;
        }
        EXPECT_EQ(shown.str(), read) << line;
    }
}

TEST(Camera, LooksAtItsTargetUprightUntilPastTheVerticalAndStaysFinite) {
    const struct {
        float pitch;
        bool upsideDown;
    } cases[] = {{-0.7853982f, false}, {1.5f, false},       {2.0f, true}, {-1.6f, true},
                 {-2.0f, true},        {8.2831855f, true},  {4.0f, true}, {6.7831855f, false},
                 {1.5707964f, false},  {-1.5707964f, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pitch);
        LeapCam cam = cameraAt({1, 2, 3}, 0.3f, c.pitch);
        const Mat4 m = cam.update();
        const Mat4 identity = m * cam.mvpInverse;  // NaN would fail here too
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(identity.m[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-3f);
        const Vec3 centre = project(m, ahead(cam, 3.0f));
        EXPECT_NEAR(std::hypot(centre.x, centre.y), 0, 1e-4f);
        // World up shows above the centre, or below it.
        EXPECT_TRUE(std::fabs(std::cos(c.pitch)) < 0.1f ||
                    (project(m, ahead(cam, 3.0f) + Vec3{0, 0.5f, 0}).y < 0) == c.upsideDown);
        if (std::fabs(std::cos(c.pitch)) > 1e-6f)
            expectNear(cam.fingerPoint({0, 200, 0}), ahead(cam, 3.0f), 1e-4f);
    }
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
        {fake::makeFrame({hand(1, {0, 200, 50}), hand(4, {0, 200, -30})}),
         {30, 250, 17},
         {0, 200, -30},
         {0, 0, 0}},
        {fake::makeFrame({hand(5, {0, 200, 100}, {s, -s, 0})}),
         {40, 250, 16},
         {0, 200, 100},
         {0.7853982f, 0, 0}},
        {fake::makeFrame({hand(5, {0, 200, 100}, {0, -s, -s})}),
         {40, 250, 16},
         {0, 200, 100},
         {0, 0.7853982f, 0}},
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
    } cases[] = {{0, {0, 200, 0}, {1, 2, 6}},          {0, {37, -80, 200}, {1, 2, 3}},
                 {0, {150, 200, 0}, {-2, 2, 6}},       {0, {0, 350, 0}, {1, 5, 6}},
                 {1.5707964f, {0, 200, 0}, {4, 2, 3}}, {0, {0, 125, 100}, {1, 1.25f, 4.5f}}};
    for (const auto& c : cases) expectNear(cameraAt({1, 2, 3}, c.yaw, 0).fingerPoint(c.tip), c.light);
}

TEST(HandControl, PalmFliesAlongTheViewAndTiltOrbitsThePointAhead) {
    const struct {
        float yaw, pitch;
        Vec3 palm, angles;
        double seconds;
        float forward;  // units flown along the view
    } cases[] = {{0, 0, {0, 200, 0}, {0, 0, 0}, 0.5, 3},
                 {0.3f, 2.0f, {0, 200, 0}, {0, 0, 0}, 0.5, 3},
                 {0.3f, -2.0f, {0, 200, 0}, {0, 0, 0}, 0.5, 3},
                 {0, 0, {0, 200, 200}, {0, 0, 0}, 0.5, -3},
                 {-2.3561945f, -0.7853982f, {0, 200, 100}, {0.3f, 0, 0}, 0.25, 0},
                 {-2.3561945f, -0.7853982f, {0, 200, 100}, {0, -0.1f, 0}, 0.25, 0},
                 {0.3f, 2.0f, {0, 200, 100}, {0, 0.1f, 0}, 0.5, 0},
                 {0.3f, -2.0f, {0, 200, 100}, {0, 0.1f, 0}, 0.5, 0},
                 {0.7f, 1.5707964f, {0, 200, 100}, {0, 0.3f, 0}, 0.1, 0},
                 {0.7f, 0.3f, {40, 300, -50}, {0.5f, -0.3f, 0}, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        LeapCam cam = cameraAt({1, 2, 3}, c.yaw, c.pitch);
        const Vec3 pointAhead = ahead(cam, 2.0f + c.forward);
        frameTime = c.seconds;
        cam.steer(c.palm, c.angles);
        cam.updateTarget();
        EXPECT_FLOAT_EQ(cam.yaw, c.yaw + c.angles.x * float(c.seconds * 4));
        EXPECT_FLOAT_EQ(cam.pitch, c.pitch + c.angles.y * float(c.seconds * 4));
        expectNear(ahead(cam, 2.0f), pointAhead, 1e-4f);
    }
    frameTime = 0;
}

TEST(HandControl, OneOrTwoFingersPlaceTheLightThreeOrMoreFly) {
    LeapCam cam = cameraAt({1, 2, 3}, 0, 0);
    OglPointLight light;
    frameTime = 0.5;
    handStep(fake::makeFrame({hand(0)}), cam, light);
    EXPECT_EQ(light.position.x, 0.57);
    fake::HandSpec pointing = hand(2);
    pointing.tips = {{0, 200, 0}, {0, 200, 50}};
    handStep(fake::makeFrame({pointing}), cam, light);
    EXPECT_EQ(std::vector<double>({light.position.x, light.position.y, light.position.z}),
              std::vector<double>({1, 2, 6}));
    expectNear(cam.position, {1, 2, 3}, 0);
    handStep(fake::makeFrame({hand(3, {0, 200, 0})}), cam, light);
    expectNear(cam.position, {1, 2, 6});
    expectNear(cam.target, {1, 2, 7});
    EXPECT_EQ(light.position.z, 6.0);
    frameTime = 0;
}

// The shipped sessions replayed as the viewer plays them, at 8 to 144 frames a second, keep the scene's
// centre in view and end as docs/user/sessions.md says: the flight closer, turned about 40 degrees,
// looking further down, the tall solids in view, at one place whatever the rate; the light over the
// slab and in view, swept left and right, left on the left.
TEST(HandControl, ShippedSessionsKeepTheSceneInViewAndEndAsDocumented) {
    const Vec3 centre{0.25f, 0, 0.25f},
        tallTops[] = {{-0.4854f, 0.62f, 0.646f}, {-0.1884f, 0.36f, -0.1884f}, {0.646f, 0.6f, -0.4854f}};
    const auto inView = [](Vec3 ndc, float most) {
        return std::fabs(ndc.x) <= most && std::fabs(ndc.y) <= most && std::fabs(ndc.z) < 1;
    };
    LeapCam start;
    Vec3 flightEnd = NoReading;
    for (const std::string session : {"fly", "point"})
        for (const double fps : {8.0, 30.0, 60.0, 144.0}) {
            SCOPED_TRACE(session + " at " + std::to_string(fps));
            setenv("HANDVIEW_REPLAY", (HANDVIEW_SOURCE_DIR "/tracker/sessions/" + session + ".txt").c_str(),
                   1);
            setenv("HANDVIEW_FIXED_STEP_MS", std::to_string(1000 / fps).c_str(), 1);
            Leap::Controller controller;
            LeapCam cam;
            OglPointLight light;
            float left = 1, right = -1, x = 0;  // the light on the screen
            for (frameTime = 0; controller.isConnected(); frameTime = 1 / fps) {
                handStep(controller.frame(0), cam, light);
                const Mat4 m = cam.update();
                const Vec3 lit{float(light.position.x), float(light.position.y), float(light.position.z)};
                ASSERT_TRUE(inView(project(m, centre), 1));
                if (session == "fly") continue;
                ASSERT_TRUE(inView(project(m, lit), 0.9f) && std::fabs(lit.x - centre.x) < 0.9f &&
                            std::fabs(lit.z - centre.z) < 0.9f && lit.y > 0.25f && lit.y < 1);
                x = project(m, lit).x, left = std::min(left, x), right = std::max(right, x);
            }
            EXPECT_TRUE(session == "fly" || (left < -0.3f && right > 0.3f && x < -0.3f))
                << left << ' ' << right << ' ' << x;
            if (session == "point") continue;
            const Mat4 m = cam.update();
            EXPECT_TRUE(inView(project(m, centre), 0.5f));
            for (Vec3 top : tallTops) EXPECT_TRUE(inView(project(m, top), 1));
            EXPECT_LT(length(cam.position - centre), 0.8f * length(start.position - centre));
            EXPECT_NEAR((cam.yaw - start.yaw) / kDegToRad, 40, 15);
            EXPECT_LT(cam.pitch, start.pitch);
            if (flightEnd.x == kNoReadingValue) flightEnd = cam.position;
            EXPECT_LT(length(cam.position - flightEnd), 0.25f);
        }
    unsetenv("HANDVIEW_REPLAY"), unsetenv("HANDVIEW_FIXED_STEP_MS"), frameTime = 0;
}

// No fixed step: each pass's frame time is its own wall-clock duration, not the time since the start.
TEST(FrameTime, EachPassTakesItsOwnWallClockDuration) {
    FrameClock clock;
    EXPECT_DOUBLE_EQ(clock.passEnded(16666667), 0.016666667);
    EXPECT_DOUBLE_EQ(clock.passEnded(2516666667), 2.5);
}

namespace {
struct MeshSpec {
    std::vector<std::vector<unsigned>> faces{{0, 1, 2}};
    bool normals = false, colors = false, texCoords = false;
    unsigned material = 0;
};

// Three vertices (100 m + v, 10 v, -v) in mesh m; materials with black ambient first, as the OBJ
// importer stores them, then the diffuse colour when given. The scene's destructor frees it all.
aiScene* makeScene(const std::vector<MeshSpec>& meshes, std::vector<const aiColor3D*> diffuse = {}) {
    auto* scene = new aiScene;
    scene->mMeshes = new aiMesh*[scene->mNumMeshes = static_cast<unsigned>(meshes.size())];
    for (unsigned m = 0; m < meshes.size(); ++m) {
        aiMesh* mesh = scene->mMeshes[m] = new aiMesh;
        const MeshSpec& want = meshes[m];
        mesh->mVertices = new aiVector3D[mesh->mNumVertices = 3];
        mesh->mNormals = want.normals ? new aiVector3D[3]{{0, 1, 0}, {0, 1, 0}, {0, 1, 0}} : nullptr;
        mesh->mColors[0] = want.colors ? new aiColor4D[3]{{.25f, .5f, .75f, .1f}, {}, {}} : nullptr;
        mesh->mTextureCoords[0] = want.texCoords ? new aiVector3D[3]{{.5f, .25f, 9}, {}, {}} : nullptr;
        for (unsigned v = 0; v < 3; ++v)
            mesh->mVertices[v] = aiVector3D(100.0f * m + v, 10.0f * v, -float(v));
        mesh->mFaces = new aiFace[mesh->mNumFaces = static_cast<unsigned>(want.faces.size())];
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            mesh->mFaces[f].mIndices = new unsigned[mesh->mFaces[f].mNumIndices = want.faces[f].size()];
            std::copy(want.faces[f].begin(), want.faces[f].end(), mesh->mFaces[f].mIndices);
        }
        mesh->mMaterialIndex = want.material;
    }
    scene->mMaterials = new aiMaterial*[scene->mNumMaterials = static_cast<unsigned>(diffuse.size())];
    for (unsigned m = 0; m < diffuse.size(); ++m) {
        const aiColor3D black(0, 0, 0);
        (scene->mMaterials[m] = new aiMaterial)->AddProperty(&black, 1, AI_MATKEY_COLOR_AMBIENT);
        if (diffuse[m]) scene->mMaterials[m]->AddProperty(diffuse[m], 1, AI_MATKEY_COLOR_DIFFUSE);
    }
    return scene;
}
}  // namespace

// The first mesh decides which attributes every part has, each at its shader location by meaning;
// only whole triangles of existing vertices are drawn; the colour is the diffuse one, else white. A
// user's model (placed) keeps each mesh's own attributes, and its lines where it has no triangle.
TEST(MeshParts, BuiltFromTheScene) {
    const MeshSpec full{{{0, 1, 2}}, true, true, true}, textured{{{0, 1, 2}}, false, false, true};
    const MeshSpec lines{{{0, 1}, {1, 2}}, false, true},
        unlit{{{0}, {1, 2, 0, 1}, {}}, false, false, false, 1};
    const MeshSpec hostile{
        {{0, 1, 3}, {2, 1, 0}, {4000000000u, 0, 1}, {0, 1}, {1, 2, 0}}, false, false, false, 7};
    const aiColor3D red(0.8f, 0.1f, 0.2f);
    const struct {
        std::vector<MeshSpec> meshes;
        size_t parts;  // then, of the last part:
        std::vector<GLuint> locations;
        std::vector<float> firstVertex;
        std::vector<uint32_t> indices;
        std::vector<float> colour;
        bool placed = false;
        int corners = 3;
    } cases[] = {
        {{}, 0, {}, {}, {}, {}},
        {{MeshSpec{}}, 1, {0}, {0, 0, 0}, {0, 1, 2}, {0.8f, 0.1f, 0.2f}},
        {{full},
         1,
         {0, 1, 2, 3},
         {0, 0, 0, 0, 1, 0, .25f, .5f, .75f, .5f, .25f},
         {0, 1, 2},
         {0.8f, 0.1f, 0.2f}},
        {{full, MeshSpec{}},
         2,
         {0, 1, 2, 3},
         {100, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0},
         {0, 1, 2},
         {0.8f, 0.1f, 0.2f}},
        {{MeshSpec{}, full}, 2, {0}, {100, 0, 0}, {0, 1, 2}, {0.8f, 0.1f, 0.2f}},
        {{textured}, 1, {0, 3}, {0, 0, 0, .5f, .25f}, {0, 1, 2}, {0.8f, 0.1f, 0.2f}},
        {{lines, full, unlit}, 1, {0, 2}, {100, 0, 0, .25f, .5f, .75f}, {0, 1, 2}, {0.8f, 0.1f, 0.2f}},
        {{MeshSpec{}, {{{0, 1, 2}}, false, false, false, 1}}, 2, {0}, {100, 0, 0}, {0, 1, 2}, {1, 1, 1}},
        {{hostile}, 1, {0}, {0, 0, 0}, {2, 1, 0, 1, 2, 0}, {1, 1, 1}},
        {{MeshSpec{}, full},
         2,
         {0, 1, 2, 3},
         {100, 0, 0, 0, 1, 0, .25f, .5f, .75f, .5f, .25f},
         {0, 1, 2},
         {0.8f, 0.1f, 0.2f},
         true},
        {{full, lines}, 2, {0, 2}, {100, 0, 0, .25f, .5f, .75f}, {0, 1, 1, 2}, {0.8f, 0.1f, 0.2f}, true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const std::unique_ptr<aiScene> scene(makeScene(c.meshes, {&red, nullptr}));
        const std::vector<OglMeshPart> parts =
            c.placed ? buildPlacedParts(*scene) : buildParts(*scene, decideFlags(*scene));
        ASSERT_EQ(parts.size(), c.parts);
        if (parts.empty()) continue;
        const OglBuffVertex& v = parts.back().vertexBuffer;
        std::vector<GLuint> locations;
        for (const AttribFormat& a : v.layout) locations.push_back(a.location);
        EXPECT_EQ(locations, c.locations);
        EXPECT_EQ(std::vector<float>(v.vertices.begin(), v.vertices.begin() + v.stride), c.firstVertex);
        EXPECT_EQ(parts.back().indexBuffer.indices, c.indices);
        EXPECT_EQ(parts.back().indexBuffer.elementsPerPrimitive, c.corners);
        EXPECT_EQ(std::vector<float>({parts.back().color.r, parts.back().color.g, parts.back().color.b}),
                  c.colour);
    }
}

// A user's model, seen from the start pose: centred on the view's axis, as large as fills half the
// view's width or height, whichever binds first, never nearer the eye than half the default scene's
// distance; its light outside it, above it and nearer the eye.
TEST(MeshParts, FramedInHalfTheStartViewAndLitFromOutside) {
    const auto box = [](aiVector3D lo, aiVector3D hi) {
        std::vector<aiVector3D> corners;
        for (int k = 0; k < 8; ++k)
            corners.emplace_back(k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z);
        return corners;
    };
    const struct {
        std::vector<aiVector3D> points;
        float aspect;
        bool fills;  // half the view's width or height, else less
    } cases[] = {
        {box({900, -800, 2000}, {1100, -600, 2200}), 4 / 3.0f, true},  // a cube, huge and far off
        {box({0, 0, 0}, {.3f, 1.8f, .3f}), 16 / 9.0f, true},           // standing
        {box({-5, 0, -5}, {5, .1f, 5}), 1, true},                      // flat
        {{{0, 0, 0}, {.02f, 0, 0}, {20, 28.28f, 20}}, 1, false},       // a needle pointing at the eye
        {{{2, 2, 2}, {2, 2, 2}, {2, 2, 2}}, 1, false},                 // a point
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        LeapCam cam;
        std::tie(cam.viewWidth, cam.viewHeight) = std::make_pair(480 * c.aspect, 480.0f);
        OglBuffVertex vertices;
        vertices.layout.push_back({GL_FLOAT, 3});
        OglBuffIndex indices;
        for (const aiVector3D& p : c.points) {
            indices.indices.push_back(uint32_t(indices.indices.size()));
            vertices.vertices.insert(vertices.vertices.end(), {p.x, p.y, p.z});
        }
        indices.indices.resize((indices.indices.size() + 2) / 3 *
                               3);  // whole triangles, the last padded with the first point
        std::vector<OglMeshPart> parts{OglMeshPart(vertices, indices, {1, 1, 1})};
        parts[0].vertexBuffer.fill();
        const ModelFrame frame = frameInView(parts, startView(cam));
        const Mat4 m = cam.update();
        float nearest = 1e9f;
        Vec3 lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f}, low = lo,
                                                            high = hi;  // the model's, its picture's
        for (size_t i = 0; i < vertices.vertices.size(); i += 3) {
            const float* v = &parts[0].vertexBuffer.vertices[i];
            const Vec3 p{v[0], v[1], v[2]}, ndc = project(m, p);
            nearest = std::min(nearest, dot(p - cam.position, cam.target - cam.position));
            for (auto [at, min, max] : {std::tie(p, lo, hi), std::tie(ndc, low, high)}) {
                min = {std::min(min.x, at.x), std::min(min.y, at.y), std::min(min.z, at.z)};
                max = {std::max(max.x, at.x), std::max(max.y, at.y), std::max(max.z, at.z)};
            }
        }
        const float extent = std::max(high.x - low.x, high.y - low.y) / 2;
        EXPECT_TRUE(c.fills ? std::fabs(extent - .5f) < 1e-3f : extent < .5f)
            << extent;                                                      // a quarter pixel of 480
        EXPECT_NEAR(std::hypot(high.x + low.x, high.y + low.y), 0, 2e-3f);  // centred
        const Vec3 light{frame.light.x, frame.light.y, frame.light.z};
        EXPECT_GE(nearest, 1.5f);  // half of the 3.02 from the eye to the default scene's centre
        EXPECT_TRUE(light.y > hi.y && length(light - cam.position) < length((lo + hi) * .5f - cam.position));
    }
}

// Blender and an FBX's UpAxis declare which way is up; --up forces it.
TEST(MeshParts, UpTurnedToYAsDeclaredOrForced) {
    const struct {
        const char* format;
        int upAxis, sign;
        const char* forced;
        aiVector3D turned;  // where the file's (0, 1, 2) goes
    } cases[] = {
        {"", -1, 1, "", {0, 1, 2}},
        {"Blender 3D Importer", -1, 1, "", {0, 2, -1}},
        {"Autodesk FBX Importer", 2, 1, "", {0, 2, -1}},
        {"Autodesk FBX Importer", 2, -1, "", {0, -2, 1}},
        {"Autodesk FBX Importer", 1, -1, "", {0, -1, -2}},
        {"Autodesk FBX Importer", 0, 1, "", {-1, 0, 2}},
        {"Blender 3D Importer", -1, 1, "+y", {0, 1, 2}},
        {"", -1, 1, "+z", {0, 2, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        aiScene scene;
        scene.mMetaData = new aiMetadata;
        scene.mMetaData->Add("SourceAsset_Format", aiString(std::string(c.format)));
        if (c.upAxis >= 0) scene.mMetaData->Add("UpAxis", int32_t(c.upAxis));
        scene.mMetaData->Add("UpAxisSign", int32_t(c.sign));
        ModelUp up = ModelUp::Declared;
        EXPECT_TRUE(*c.forced == 0 || parseModelUp(c.forced, up));
        const aiVector3D turned = upTurn(scene, up) * aiVector3D(0, 1, 2);
        EXPECT_EQ(std::make_tuple(turned.x, turned.y, turned.z),
                  std::make_tuple(c.turned.x, c.turned.y, c.turned.z));
    }
    ModelUp up = ModelUp::Declared;
    EXPECT_FALSE(parseModelUp("-z", up) || parseModelUp("z", up) || parseModelUp("+Y", up));
}

// A material's image: embedded, or a regular file as written, beside the model, in any case; then
// decoded within bounds. Anything else gets a reason.
TEST(ModelImages, FoundAndDecodedWithinBoundsOrRefusedWithTheirReason) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("handview-images-" + std::to_string(getpid()));
    const fs::path data = HANDVIEW_SOURCE_DIR "/tests/data/models";
    fs::create_directories(dir / "sub");
    fs::create_directory(dir / "folder.png");
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    for (const auto& [from, to] : {std::pair{"quadrants.png", "skin.png"},
                                   {"quadrants.png", "sub/tex.png"},
                                   {"cut.png", "cut.png"},
                                   {"huge.png", "huge.png"}})
        fs::copy_file(data / from, dir / to);
    std::ofstream(dir / "notes.png") << "not an image\n";
    const std::string png = fileBytes(data / "quadrants.png");
    aiScene scene;
    scene.mTextures = new aiTexture* [scene.mNumTextures = 2] { new aiTexture, new aiTexture };
    scene.mTextures[0]->pcData = new aiTexel[png.size() / 4 + 1];
    std::memcpy(scene.mTextures[0]->pcData, png.data(), scene.mTextures[0]->mWidth = unsigned(png.size()));
    scene.mTextures[0]->mFilename = "inside.png";
    scene.mTextures[1]->pcData =
        new aiTexel[(scene.mTextures[1]->mWidth = 2) * (scene.mTextures[1]->mHeight = 1)]{};
    const struct {
        std::string written;
        std::string where;    // "*N": the scene's Nth image; else the end of the file's path, or the reason
        std::string decoded;  // "WxH", or the start of the reason
        int maxSide = kMaxImageSide;
    } cases[] = {
        {"*0", "*0", "16x16"},
        {"*1", "*1", "2x1"},
        {"inside.png", "*0", "16x16"},
        {"*2", "the model embeds no such image", ""},
        {"sub/tex.png", "/sub/tex.png", "16x16"},
        {".\\sub\\tex.png", "/sub/tex.png", "16x16"},
        {"D:\\art\\Skin.PNG", "/skin.png", "16x16"},
        {(dir / "skin.png").string(), "/skin.png", "16x16"},
        {"missing.png", "no such file as written, nor by its name beside the model", ""},
        {"pipe.png", "it is a named pipe, not a file", ""},
        {"folder.png", "it is a directory, not a file", ""},
        {"/dev/zero", "it is not a regular file", ""},
        {"skin.png", "/skin.png", "it declares 16x16 pixels, over the limit of 8 a side", 8},
        {"huge.png", "/huge.png", "it declares 16384x16384 pixels, over the limit of 8192 a side"},
        {"cut.png", "/cut.png", "truncated or corrupt ("},
        {"notes.png", "/notes.png", "not an image it reads ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        const ImageSource source = findImage(scene, c.written, dir.string());
        const std::string where = source.embedded
                                      ? "*" + std::to_string(source.embedded == scene.mTextures[1])
                                  : source.problem.empty() ? source.path
                                                           : source.problem;
        EXPECT_TRUE(where.size() >= c.where.size() &&
                    where.compare(where.size() - c.where.size(), c.where.size(), c.where) == 0)
            << where;
        const DecodedImage image = decodeImage(source, c.maxSide);
        const std::string decoded =
            c.decoded.empty() ? source.problem : c.decoded;  // a lookup's reason, as it was
        EXPECT_EQ(image.pixels ? std::to_string(image.width) + "x" + std::to_string(image.height)
                               : image.problem.substr(0, decoded.size()),
                  decoded);
    }
    fs::remove_all(dir);
}

// glTF's importers may give a material only a base colour.
TEST(MeshParts, BaseColourWhereThereIsNoDiffuse) {
    aiScene scene;
    scene.mMaterials = new aiMaterial* [scene.mNumMaterials = 1] { new aiMaterial };
    const aiColor4D teal(.1f, .6f, .7f, 1);
    scene.mMaterials[0]->AddProperty(&teal, 1, AI_MATKEY_BASE_COLOR);
    const PartColor colour = partColor(scene, 0, true);
    EXPECT_EQ(std::vector<float>({colour.r, colour.g, colour.b}), std::vector<float>({.1f, .6f, .7f}));
}

// What the importer refuses under the program's flags, as shapes.obj, and part of its reason; that the
// program says so once and runs on is checked end to end for a few of them.
TEST(MeshImport, HostileFilesAreRefusedWithTheirReason) {
    static_assert(kImportFlags == 0x4379ECB, "the flags the viewer has always imported with");
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("handview-" + std::to_string(getpid()) + ".obj");
    std::ostringstream million;
    for (int i = 0; i < 1000000; ++i) million << "v " << i % 1000 << ' ' << i / 1000 << ' ' << i % 7 << '\n';
    for (const auto& [hostile, reason] : std::initializer_list<std::pair<const char*, const char*>>{
             {"", "too small"},
             {"cut-in-face.obj", "Validation failed"},
             {"indices-far-out.obj", "index out of range"},
             {"negative-before-first.obj", "index out of range"},
             {"zero-index.obj", "Invalid face index"},
             {"nan-coordinates.obj", "No meshes remaining"},
             {"million", "no faces"},
             {"ply.obj", ""},
             {"ascii-stl.obj", ""},
             {"binary-stl.obj", ""},
             {"gltf.obj", ""}}) {
        SCOPED_TRACE(hostile);
        const std::string path = std::string(HANDVIEW_SOURCE_DIR "/tests/data/hostile/") + hostile;
        std::ofstream(file, std::ios::binary) << (*hostile == 0                       ? std::string()
                                                  : std::string(hostile) == "million" ? million.str()
                                                                                      : fileBytes(path));
        const aiScene* scene = aiImportFile(file.c_str(), kImportFlags);
        EXPECT_EQ(scene, nullptr);
        EXPECT_NE(std::string(aiGetErrorString()).find(reason), std::string::npos) << aiGetErrorString();
        aiReleaseImport(scene);
    }
    std::filesystem::remove(file);
}

TEST(ShaderSource, LineFeedBeforeEveryLineCarriageReturnsAtLineEndsDropped) {
    for (const auto& [file, text] : {std::pair{"A\r\nB\r\n", "\nA\nB"},
                                     {"A\nB", "\nA\nB"},
                                     {"", ""},
                                     {"\n\n", "\n\n"},
                                     {"a\rb\n", "\na\rb"}})
        EXPECT_EQ(assembleSource(*std::make_unique<std::istringstream>(file)), text);
    EXPECT_EQ(readSourceFile("tests\\unit\\missing.vsh") +
                  readSourceFile("shaders\\simple\\ColoredPointL.vsh").substr(0, 14),
              "\n#version 330\n");
}

// The fuzz target aborts on parts the upload could not trust; every kept input must pass.
TEST(FuzzCorpus, EveryInputImportsIntoTrustworthyParts) {
    for (const auto& entry : std::filesystem::directory_iterator(HANDVIEW_SOURCE_DIR "/fuzz/corpus")) {
        const std::string bytes = fileBytes(entry.path());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}
