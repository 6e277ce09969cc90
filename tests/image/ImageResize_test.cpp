// The host's resize computes large shrinking resizes in two halves on two
// threads; every byte must be what one whole-image call of the resampler gives.
#include "ImageResize.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "StbImageResize.h"

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

// The resampler called once for the whole image, as the host did before it
// split the work.
std::vector<unsigned char> wholeImageResize(const std::vector<unsigned char>& source, const ResizeCase& size)
{
    std::vector<unsigned char> target(std::size_t { size.targetWidth } * size.targetHeight * 4);
    const int done = stbir_resize_uint8_generic(source.data(), int(size.sourceWidth), int(size.sourceHeight),
        0, target.data(), int(size.targetWidth), int(size.targetHeight), 0, 4, 3, 0, STBIR_EDGE_CLAMP,
        STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr);
    EXPECT_NE(done, 0);
    return target;
}

class SplitResize : public testing::TestWithParam<ResizeCase> { };

TEST_P(SplitResize, GivesTheWholeImageResultByteForByte)
{
    const ResizeCase& size = GetParam();
    const std::vector<unsigned char> source = noisyPixels(size.sourceWidth, size.sourceHeight);
    std::vector<unsigned char> target(std::size_t { size.targetWidth } * size.targetHeight * 4);
    ASSERT_TRUE(host::resampleRgba(source.data(), size.sourceWidth, size.sourceHeight, target.data(),
        size.targetWidth, size.targetHeight));
    EXPECT_TRUE(target == wholeImageResize(source, size));
}

// Odd sizes throughout; all but the last three are large enough to be split.
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
