#include "ReferenceBlocks.h"
#include "pixelBlocks.h"

#include <gtest/gtest.h>

#include <random>

namespace pictile::test {
namespace {

TEST(FittedLength, RoundsDownToWholeSteps)
{
    EXPECT_EQ(fittedLength(25, 10), 20u);
    EXPECT_EQ(fittedLength(20, 10), 20u);
    EXPECT_EQ(fittedLength(9, 10), 0u);
    EXPECT_EQ(fittedLength(4294967295u, 1), 4294967295u);
}

TEST(SampleBlocks, TakesTheFirstPixelOfEachBlockInRowOrder)
{
    // 4 x 2 pixels, each byte its own index.
    std::vector<unsigned char> pixels(4 * 2 * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i);
    const std::vector<int> values = sampleBlocks(pixels.data(), BlockGrid { 4, 2, 2, 1 });
    EXPECT_EQ(values, (std::vector<int> { 0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19, 24, 25, 26, 27 }));
}

// The kernel sums whole numbers where the plain walk sums reals; both must give
// the same values everywhere, with and without grey.
TEST(AverageBlocks, MatchesThePlainWalkOnRandomImages)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 200; ++round) {
        const unsigned int stepX = 1 + random() % 17;
        const unsigned int stepY = 1 + random() % 17;
        const unsigned int width = stepX * (1 + random() % 9);
        const unsigned int height = stepY * (1 + random() % 9);
        std::vector<unsigned char> pixels(std::size_t { width } * height * 4);
        // Mostly extremes, so that sums land near whole-number boundaries.
        for (unsigned char& byte : pixels)
            byte = random() % 3 == 0 ? static_cast<unsigned char>(random()) : (random() % 2 ? 255 : 0);
        for (bool grey : { false, true }) {
            const std::vector<int> expected
                = referenceAverage(pixels.data(), width, height, stepX, stepY, grey);
            ASSERT_EQ(averageBlocks(pixels.data(), BlockGrid { width, height, stepX, stepY }, grey), expected)
                << width << "x" << height << " steps " << stepX << "x" << stepY << (grey ? " grey" : "");
        }
    }
}

TEST(AverageBlocks, EmptyGridGivesNothing)
{
    EXPECT_TRUE(averageBlocks(nullptr, BlockGrid { 0, 0, 10, 10 }, false).empty());
    EXPECT_TRUE(sampleBlocks(nullptr, BlockGrid { 0, 0, 10, 10 }).empty());
}

}  // namespace
}  // namespace pictile::test
