// Hostile files where the program expects its mesh and its shaders: every run starts, says on
// the console what went wrong, draws what it can and quits on Escape with 0, sanitizer-clean.
#include "support/ProgramRun.h"
#include "support/TestData.h"
#include "support/Screen.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using harness::Image;
using harness::ProgramOptions;
using harness::ProgramRun;
using harness::WorkDir;
using harness::Xvfb;

namespace {

constexpr const char* kMeshPath = "obj/shapes.obj";
constexpr const char* kVertexPath = "shaders/simple/ColoredPointL.vsh";
constexpr const char* kFragmentPath = "shaders/simple/ColoredPointL.fsh";
constexpr const char* kVertexLine = "Compiling shader : shaders\\simple\\ColoredPointL.vsh\n";
constexpr const char* kFragmentLine = "Compiling shader : shaders\\simple\\ColoredPointL.fsh\n";
constexpr const char* kLinkLine = "Linking program\n";
constexpr const char* kImportFailure = "Could not import obj/shapes.obj: ";
constexpr const char* kNoMeshes = "No meshes. Not good.";
constexpr const char* kImporterLoadLine = "Load obj/shapes.obj";
// The importer's last log line of an import that gave a scene.
constexpr const char* kImporterDone = "Leaving post processing pipeline";

constexpr std::size_t kJunkBytes = 4096;
constexpr std::size_t kHugeShaderBytes = 10u << 20;
constexpr int kManyVertices = 1000000;
constexpr uid_t kNobody = 65534;  // Debian's unprivileged "nobody"
constexpr const char* kSetpriv = "/usr/bin/setpriv";

constexpr auto kPictureTimeout = std::chrono::seconds(30);
constexpr auto kCaptureInterval = std::chrono::milliseconds(250);
constexpr auto kFramesDelay = std::chrono::milliseconds(500);  // frames drawn on what was loaded
constexpr int kBlackLevel = 8;        // darker channels count as the cleared background
constexpr int kColourfulSpread = 60;  // channel spread of the lit solids; fixed-function white has none

// ---------------------------------------------------------------- file contents

std::string junkBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);  // the same bytes on every machine
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFFu);
    }
    return bytes;
}

// The shipped scene cut in the middle of the first line past its middle that starts with
// `lineStart`, `keep` characters into that line.
std::string sceneCutInLine(const WorkDir& dir, const std::string& lineStart, std::size_t keep) {
    const std::string scene = readFile(dir.file(kMeshPath));
    const std::size_t line = scene.find("\n" + lineStart, scene.size() / 2);
    if (line == std::string::npos || line + 1 + keep >= scene.size()) {
        throw std::runtime_error("the shipped scene has no '" + lineStart + "' line past its middle");
    }
    return scene.substr(0, line + 1 + keep);
}

// A face line cut after its first corner and one digit of the second.
std::string sceneCutInFace(const WorkDir& dir) {
    const std::string scene = readFile(dir.file(kMeshPath));
    const std::size_t line = scene.find("\nf ", scene.size() / 2);
    const std::size_t afterFirstCorner = line == std::string::npos ? line : scene.find(' ', line + 3);
    if (afterFirstCorner == std::string::npos) {
        throw std::runtime_error("the shipped scene has no face line past its middle");
    }
    return scene.substr(0, afterFirstCorner + 2);
}

std::string manyVerticesNoFaces() {
    std::string text;
    text.reserve(std::size_t(kManyVertices) * 16);
    for (int i = 0; i < kManyVertices; ++i) {
        text += "v " + std::to_string(i % 1000) + ' ' + std::to_string(i / 1000 % 1000) + ' ' +
                std::to_string(i % 7) + '\n';
    }
    return text;
}

std::string bytesOf(const void* data, std::size_t size) {
    return std::string(static_cast<const char*>(data), size);  // x86-64 is little-endian, as STL is
}

// One triangle as binary STL: 80-byte header, count, normal + 3 corners, attribute word.
std::string binaryStl() {
    const std::uint32_t count = 1;
    const float facet[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::uint16_t attributes = 0;
    return std::string(80, '\0') + bytesOf(&count, sizeof count) + bytesOf(facet, sizeof facet) +
           bytesOf(&attributes, sizeof attributes);
}

// A complete one-triangle glTF 2.0 with its buffer inline (positions, then indices).
constexpr const char* kGltf =
    R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
    R"("meshes":[{"primitives":[{"attributes":{"POSITION":0},"indices":1}]}],)"
    R"("buffers":[{"byteLength":44,"uri":"data:application/octet-stream;base64,)"
    R"(AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAAAAABAAIAAAA="}],)"
    R"("bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},)"
    R"({"buffer":0,"byteOffset":36,"byteLength":6}],)"
    R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",)"
    R"("min":[0,0,0],"max":[1,1,0]},{"bufferView":1,"componentType":5123,"count":3,"type":"SCALAR"}]})";

constexpr const char* kPly =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
    "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
    "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";

constexpr const char* kAsciiStl =
    "solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
    "endloop\nendfacet\nendsolid t\n";

// Three corners of a triangle facing the starting camera, large enough to be seen.
constexpr const char* kTriangleVertices = "v -1 0 1\nv 1 0 1\nv 0 1.5 0\n";

// The shipped stage without its first ';': a syntax error.
std::string brokenStage(const WorkDir& dir, const char* path) {
    std::string text = readFile(dir.file(path));
    text.erase(text.find(';'), 1);
    return text;
}

// ---------------------------------------------------------------- what a case expects

enum class Import { fails, succeeds };
enum class Log { empty, error };
// What the window shows: only the cleared background; something; the lit, coloured scene;
// or not looked at (a program that failed to link leaves drawing to the driver's fallback).
enum class Picture { blank, drawn, lit, unchecked };

struct HostileCase {
    const char* name;
    std::function<void(const WorkDir&)> prepare;
    Import import;
    const char* reason;  // part of the importer's reason when the import fails
    Log vertexLog;
    Log fragmentLog;
    Picture picture;
    bool unreadable = false;  // the mesh file has no read permission
};

std::ostream& operator<<(std::ostream& out, const HostileCase& c) {
    return out << c.name;
}

void writeMesh(const WorkDir& dir, std::string_view text) {
    dir.writeFile(kMeshPath, text);
}

const std::vector<HostileCase> kMeshCases = {
    {"EmptyFile", [](const WorkDir& d) { writeMesh(d, ""); }, Import::fails, "too small", Log::empty,
     Log::empty, Picture::blank},
    {"DirectoryInstead",
     [](const WorkDir& d) {
         d.removeFile(kMeshPath);
         std::filesystem::create_directory(d.file(kMeshPath));
     },
     Import::fails, "", Log::empty, Log::empty, Picture::blank},
    {"BinaryJunk", [](const WorkDir& d) { writeMesh(d, junkBytes(kJunkBytes, 1)); }, Import::fails, "",
     Log::empty, Log::empty, Picture::blank},
    // The importer turns the half face into a line and then rejects its own mesh.
    {"TruncatedInFaceLine", [](const WorkDir& d) { writeMesh(d, sceneCutInFace(d)); }, Import::fails,
     "Validation failed", Log::empty, Log::empty, Picture::blank},
    // What came before the cut is a scene of its own.
    {"TruncatedInVertexLine", [](const WorkDir& d) { writeMesh(d, sceneCutInLine(d, "v ", 5)); },
     Import::succeeds, "", Log::empty, Log::empty, Picture::lit},
    {"FaceIndicesFarOutOfRange",
     [](const WorkDir& d) {
         writeMesh(d, std::string(kTriangleVertices) + "f 1 2 3\nf 1 2 4000000000\nf 99999 2 3\n");
     },
     Import::fails, "index out of range", Log::empty, Log::empty, Picture::blank},
    {"NegativeIndexBeforeFirstVertex",
     [](const WorkDir& d) { writeMesh(d, std::string(kTriangleVertices) + "f -1 -2 -4\n"); }, Import::fails,
     "index out of range", Log::empty, Log::empty, Picture::blank},
    {"ZeroIndex",
     [](const WorkDir& d) { writeMesh(d, std::string(kTriangleVertices) + "f -3 -2 -1\nf 0 1 2\n"); },
     Import::fails, "Invalid face index", Log::empty, Log::empty, Picture::blank},
    // Counting back from the last vertex is legal and draws.
    {"NegativeIndicesCountingBack",
     [](const WorkDir& d) { writeMesh(d, std::string(kTriangleVertices) + "f -3 -2 -1\n"); },
     Import::succeeds, "", Log::empty, Log::empty, Picture::drawn},
    // The importer deletes a mesh with a non-finite position, and then has none.
    {"NanAndInfiniteCoordinates",
     [](const WorkDir& d) {
         writeMesh(d, "v nan 0 0\nv inf -inf 0\nv 0 1e39 NaN\n" + std::string(kTriangleVertices) +
                          "vn nan inf 0\nf 1 2 3\nf 4 5 6\nf 1 5 6\n");
     },
     Import::fails, "No meshes remaining", Log::empty, Log::empty, Picture::blank},
    // Vertex colours pass the importer's checks as they are (texture coordinates do not): the
    // non-finite colours reach the vertex buffer and the GPU.
    {"NanAndInfiniteVertexColours",
     [](const WorkDir& d) {
         writeMesh(d,
                   "v -1 0 1 nan 0 1\nv 1 0 1 inf 1 0\nv 0 1.5 0 1 -inf 0\nvt nan inf\nvt 0 0\nvt 1 1\n"
                   "f 1/1 2/2 3/3\n");
     },
     Import::succeeds, "", Log::empty, Log::empty, Picture::unchecked},
    {"MissingMaterialLibrary",
     [](const WorkDir& d) {
         writeMesh(d, "mtllib nothere.mtl\nusemtl red\n" + std::string(kTriangleVertices) + "f 1 2 3\n");
     },
     Import::succeeds, "", Log::empty, Log::empty, Picture::drawn},
    // Meshes without a triangle become no part and no message: nothing is drawn.
    {"OnlyLinesAndPoints",
     [](const WorkDir& d) { writeMesh(d, std::string(kTriangleVertices) + "l 1 2\nl 2 3 1\np 1\np 2 3\n"); },
     Import::succeeds, "", Log::empty, Log::empty, Picture::blank},
    {"MillionVerticesNoFaces", [](const WorkDir& d) { writeMesh(d, manyVerticesNoFaces()); }, Import::fails,
     "no faces", Log::empty, Log::empty, Picture::blank},
    // The file name picks the OBJ reader, whatever the bytes are.
    {"PlyUnderObjName", [](const WorkDir& d) { writeMesh(d, kPly); }, Import::fails, "", Log::empty,
     Log::empty, Picture::blank},
    {"AsciiStlUnderObjName", [](const WorkDir& d) { writeMesh(d, kAsciiStl); }, Import::fails, "", Log::empty,
     Log::empty, Picture::blank},
    {"BinaryStlUnderObjName", [](const WorkDir& d) { writeMesh(d, binaryStl()); }, Import::fails, "",
     Log::empty, Log::empty, Picture::blank},
    {"GltfUnderObjName", [](const WorkDir& d) { writeMesh(d, kGltf); }, Import::fails, "", Log::empty,
     Log::empty, Picture::blank},
    {"UnreadableFile",
     [](const WorkDir& d) { std::filesystem::permissions(d.file(kMeshPath), std::filesystem::perms::none); },
     Import::fails, "Unable to open file", Log::empty, Log::empty, Picture::blank, true},
};

// A stage that does not compile leaves the program unlinked; the mesh is still imported.
const std::vector<HostileCase> kShaderCases = {
    {"BothMissing", [](const WorkDir& d) { std::filesystem::remove_all(d.file("shaders")); },
     Import::succeeds, "", Log::error, Log::error, Picture::unchecked},
    {"BothEmpty",
     [](const WorkDir& d) {
         d.writeFile(kVertexPath, "");
         d.writeFile(kFragmentPath, "");
     },
     Import::succeeds, "", Log::error, Log::error, Picture::unchecked},
    {"FragmentBinaryJunk", [](const WorkDir& d) { d.writeFile(kFragmentPath, junkBytes(kJunkBytes, 2)); },
     Import::succeeds, "", Log::empty, Log::error, Picture::unchecked},
    // A valid stage, then one comment line of ten megabytes without a final line feed:
    // read whole, compiled and drawn as usual.
    {"TenMegabyteVertexStage",
     [](const WorkDir& d) {
         d.writeFile(kVertexPath,
                     readFile(d.file(kVertexPath)) + "\n//" + std::string(kHugeShaderBytes, 'x'));
     },
     Import::succeeds, "", Log::empty, Log::empty, Picture::lit},
    {"SyntaxErrorInBoth",
     [](const WorkDir& d) {
         d.writeFile(kVertexPath, brokenStage(d, kVertexPath));
         d.writeFile(kFragmentPath, brokenStage(d, kFragmentPath));
     },
     Import::succeeds, "", Log::error, Log::error, Picture::unchecked},
};

// ---------------------------------------------------------------- reading the console

// Standard output cut at the fixed lines of start-up: each stage's log, the link log and the rest.
struct Console {
    bool ordered = false;
    std::string vertexLog;
    std::string fragmentLog;
    std::string linkLog;
    std::string importer;
};

Console splitConsole(const std::string& out) {
    Console console;
    const std::size_t fragment = out.find(kFragmentLine);
    const std::size_t link = out.find(kLinkLine);
    const std::size_t load = out.find(kImporterLoadLine);
    if (out.rfind(kVertexLine, 0) != 0 || fragment == std::string::npos || link == std::string::npos ||
        load == std::string::npos || !(fragment < link && link < load)) {
        return console;
    }
    const std::size_t vertexEnd = std::string(kVertexLine).size();
    const std::size_t fragmentEnd = fragment + std::string(kFragmentLine).size();
    const std::size_t linkEnd = link + std::string(kLinkLine).size();
    const std::size_t loadLine = out.rfind('\n', load) + 1;
    console.ordered = loadLine >= linkEnd;
    // Each log is followed by a line feed of its own.
    console.vertexLog = out.substr(vertexEnd, fragment - vertexEnd);
    console.fragmentLog = out.substr(fragmentEnd, link - fragmentEnd);
    console.linkLog = out.substr(linkEnd, loadLine - linkEnd);
    console.importer = out.substr(loadLine);
    return console;
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) == 0) {
            found.push_back(line.substr(prefix.size()));
        }
    }
    return found;
}

void expectLog(const std::string& log, Log expected, const char* what) {
    if (expected == Log::empty) {
        EXPECT_EQ(log, "\n") << what << " log should be an empty line";
    } else {
        EXPECT_NE(log.find("error"), std::string::npos) << what << " log should report an error:\n" << log;
    }
}

std::size_t pixelsWhere(const Image& image, const std::function<bool(const std::uint8_t*)>& keep) {
    std::size_t count = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            count += keep(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

bool isBackground(const std::uint8_t* p) {
    return std::max({p[0], p[1], p[2]}) <= kBlackLevel;
}

bool isColourful(const std::uint8_t* p) {
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > kColourfulSpread;
}

bool shows(const Image& image, Picture expected) {
    switch (expected) {
        case Picture::blank:
            return pixelsWhere(image, [](const std::uint8_t* p) { return !isBackground(p); }) == 0;
        case Picture::drawn:
            return !shows(image, Picture::blank);
        case Picture::lit:
            return pixelsWhere(image, isColourful) > 0;
        case Picture::unchecked:
            break;
    }
    return true;
}

const char* describe(Picture picture) {
    switch (picture) {
        case Picture::blank:
            return "only the cleared background";
        case Picture::drawn:
            return "something drawn";
        case Picture::lit:
            return "the lit, coloured scene";
        case Picture::unchecked:
            break;
    }
    return "anything";
}

// Start-up ends with the import's outcome on the console; the frames follow at once.
bool awaitEndOfStartUp(ProgramRun& run, const HostileCase& c) {
    return run.waitForOutput(c.import == Import::fails ? kImportFailure : kImporterDone);
}

// The window is black before the first frame too, so a blank picture is taken only after
// start-up and a while of frames; one with something in it can be waited for.
Image awaitPicture(const Xvfb& x, Picture expected) {
    if (expected == Picture::blank) {
        return harness::captureSettledScreen(x.display());
    }
    const auto deadline = std::chrono::steady_clock::now() + kPictureTimeout;
    Image image = harness::captureScreen(x.display());
    while (!shows(image, expected) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kCaptureInterval);
        image = harness::captureScreen(x.display());
    }
    return image;
}

// ---------------------------------------------------------------- the runs

class HostileFile : public testing::TestWithParam<HostileCase> {
protected:
    void TearDown() override {
        if (HasFailure() && picture.width > 0) {
            const std::filesystem::path saved = harness::testOutputDir() / "screen.png";
            savePng(picture, saved);
            ADD_FAILURE() << "picture saved as " << saved;
        }
    }

    // The program on `dir`; as root it runs as nobody, so permission bits apply to it.
    std::optional<ProgramOptions> options(bool unprivileged) {
        ProgramOptions o;
        o.workDir = dir.path();
        o.display = x.display();
        o.stdoutIsTerminal = true;  // line by line, so the end of start-up can be seen
        if (unprivileged && geteuid() == 0) {
            if (access(kSetpriv, X_OK) != 0) {
                return std::nullopt;
            }
            namespace fs = std::filesystem;
            fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec,
                            fs::perm_options::add);
            o.binary = kSetpriv;
            o.args = {"--reuid=" + std::to_string(kNobody), "--regid=" + std::to_string(kNobody),
                      "--clear-groups", HANDVIEW_BINARY};
        }
        return o;
    }

    Xvfb x;
    WorkDir dir;
    Image picture;
};

TEST_P(HostileFile, RunGoesOnAndConsoleSaysWhat) {
    const HostileCase& c = GetParam();
    c.prepare(dir);
    const std::optional<ProgramOptions> programOptions = options(c.unreadable);
    if (!programOptions) {
        GTEST_SKIP() << "running as root, which reads any file, and " << kSetpriv
                     << " is missing to drop to an unprivileged user";
    }

    ProgramRun run(*programOptions);
    ASSERT_TRUE(run.waitForWindow()) << run.transcript();
    EXPECT_TRUE(awaitEndOfStartUp(run, c)) << "start-up did not end with the import's outcome";
    if (c.picture == Picture::unchecked) {
        std::this_thread::sleep_for(kFramesDelay);
    } else {
        picture = awaitPicture(x, c.picture);
        EXPECT_TRUE(shows(picture, c.picture)) << "the window should show " << describe(c.picture);
    }
    ASSERT_TRUE(run.key("Escape"));
    EXPECT_EQ(run.wait(), 0) << run.transcript();

    const std::string out = run.output();
    const std::string err = run.errors();
    for (const char* report : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"}) {
        EXPECT_EQ(err.find(report), std::string::npos) << err;
        EXPECT_EQ(out.find(report), std::string::npos);
    }
    EXPECT_EQ(err, "") << "only a GLEW failure goes to standard error";

    const Console console = splitConsole(out);
    ASSERT_TRUE(console.ordered) << "expected both compile lines, the link line, then the importer:\n"
                                 << out.substr(0, 4000);
    expectLog(console.vertexLog, c.vertexLog, "vertex");
    expectLog(console.fragmentLog, c.fragmentLog, "fragment");
    expectLog(console.linkLog,
              c.vertexLog == Log::empty && c.fragmentLog == Log::empty ? Log::empty : Log::error, "link");

    EXPECT_EQ(console.importer.find(kNoMeshes), std::string::npos) << console.importer;
    const std::vector<std::string> failures = linesStartingWith(console.importer, kImportFailure);
    if (c.import == Import::succeeds) {
        EXPECT_TRUE(failures.empty()) << console.importer;
    } else {
        ASSERT_EQ(failures.size(), 1u) << console.importer;
        const std::string& reason = failures.front();
        EXPECT_FALSE(reason.empty());
        EXPECT_NE(reason.find(c.reason), std::string::npos) << "reason: " << reason;
        // The line passes on the importer's own last error, which its log has shown already.
        const std::vector<std::string> logged = linesStartingWith(console.importer, "Error, ");
        EXPECT_TRUE(std::any_of(logged.begin(), logged.end(), [&](const std::string& line) {
            return line.find(reason) != std::string::npos;
        })) << console.importer;
    }
}

std::string caseName(const testing::TestParamInfo<HostileCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Mesh, HostileFile, testing::ValuesIn(kMeshCases), caseName);
INSTANTIATE_TEST_SUITE_P(Shaders, HostileFile, testing::ValuesIn(kShaderCases), caseName);

}  // namespace
