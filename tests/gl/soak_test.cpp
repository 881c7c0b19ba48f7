// A long hand session replayed through the real App in this process, as fast as it draws:
// the camera's matrices and the light stay finite every frame and resident memory stays flat.
// scripts/soak runs it for minutes (HANDVIEW_SOAK_SESSION, HANDVIEW_SOAK_MIN_FRAMES); here 30 s.
#include "app/App.h"

#include <assimp/cimport.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Leap.h"
#include "app/FrameTime.h"
#include "camera/HandControl.h"
#include "render/OglLight.h"
#include "support/GlWindow.h"
#include "support/ProgramRun.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kShortSessionS = 30;
constexpr long kDefaultMinFrames = 1000;  // both builds reach it in the short run on a loaded machine
// Caches, the driver's shader variants and the allocator settle in the first sixth, at most 15 s.
constexpr double kMaxWarmUpS = 15.0;
constexpr double kMaxWindowS = 60.0;  // RSS is compared between the first and the last window
constexpr long kRssGrowthBoundKb = 5 * 1024;
constexpr double kOverrunS = 60.0;  // a stuck replay ends the run this long after its end

// AddressSanitizer holds freed blocks in a quarantine of up to 256 MB, so RSS there swings by
// tens of megabytes with the allocation pattern; LeakSanitizer checks that build for leaks instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRssIsMeaningful = false;
#else
constexpr bool kRssIsMeaningful = true;
#endif

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

long envNumber(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

bool allFinite(const float* values, int count) {
    return std::all_of(values, values + count, [](float v) { return std::isfinite(v); });
}

bool allFinite(const Vec3& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool cameraAndLightFinite(const App& app) {
    const LeapCam& camera = app.camera;
    const LightValue3& light = app.light.position;
    return allFinite(camera.mvp.m, 16) && allFinite(camera.mvpInverse.m, 16) && allFinite(camera.position) &&
           allFinite(camera.target) && std::isfinite(camera.yaw) && std::isfinite(camera.pitch) &&
           std::isfinite(light.x) && std::isfinite(light.y) && std::isfinite(light.z);
}

std::string describeState(const App& app) {
    const LeapCam& camera = app.camera;
    std::ostringstream text;
    text << "at " << app.frame.timestamp() << " ms of the session: position " << camera.position.x << ' '
         << camera.position.y << ' ' << camera.position.z << ", yaw " << camera.yaw << ", pitch "
         << camera.pitch << "\nmvp";
    for (float v : camera.mvp.m) text << ' ' << v;
    text << "\ninverse";
    for (float v : camera.mvpInverse.m) text << ' ' << v;
    text << "\nlight " << app.light.position.x << ' ' << app.light.position.y << ' ' << app.light.position.z;
    return text.str();
}

// VmRSS once a second of the run.
class RssLog {
public:
    void sample(double atS) {
        if (samples_.empty() || atS - samples_.back().atS >= 1.0) samples_.push_back({atS, residentKb()});
    }
    long maxBetween(double fromS, double toS) const {
        long most = -1;
        for (const Sample& s : samples_)
            if (s.atS >= fromS && s.atS < toS) most = std::max(most, s.kb);
        return most;
    }
    long peak() const { return maxBetween(0.0, std::numeric_limits<double>::infinity()); }

private:
    struct Sample {
        double atS;
        long kb;
    };
    std::vector<Sample> samples_;
};

// The soak session: the one named by HANDVIEW_SOAK_SESSION, or a short one written into `dir`.
std::string sessionPath(const harness::WorkDir& dir) {
    if (const char* given = std::getenv("HANDVIEW_SOAK_SESSION"); given != nullptr && *given != '\0') {
        return given;
    }
    const std::string path = dir.file("soak.txt").string();
    // Not under the sanitizer build's preloaded runtime, which would report the interpreter's leaks.
    const std::string command = "env -u LD_PRELOAD python3 '" + std::string(HANDVIEW_SOURCE_DIR) +
                                "/scripts/make-soak-session' --seconds " + std::to_string(kShortSessionS) +
                                " '" + path + "'";
    return std::system(command.c_str()) == 0 ? path : std::string();
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "the App needs an X display";
        inDir.emplace(dir.path());
        app = std::make_unique<App>();
        bool started = false;
        const std::string output = harness::captureStdout([&] { started = app->init(); });
        ASSERT_TRUE(started) << output;
        harness::pinGlDriver();
        ASSERT_FALSE(app->mesh.parts.empty()) << "the shipped scene did not load:\n" << output;
    }

    void TearDown() override {
        app.reset();
        SDL_Quit();
        aiDetachAllLogStreams();
        frameTime = 0.0;
    }

    harness::WorkDir dir;
    std::optional<harness::ScopedChdir> inDir;
    std::unique_ptr<App> app;
};

TEST_F(Soak, LongReplayKeepsCameraFiniteAndMemoryFlat) {
    const std::string path = sessionPath(dir);
    ASSERT_FALSE(path.empty()) << "could not write the soak session";
    double lastMs = 0;  // the session's last timestamp: its end
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        double t = 0;
        if (fields >> t) lastMs = t;
    }
    const double sessionS = lastMs / 1000.0;
    const long minFrames = envNumber("HANDVIEW_SOAK_MIN_FRAMES", kDefaultMinFrames);
    setenv("HANDVIEW_REPLAY", path.c_str(), 1);
    app->controller = Leap::Controller();
    unsetenv("HANDVIEW_REPLAY");

    // The main loop's own order: events, the frame, then the frame time of this pass.
    const Clock::time_point start = Clock::now();
    auto secondsSinceStart = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
    RssLog rss;
    rss.sample(0.0);
    std::int64_t previousNs = 0;
    long frames = 0;
    long pointingFrames = 0;
    long flyingFrames = 0;
    while (app->running && app->controller.isConnected() && secondsSinceStart() < sessionS + kOverrunS) {
        app->pollEvents();
        app->step();
        ++frames;
        if (readFingerTip(app->frame).x != kNoReadingValue) {
            ++(readHandOpen(app->frame) ? flyingFrames : pointingFrames);
        }
        const std::int64_t nowNs =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        frameTime = wallToSeconds(previousNs, nowNs);
        previousNs = nowNs;
        ASSERT_TRUE(cameraAndLightFinite(*app)) << "frame " << frames << ' ' << describeState(*app);
        rss.sample(nowNs / 1e9);
    }
    const double runS = secondsSinceStart();
    EXPECT_FALSE(app->controller.isConnected()) << "the session had not ended after " << runS << " s";
    EXPECT_GT(pointingFrames, 0);
    EXPECT_GT(flyingFrames, 0);

    // Escape, as the user ends the run.
    SDL_Event escape{};
    escape.type = SDL_KEYDOWN;
    escape.key.keysym.sym = SDLK_ESCAPE;
    ASSERT_EQ(SDL_PushEvent(&escape), 1) << SDL_GetError();
    app->pollEvents();
    EXPECT_FALSE(app->running);

    const double warmUpS = std::min(kMaxWarmUpS, runS / 6.0);
    const double windowS = std::min(kMaxWindowS, (runS - warmUpS) / 2.0);
    const long firstKb = rss.maxBetween(warmUpS, warmUpS + windowS);
    const long lastKb = rss.maxBetween(runS - windowS, runS + 1.0);
    std::printf(
        "soak: %ld frames (%ld pointing, %ld flying) in %.1f s, %.0f frames/s; RSS max %.1f MB in "
        "the first %.0f s after %.0f s of warm-up, %.1f MB in the last, peak %.1f MB%s; camera ends at "
        "(%.1f %.1f %.1f)\n",
        frames, pointingFrames, flyingFrames, runS, frames / runS, firstKb / 1024.0, windowS, warmUpS,
        lastKb / 1024.0, rss.peak() / 1024.0, kRssIsMeaningful ? "" : " (sanitizer build: not checked)",
        app->camera.position.x, app->camera.position.y, app->camera.position.z);
    EXPECT_GE(frames, minFrames) << "in " << runS << " s";
    ASSERT_GT(firstKb, 0) << "no RSS sample after the warm-up";
    if (kRssIsMeaningful) {
        EXPECT_LT(lastKb - firstKb, kRssGrowthBoundKb)
            << "resident memory grew from " << firstKb << " kB to " << lastKb << " kB";
    }
}

}  // namespace
