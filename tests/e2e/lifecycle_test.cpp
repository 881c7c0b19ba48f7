// The whole program as a process: how a run starts, ends, and fails to start.
#include "support/ProgramRun.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using harness::ProgramOptions;
using harness::ProgramRun;
using harness::Seconds;
using harness::WorkDir;
using harness::Xvfb;

namespace {

// Long enough for a program that ended on its own, or ignored what it was waiting for, to show it.
constexpr Seconds kStillRunningDelay{2.0};

// The program with the shipped data, its window up.
class RunningProgram : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(run.waitForWindow()) << run.transcript(); }

    Xvfb x;
    WorkDir dir;
    ProgramRun run{x, dir};
};

TEST_F(RunningProgram, EscapeEndsRunWithZero) {
    ASSERT_TRUE(run.key("Escape"));
    EXPECT_EQ(run.wait(), 0) << run.transcript();
}

TEST_F(RunningProgram, WindowCloseEndsRunWithZero) {
    ASSERT_TRUE(run.closeWindow());
    EXPECT_EQ(run.wait(), 0) << run.transcript();
}

TEST_F(RunningProgram, TermSignalEndsRunWithZero) {
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), 0) << run.transcript();
}

TEST_F(RunningProgram, OtherKeysAndMouseLeaveItRunning) {
    for (const char* key : {"a", "space", "Return", "q", "alt+F4"}) {
        ASSERT_TRUE(run.key(key));
    }
    ASSERT_TRUE(run.xdotool({"mousemove", "100", "100", "click", "1", "click", "3"}));
    std::this_thread::sleep_for(kStillRunningDelay);
    EXPECT_TRUE(run.isRunning()) << run.transcript();
    ASSERT_TRUE(run.key("Escape"));
    EXPECT_EQ(run.wait(), 0) << run.transcript();
}

// A size other than the usual test screen, so a hard-coded size cannot pass.
TEST(Window, CoversTheWholeDesktop) {
    constexpr int kWidthPx = 800;
    constexpr int kHeightPx = 600;
    Xvfb x(kWidthPx, kHeightPx);
    WorkDir dir;
    ProgramRun run(x, dir);
    ASSERT_TRUE(run.waitForWindow()) << run.transcript();
    const std::optional<harness::WindowGeometry> geometry = run.windowGeometry();
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->left, 0);
    EXPECT_EQ(geometry->top, 0);
    EXPECT_EQ(geometry->width, kWidthPx);
    EXPECT_EQ(geometry->height, kHeightPx);
    ASSERT_TRUE(run.key("Escape"));
    EXPECT_EQ(run.wait(), 0) << run.transcript();
}

TEST(StartupFailure, NoVideoExitsWithMinusOneAndPrintsNothing) {
    WorkDir dir;
    ProgramOptions options;
    options.workDir = dir.path();
    options.env = {{"SDL_VIDEODRIVER", "nonexistent"}};
    ProgramRun run(options);
    EXPECT_EQ(run.wait(), 255) << run.transcript();
    EXPECT_EQ(run.output(), "");
    EXPECT_EQ(run.errors(), "");
}

// SDL's offscreen driver gives an EGL context, which the GLX build of GLEW cannot load.
TEST(StartupFailure, GlewFailureReportsThenWaitsForOneCharacter) {
    Xvfb x;
    WorkDir dir;
    ProgramRun run(x, dir, {{"SDL_VIDEODRIVER", "offscreen"}});
    ASSERT_TRUE(run.waitForOutput("Error: Unknown error\n", ProgramRun::Stream::err)) << run.transcript();
    std::this_thread::sleep_for(kStillRunningDelay);
    ASSERT_TRUE(run.isRunning()) << "ended without waiting for input\n" << run.transcript();
    run.writeStdin("x");
    EXPECT_EQ(run.wait(), 255) << run.transcript();
    EXPECT_EQ(run.errors(), "Error: Unknown error\n");
    // Start-up stops at the failure: nothing after it (shaders come next) may run.
    EXPECT_EQ(run.output().find("Compiling shader"), std::string::npos) << run.transcript();
}

}  // namespace
