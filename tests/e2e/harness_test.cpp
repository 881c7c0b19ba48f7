// The picture comparison that every reference-image test relies on: a wrong picture must fail.
#include "support/Screen.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using harness::Image;

namespace {

constexpr int kTolerance = 8;

Image filled(int width, int height, std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = image.pixel(x, y);
            pixel[0] = red;
            pixel[1] = green;
            pixel[2] = blue;
        }
    }
    return image;
}

TEST(ImageComparison, CountsPixelsBeyondToleranceInAnyChannel) {
    const Image reference = filled(10, 10, 100, 100, 100);
    Image actual = reference;
    actual.pixel(0, 0)[0] = 100 + kTolerance;      // at the limit: fine
    actual.pixel(1, 0)[1] = 100 + kTolerance + 1;  // one past it
    actual.pixel(2, 0)[2] = 100 - kTolerance - 1;
    const harness::ImageComparison comparison = harness::compareImages(actual, reference, kTolerance, 0.0);
    EXPECT_TRUE(comparison.sameSize);
    EXPECT_EQ(comparison.badPixels, 2u);
    EXPECT_EQ(comparison.totalPixels, 100u);
    EXPECT_FALSE(comparison.matches);
    EXPECT_TRUE(harness::compareImages(actual, reference, kTolerance, 0.02).matches);
    EXPECT_FALSE(harness::compareImages(actual, reference, kTolerance, 0.019).matches);
}

TEST(ImageComparison, DifferentSizesNeverMatch) {
    EXPECT_FALSE(harness::compareImages(filled(4, 3, 0, 0, 0), filled(3, 4, 0, 0, 0), 255, 1.0).matches);
}

TEST(ImageComparison, PngKeepsEveryByte) {
    Image image = filled(7, 5, 1, 2, 3);
    image.pixel(6, 4)[1] = 250;
    const std::filesystem::path path = harness::testOutputDir() / "roundtrip.png";
    ASSERT_TRUE(harness::savePng(image, path));
    const std::optional<Image> loaded = harness::loadPng(path);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(*loaded == image);
    EXPECT_FALSE(harness::loadPng(harness::testOutputDir() / "missing.png"));
}

TEST(ImageComparison, MismatchFailsAndLeavesActualAndRedDiff) {
    const Image reference = filled(8, 8, 50, 60, 70);
    const std::filesystem::path referencePath = harness::testOutputDir() / "plain.png";
    ASSERT_TRUE(harness::savePng(reference, referencePath));
    Image actual = reference;
    actual.pixel(3, 4)[0] = 200;
    EXPECT_NONFATAL_FAILURE(harness::expectImageMatches(actual, referencePath, kTolerance, 0.0),
                            "1 of 64 pixels differ");
    const std::optional<Image> diff = harness::loadPng(harness::testOutputDir() / "plain-diff.png");
    ASSERT_TRUE(diff);
    EXPECT_EQ(diff->pixel(3, 4)[0], 255);
    EXPECT_EQ(diff->pixel(3, 4)[1], 0);
    EXPECT_LT(diff->pixel(0, 0)[0], reference.pixel(0, 0)[0]);  // the rest darkened
    EXPECT_TRUE(harness::loadPng(harness::testOutputDir() / "plain-actual.png"));
    EXPECT_TRUE(harness::expectImageMatches(reference, referencePath, kTolerance, 0.0));
}

}  // namespace
