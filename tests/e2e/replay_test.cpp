// Recorded hand sessions replayed by the real program: the open hand flies the camera closer,
// the pointing finger moves the light, and a broken session file leaves the program without a device.
#include "support/ProgramRun.h"
#include "support/Screen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using harness::Image;
using harness::ProgramRun;
using harness::Seconds;
using harness::WorkDir;
using harness::Xvfb;

namespace {

using Clock = std::chrono::steady_clock;

// The session clock starts when the program creates its tracker, a little after launch.
constexpr Seconds kAfterEndMargin{1.0};
// Long enough for a view that is still moving to show it.
constexpr Seconds kFrozenCheckDelay{1.0};
constexpr int kBlackLevel = 8;            // darker channels count as background
constexpr int kColourfulSpread = 60;      // channel spread of the solids' colours; the grey slab has none
constexpr int kGreySpread = 12;           // channel spread still counted as the grey slab or a highlight
constexpr double kBrightestShare = 0.02;  // of the grey pixels: the pool of light on the slab

std::string shippedSession(const std::string& name) {
    return std::string(HANDVIEW_SOURCE_DIR) + "/tracker/sessions/" + name;
}

// Time of the session's last line ("end" or the last frame), in ms; empty when unreadable.
std::optional<std::int64_t> sessionEndMs(const std::string& path) {
    std::ifstream in(path);
    std::optional<std::int64_t> last;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::int64_t t = 0;
        if (words >> t) {
            last = t;
        }
    }
    return last;
}

int spread(const std::uint8_t* p) {
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
}

template <typename Predicate>
double shareOfPixels(const Image& image, Predicate keep) {
    std::size_t count = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            count += keep(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return double(count) / (double(image.width) * image.height);
}

double sceneShare(const Image& image) {
    return shareOfPixels(image, [](const std::uint8_t* p) {
        return std::max({p[0], p[1], p[2]}) > kBlackLevel;
    });
}

double colourfulShare(const Image& image) {
    return shareOfPixels(image, [](const std::uint8_t* p) { return spread(p) > kColourfulSpread; });
}

// Mean brightness of the left half minus that of the right half.
double leftRightBalance(const Image& image) {
    double left = 0.0;
    double right = 0.0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            (x < image.width / 2 ? left : right) += (p[0] + p[1] + p[2]) / 3.0;
        }
    }
    return (left - right) / (image.width / 2.0 * image.height);
}

// Mean column of the brightest grey pixels: where the light's pool on the slab lies.
double brightestGreyColumn(const Image& image) {
    std::vector<std::pair<int, int>> grey;  // brightness, column
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            if (spread(p) < kGreySpread && std::max({p[0], p[1], p[2]}) > kBlackLevel) {
                grey.emplace_back(p[0] + p[1] + p[2], x);
            }
        }
    }
    const std::size_t count = std::max<std::size_t>(1, std::size_t(grey.size() * kBrightestShare));
    if (grey.size() < count) {
        return -1.0;
    }
    std::nth_element(grey.begin(), grey.begin() + count - 1, grey.end(), std::greater<>());
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += grey[i].second;
    }
    return sum / double(count);
}

// The untouched starting view next to a replay of one session, both pictures taken by the end.
class SessionReplay : public testing::Test {
protected:
    void TearDown() override {
        if (HasFailure()) {
            const std::filesystem::path dir = harness::testOutputDir();
            savePng(start, dir / "start.png");
            savePng(end, dir / "end.png");
            ADD_FAILURE() << "pictures saved in " << dir;
        }
    }

    // Fills `start` and `end`; both runs must quit on Escape with 0.
    void replay(const std::string& session) {
        const std::optional<std::int64_t> endMs = sessionEndMs(session);
        ASSERT_TRUE(endMs) << "cannot read " << session;

        // On a second server at the same time: the start-up runs in parallel with the session.
        Xvfb startX;
        ProgramRun plain(startX, dir);
        const Clock::time_point launched = Clock::now();
        ProgramRun replayed(x, dir, {{"HANDVIEW_REPLAY", session}});
        ASSERT_TRUE(plain.waitForWindow()) << plain.transcript();
        ASSERT_TRUE(replayed.waitForWindow()) << replayed.transcript();

        start = harness::captureSettledScreen(startX.display());
        ASSERT_TRUE(plain.key("Escape"));
        EXPECT_EQ(plain.wait(), 0) << plain.transcript();

        std::this_thread::sleep_until(launched + std::chrono::milliseconds(*endMs) +
                                      std::chrono::duration_cast<Clock::duration>(kAfterEndMargin));
        ASSERT_TRUE(replayed.isRunning()) << replayed.transcript();
        end = harness::captureSettledScreen(x.display(), Seconds{0.5});
        // The controller now reports no device: nothing moves any more.
        std::this_thread::sleep_for(std::chrono::duration_cast<Clock::duration>(kFrozenCheckDelay));
        EXPECT_TRUE(harness::captureScreen(x.display()) == end) << "the view still moves after the session";

        ASSERT_TRUE(replayed.key("Escape"));
        EXPECT_EQ(replayed.wait(), 0) << replayed.transcript();
        EXPECT_EQ(replayed.errors(), "");
    }

    Xvfb x;
    WorkDir dir;
    Image start;
    Image end;
};

TEST_F(SessionReplay, OpenHandFliesCloserAndKeepsSceneInView) {
    replay(shippedSession("fly.txt"));
    ASSERT_FALSE(HasFatalFailure());
    const double before = sceneShare(start);
    const double after = sceneShare(end);
    EXPECT_GT(after, before * 1.3) << "scene covers " << before << " of the screen, then " << after;
    EXPECT_LT(after, 0.9) << "the background has gone: the camera is inside or too close to the scene";
    EXPECT_GT(colourfulShare(end), colourfulShare(start) * 1.3) << "the solids did not grow";
}

TEST_F(SessionReplay, PointingFingerMovesLightToTheLeftAndLeavesCamera) {
    replay(shippedSession("point.txt"));
    ASSERT_FALSE(HasFatalFailure());
    // The same pixels are scene or background: only the lighting changed.
    EXPECT_NEAR(sceneShare(end), sceneShare(start), 0.001);
    const double poolBefore = brightestGreyColumn(start);
    const double poolAfter = brightestGreyColumn(end);
    EXPECT_LT(poolAfter, poolBefore - end.width / 6.0)
        << "the brightest part of the slab went from column " << poolBefore << " to " << poolAfter;
    EXPECT_GT(leftRightBalance(end), leftRightBalance(start) + 4.0);
}

TEST(BrokenSession, ReportsFileAndLineOnceAndRunsWithoutDevice) {
    WorkDir dir;
    // The first frame would place the light, had the file been taken.
    dir.writeFile("broken.txt",
                  "# handview hand session\n"
                  "0 hand 0 200 100 0 -1 0 10 230 -20\n"
                  "16 hand 0 200 100 0 -1 0 10 230\n"
                  "1000 end\n");
    const std::string path = dir.file("broken.txt").string();
    Xvfb x;
    Xvfb plainX;
    ProgramRun run(x, dir, {{"HANDVIEW_REPLAY", path}});
    ProgramRun plain(plainX, dir);
    ASSERT_TRUE(run.waitForWindow()) << run.transcript();
    ASSERT_TRUE(plain.waitForWindow()) << plain.transcript();
    const Image picture = harness::captureSettledScreen(x.display());
    const Image plainPicture = harness::captureSettledScreen(plainX.display());
    ASSERT_TRUE(run.key("Escape"));
    EXPECT_EQ(run.wait(), 0) << run.transcript();
    ASSERT_TRUE(plain.key("Escape"));
    EXPECT_EQ(plain.wait(), 0) << plain.transcript();

    const std::string errors = run.errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_EQ(errors.back(), '\n') << errors;
    EXPECT_NE(errors.find(path), std::string::npos) << errors;
    EXPECT_NE(errors.find("line 3"), std::string::npos) << errors;
    EXPECT_TRUE(picture == plainPicture) << "the view differs from a run without a session";
}

}  // namespace
