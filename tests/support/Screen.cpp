// Screen capture through Xlib, PNG through libpng's simplified API, tolerant image comparison.
#include "support/Screen.h"

#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) break it

#include "support/XDisplay.h"

#include <X11/Xutil.h>
#include <png.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace harness {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kCaptureInterval = std::chrono::milliseconds(250);
constexpr int kDiffDarkening = 4;  // untouched pixels keep a quarter of their brightness

Clock::time_point deadlineAfter(Seconds timeout) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
}

// One channel of an X pixel, widened or narrowed to 8 bits.
std::uint8_t channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) {
        return 0;
    }
    int shift = 0;
    while (!((mask >> shift) & 1UL)) {
        ++shift;
    }
    const int bits = static_cast<int>(std::bitset<64>(mask).count());
    const unsigned long value = (pixel & mask) >> shift;
    const unsigned long maximum = (1UL << bits) - 1;
    return static_cast<std::uint8_t>(value * 255 / maximum);
}

bool pixelDiffers(const std::uint8_t* a, const std::uint8_t* b, int tolerance) {
    for (int c = 0; c < 3; ++c) {
        if (std::abs(int(a[c]) - int(b[c])) > tolerance) {
            return true;
        }
    }
    return false;
}

std::string sanitized(std::string name) {
    std::replace_if(
        name.begin(), name.end(),
        [](char c) {
            return !(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-');
        },
        '_');
    return name;
}

}  // namespace

Image captureScreen(const std::string& display) {
    XDisplay x(display);
    const Window root = DefaultRootWindow(x.get());
    XWindowAttributes attributes{};
    XGetWindowAttributes(x.get(), root, &attributes);
    XImage* xImage = XGetImage(x.get(), root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!xImage) {
        throw std::runtime_error("cannot read the screen of " + display);
    }
    Image image(attributes.width, attributes.height);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const unsigned long value = XGetPixel(xImage, x, y);
            std::uint8_t* out = image.pixel(x, y);
            out[0] = channel(value, xImage->red_mask);
            out[1] = channel(value, xImage->green_mask);
            out[2] = channel(value, xImage->blue_mask);
        }
    }
    XDestroyImage(xImage);
    return image;
}

Image captureSettledScreen(const std::string& display, Seconds minWait, Seconds timeout) {
    const auto deadline = deadlineAfter(timeout);
    std::this_thread::sleep_for(std::chrono::duration_cast<Clock::duration>(minWait));
    Image previous = captureScreen(display);
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(kCaptureInterval);
        Image current = captureScreen(display);
        if (current == previous) {
            return current;
        }
        previous = std::move(current);
    }
    return previous;
}

bool savePng(const Image& image, const std::filesystem::path& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    const bool written = png_image_write_to_file(&png, path.c_str(), 0, image.rgb.data(), 0, nullptr) != 0;
    png_image_free(&png);
    return written;
}

std::optional<Image> loadPng(const std::filesystem::path& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return std::nullopt;
    }
    png.format = PNG_FORMAT_RGB;
    Image image(static_cast<int>(png.width), static_cast<int>(png.height));
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
        png_image_free(&png);
        return std::nullopt;
    }
    return image;
}

ImageComparison compareImages(const Image& actual, const Image& reference, int perChannelTolerance,
                              double maxBadPixelFraction) {
    ImageComparison result;
    result.sameSize = actual.width == reference.width && actual.height == reference.height;
    if (!result.sameSize) {
        return result;
    }
    result.totalPixels = static_cast<size_t>(actual.width) * actual.height;
    for (int y = 0; y < actual.height; ++y) {
        for (int x = 0; x < actual.width; ++x) {
            if (pixelDiffers(actual.pixel(x, y), reference.pixel(x, y), perChannelTolerance)) {
                ++result.badPixels;
            }
        }
    }
    result.matches = double(result.badPixels) <= maxBadPixelFraction * double(result.totalPixels);
    return result;
}

Image diffImage(const Image& actual, const Image& reference, int perChannelTolerance) {
    Image diff = actual;
    const bool sameSize = actual.width == reference.width && actual.height == reference.height;
    for (int y = 0; y < diff.height; ++y) {
        for (int x = 0; x < diff.width; ++x) {
            std::uint8_t* out = diff.pixel(x, y);
            if (sameSize && pixelDiffers(actual.pixel(x, y), reference.pixel(x, y), perChannelTolerance)) {
                out[0] = 255;
                out[1] = 0;
                out[2] = 0;
            } else {
                for (int c = 0; c < 3; ++c) {
                    out[c] = static_cast<std::uint8_t>(out[c] / kDiffDarkening);
                }
            }
        }
    }
    return diff;
}

std::filesystem::path testOutputDir() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        test ? std::string(test->test_suite_name()) + "." + test->name() : "outside-a-test";
    const std::filesystem::path dir = std::filesystem::path(HANDVIEW_TEST_OUTPUT) / sanitized(name);
    std::filesystem::create_directories(dir);
    return dir;
}

bool expectImageMatches(const Image& actual, const std::filesystem::path& reference, int perChannelTolerance,
                        double maxBadPixelFraction) {
    const std::filesystem::path referencePath =
        reference.is_relative() ? std::filesystem::path(HANDVIEW_SOURCE_DIR) / reference : reference;
    const std::optional<Image> expected = loadPng(referencePath);
    const std::filesystem::path dir = testOutputDir();
    const std::string stem = referencePath.stem().string();
    const std::filesystem::path actualPath = dir / (stem + "-actual.png");
    if (!expected) {
        savePng(actual, actualPath);
        ADD_FAILURE() << "no readable reference image " << referencePath
                      << "\n  actual picture: " << actualPath
                      << "\n  (look at it; if it is right, copy it to the reference path)";
        return false;
    }
    const ImageComparison comparison =
        compareImages(actual, *expected, perChannelTolerance, maxBadPixelFraction);
    if (comparison.matches) {
        return true;
    }
    savePng(actual, actualPath);
    if (!comparison.sameSize) {
        ADD_FAILURE() << "picture is " << actual.width << "x" << actual.height << ", reference "
                      << referencePath << " is " << expected->width << "x" << expected->height
                      << "\n  actual picture: " << actualPath;
        return false;
    }
    const std::filesystem::path diffPath = dir / (stem + "-diff.png");
    savePng(diffImage(actual, *expected, perChannelTolerance), diffPath);
    ADD_FAILURE() << comparison.badPixels << " of " << comparison.totalPixels
                  << " pixels differ by more than " << perChannelTolerance << " from " << referencePath
                  << " (allowed: " << maxBadPixelFraction * 100.0 << " %)"
                  << "\n  actual picture: " << actualPath << "\n  differences in red: " << diffPath;
    return false;
}

bool expectScreenMatches(const std::string& display, const std::filesystem::path& reference,
                         int perChannelTolerance, double maxBadPixelFraction, Seconds timeout) {
    const std::filesystem::path referencePath =
        reference.is_relative() ? std::filesystem::path(HANDVIEW_SOURCE_DIR) / reference : reference;
    const std::optional<Image> expected = loadPng(referencePath);
    if (!expected) {
        return expectImageMatches(captureSettledScreen(display), referencePath, perChannelTolerance,
                                  maxBadPixelFraction);
    }
    const auto deadline = deadlineAfter(timeout);
    Image actual = captureScreen(display);
    while (!compareImages(actual, *expected, perChannelTolerance, maxBadPixelFraction).matches &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(kCaptureInterval);
        actual = captureScreen(display);
    }
    return expectImageMatches(actual, referencePath, perChannelTolerance, maxBadPixelFraction);
}

}  // namespace harness
