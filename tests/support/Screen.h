// Pictures of a test's X screen: capture, PNG files and comparison against reference images.
// Use: EXPECT_TRUE(expectScreenMatches(x.display(), "tests/reference/start.png", 8, 0.001));
// On a mismatch the actual picture and a diff go to HANDVIEW_TEST_OUTPUT/<Suite.Test>/.
#pragma once

#include "support/ProgramRun.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace harness {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // rows from the top, three bytes per pixel

    Image() = default;
    Image(int widthPx, int heightPx)
        : width(widthPx), height(heightPx), rgb(static_cast<size_t>(widthPx) * heightPx * 3) {}
    std::uint8_t* pixel(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    const std::uint8_t* pixel(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
    bool operator==(const Image& other) const {
        return width == other.width && height == other.height && rgb == other.rgb;
    }
};

// The whole root window of `display`, e.g. Xvfb::display().
Image captureScreen(const std::string& display);
// Waits `minWait` (frames get drawn), then until two captures a moment apart are identical.
Image captureSettledScreen(const std::string& display, Seconds minWait = Seconds{1.0},
                           Seconds timeout = kStartTimeout);

bool savePng(const Image& image, const std::filesystem::path& path);
std::optional<Image> loadPng(const std::filesystem::path& path);

struct ImageComparison {
    bool sameSize = false;
    std::size_t badPixels = 0;  // pixels with a channel off by more than the tolerance
    std::size_t totalPixels = 0;
    bool matches = false;  // same size and badPixels within the allowed fraction
};
ImageComparison compareImages(const Image& actual, const Image& reference, int perChannelTolerance,
                              double maxBadPixelFraction);
// A darkened copy of `actual` with the bad pixels in pure red.
Image diffImage(const Image& actual, const Image& reference, int perChannelTolerance);

// HANDVIEW_TEST_OUTPUT/<Suite.Test>/ of the running test, created on demand.
std::filesystem::path testOutputDir();

// Records a test failure on a mismatch and saves actual + diff (paths in the message). A missing
// reference also fails, with the actual picture saved for review. A relative reference path is
// taken from the repository root.
bool expectImageMatches(const Image& actual, const std::filesystem::path& reference, int perChannelTolerance,
                        double maxBadPixelFraction);
// Captures repeatedly until the screen matches or `timeout` passes; then as expectImageMatches.
bool expectScreenMatches(const std::string& display, const std::filesystem::path& reference,
                         int perChannelTolerance, double maxBadPixelFraction,
                         Seconds timeout = kStartTimeout);

}  // namespace harness
