// The host's resampler spreads the rows of a resize over the cores; every byte
// must be what the same resize computed on one thread gives.
#include "ResampleModuleApi.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <cstdint>
#include <random>
#include <vector>

namespace {

struct ResizeCase {
    const char* name;
    unsigned int sourceWidth;
    unsigned int sourceHeight;
    unsigned int targetWidth;
    unsigned int targetHeight;
};

std::ostream& operator<<(std::ostream& out, const ResizeCase& resizeCase)
{
    return out << resizeCase.name;
}

// Noise with every alpha, 0 and 255 often, so that the alpha weighting matters.
std::vector<unsigned char> noisyPixels(unsigned int width, unsigned int height)
{
    std::mt19937 random(width * 7919u + height);
    std::vector<unsigned char> pixels(std::size_t { width } * height * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const unsigned value = random() % 320;
        pixels[i] = static_cast<unsigned char>(value > 255 ? (i % 4 == 3 ? 0 : 255) : value);
    }
    return pixels;
}

std::vector<unsigned char> resized(const std::vector<unsigned char>& source, const ResizeCase& size)
{
    std::vector<unsigned char> target(std::size_t { size.targetWidth } * size.targetHeight * 4);
    EXPECT_EQ(pictile_resample_rgba(source.data(), size.sourceWidth, size.sourceHeight, target.data(),
                  size.targetWidth, size.targetHeight),
        1);
    return target;
}

// The resampler on one thread, as it runs on a one-core machine.
std::vector<unsigned char> singleThreadResize(
    const std::vector<unsigned char>& source, const ResizeCase& size)
{
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    std::vector<unsigned char> target = resized(source, size);
    cv::setNumThreads(threads);
    return target;
}

class SplitResize : public testing::TestWithParam<ResizeCase> { };

TEST_P(SplitResize, GivesTheSingleThreadResultByteForByte)
{
    const ResizeCase& size = GetParam();
    ASSERT_GT(cv::getNumThreads(), 1) << "nothing to compare on one thread";
    const std::vector<unsigned char> source = noisyPixels(size.sourceWidth, size.sourceHeight);
    for (const bool opaque : { false, true }) {
        std::vector<unsigned char> pixels = source;
        if (opaque) {
            for (std::size_t i = 3; i < pixels.size(); i += 4)
                pixels[i] = 255;
        }
        EXPECT_TRUE(resized(pixels, size) == singleThreadResize(pixels, size))
            << (opaque ? "opaque" : "alpha");
    }
}

// Odd sizes throughout, each filter and both orders of the two-pass resize; the
// last is too small for OpenCV to split.
INSTANTIATE_TEST_SUITE_P(Sizes, SplitResize,
    testing::Values(ResizeCase { "shrinkBoth", 733, 521, 301, 219 },
        ResizeCase { "shrinkSlightly", 1027, 1023, 1024, 1021 },
        ResizeCase { "shrinkToFewRows", 1921, 1081, 129, 33 },
        ResizeCase { "widenAndShrinkHeight", 301, 877, 799, 411 },
        ResizeCase { "keepHeightNarrow", 1025, 513, 1021, 513 },
        ResizeCase { "oddHalves", 641, 481, 640, 479 }, ResizeCase { "growBoth", 311, 211, 937, 641 },
        ResizeCase { "growHeightOnly", 523, 301, 517, 603 },
        ResizeCase { "tooSmallToSplit", 37, 29, 19, 13 }),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
