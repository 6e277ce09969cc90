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

// Mostly extremes, so that sums land near whole-number boundaries.
std::vector<unsigned char> randomPixels(std::mt19937& random, unsigned int width, unsigned int height)
{
    std::vector<unsigned char> pixels(std::size_t { width } * height * 4);
    for (unsigned char& byte : pixels)
        byte = random() % 3 == 0 ? static_cast<unsigned char>(random()) : (random() % 2 ? 255 : 0);
    return pixels;
}

void expectPlainWalkValues(const std::vector<unsigned char>& pixels, const BlockGrid& grid)
{
    for (bool grey : { false, true }) {
        const std::vector<int> expected
            = referenceAverage(pixels.data(), grid.width, grid.height, grid.stepX, grid.stepY, grey);
        ASSERT_EQ(averageBlocks(pixels.data(), grid, grey), expected)
            << grid.width << "x" << grid.height << " steps " << grid.stepX << "x" << grid.stepY
            << (grey ? " grey" : "");
        // The same walk writing into one array, as the benchmarks time it.
        std::vector<int> into(expected.size());
        averageBlocksInto(into.data(), pixels.data(), grid, grey);
        ASSERT_EQ(into, expected) << "into one array";
    }
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
        expectPlainWalkValues(randomPixels(random, width, height), BlockGrid { width, height, stepX, stepY });
    }
}

// Steps of 1 and 2 take their own folding code; large steps change the width of
// the column sums (at 257 and 258 rows); wide images cross many vector widths at
// once.
TEST(AverageBlocks, MatchesThePlainWalkAcrossTheKernelsPaths)
{
    const BlockGrid grids[] = {
        { 64, 8, 1, 1 },
        { 62, 6, 2, 2 },
        { 60, 7, 2, 1 },
        { 61, 8, 1, 2 },
        { 4099, 3, 1, 3 },
        { 4098, 4, 2, 4 },
        { 3, 257, 1, 257 },
        { 6, 516, 3, 258 },
        { 2, 771, 1, 771 },
        { 999, 5, 333, 5 },
        { 1000, 10, 100, 10 },
        { 4096, 64, 64, 64 },
    };
    std::mt19937 random(977);
    for (const BlockGrid& grid : grids)
        expectPlainWalkValues(randomPixels(random, grid.width, grid.height), grid);
}

// One block of a single column, all 255 but one sample of each channel at 254:
// every channel sums to one less than 255 times the block, so every truncated
// average, and the grey of them, is 254. A column sum that wraps around gives
// far less, and a division that rounds up gives 255. The heights put the sums
// just past 16 bits, at the edge of the multiply-and-shift division (2^31 / 255
// pixels) and of 32 bits.
TEST(AverageBlocks, TallBlocksNeitherWrapNorRoundUp)
{
    const std::uint32_t heights[] = { 258, 8421504, 8421505, 16843009, 16843010 };
    for (std::uint32_t height : heights) {
        std::vector<unsigned char> pixels(std::size_t { height } * 4, 255);
        std::fill(pixels.begin() + 4 * (height / 2), pixels.begin() + 4 * (height / 2) + 4, 254);
        const BlockGrid grid { 1, height, 1, height };
        EXPECT_EQ(averageBlocks(pixels.data(), grid, false), (std::vector<int> { 254, 254, 254, 254 }))
            << height;
        EXPECT_EQ(averageBlocks(pixels.data(), grid, true), (std::vector<int> { 254, 254, 254, 254 }))
            << height << " grey";
    }
}

// The commands append each row of blocks as it comes, so that the whole result
// is never held twice: one call per row of blocks, with that row's values.
TEST(BlockRows, ComeOneRowOfBlocksAtATime)
{
    std::vector<unsigned char> pixels(6 * 4 * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<unsigned char>(i);
    const BlockGrid grid { 6, 4, 3, 2 };
    for (const bool average : { false, true }) {
        std::vector<std::vector<int>> rows;
        const BlockRowSink take
            = [&rows](const int* values, std::size_t count) { rows.emplace_back(values, values + count); };
        if (average)
            averageBlockRows(pixels.data(), grid, false, take);
        else
            sampleBlockRows(pixels.data(), grid, take);
        const std::vector<int> whole
            = average ? averageBlocks(pixels.data(), grid, false) : sampleBlocks(pixels.data(), grid);
        ASSERT_EQ(rows.size(), 2u) << (average ? "average" : "sample");
        EXPECT_EQ(rows[0], std::vector<int>(whole.begin(), whole.begin() + 8));
        EXPECT_EQ(rows[1], std::vector<int>(whole.begin() + 8, whole.end()));
    }
}

TEST(AverageBlocks, EmptyGridGivesNothing)
{
    EXPECT_TRUE(averageBlocks(nullptr, BlockGrid { 0, 0, 10, 10 }, false).empty());
    EXPECT_TRUE(sampleBlocks(nullptr, BlockGrid { 0, 0, 10, 10 }).empty());
}

}  // namespace
}  // namespace pictile::test
