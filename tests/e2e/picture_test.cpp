// What the program shows: the default scene, a scene without materials and no scene at all,
// compared with checked-in reference images.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/ProgramRun.h"
#include "support/Screen.h"
#include "support/TestData.h"

using harness::Image;
using harness::ProgramRun;
using harness::WorkDir;
using harness::Xvfb;

namespace {
// llvmpipe is deterministic on one machine; CPUs with other vector units may round a few
// edge pixels differently, which this allows.
constexpr int kChannelTolerance = 8;
constexpr double kBadPixelFraction = 0.002;

// The shipped scene with its materials removed: every part falls back to white.
std::string withoutMaterials(const std::string& obj) {
    std::istringstream in(obj);
    std::string line, out;
    while (std::getline(in, line))
        if (line.rfind("mtllib", 0) != 0 && line.rfind("usemtl", 0) != 0) out += line + "\n";
    return out;
}

size_t litPixels(const Image& image) {
    size_t lit = 0;
    for (size_t i = 0; i < image.rgb.size(); i += 3)
        if (image.rgb[i] | image.rgb[i + 1] | image.rgb[i + 2]) ++lit;
    return lit;
}

void quitWithZero(ProgramRun& run) {
    ASSERT_TRUE(run.key("Escape"));
    EXPECT_EQ(run.wait(), 0) << run.transcript();
}
}  // namespace

TEST(Picture, DefaultSceneMatchesReference) {
    Xvfb x;
    WorkDir dir;
    ProgramRun run(x, dir);
    ASSERT_TRUE(run.waitForWindow()) << run.transcript();
    EXPECT_TRUE(harness::expectScreenMatches(x.display(), "tests/reference/default-scene.png",
                                             kChannelTolerance, kBadPixelFraction));
    quitWithZero(run);
    // The shipped shaders compile and link without a word from the driver.
    EXPECT_EQ(run.output().rfind("Compiling shader : shaders\\simple\\ColoredPointL.vsh\n\n"
                                 "Compiling shader : shaders\\simple\\ColoredPointL.fsh\n\n"
                                 "Linking program\n\n",
                                 0),
              0u)
        << run.output();
}

TEST(Picture, SceneWithoutMaterialsIsDrawnWhite) {
    Xvfb x;
    WorkDir dir;
    dir.writeFile("obj/shapes.obj", withoutMaterials(readFile(dir.file("obj/shapes.obj"))));
    ProgramRun run(x, dir);
    ASSERT_TRUE(run.waitForWindow()) << run.transcript();
    EXPECT_TRUE(harness::expectScreenMatches(x.display(), "tests/reference/no-materials.png",
                                             kChannelTolerance, kBadPixelFraction));
    quitWithZero(run);
}

TEST(Picture, MissingMeshGivesABlackScreenAndRunsOn) {
    Xvfb x;
    WorkDir dir;
    dir.removeFile("obj/shapes.obj");
    ProgramRun run(x, dir);
    ASSERT_TRUE(run.waitForWindow()) << run.transcript();
    const Image screen = harness::captureSettledScreen(x.display());
    EXPECT_EQ(litPixels(screen), 0u);
    quitWithZero(run);
    EXPECT_NE(run.output().find("Could not import obj/shapes.obj: "), std::string::npos) << run.output();
}
