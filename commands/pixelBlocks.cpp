#include "pixelBlocks.h"

#include <algorithm>
#include <cstddef>

namespace pictile {

namespace {

constexpr std::size_t kChannels = 4;

void appendGreyBlock(std::vector<int>& values, const std::uint64_t* sums, std::uint64_t pixelCount)
{
    const double count = static_cast<double>(pixelCount);
    // The grey value comes from the unrounded averages, so 1.5, 1.5 and 0.5 give
    // 1, not the 0 that the truncated averages would.
    const double red = static_cast<double>(sums[0]) / count;
    const double green = static_cast<double>(sums[1]) / count;
    const double blue = static_cast<double>(sums[2]) / count;
    const int grey = static_cast<int>((red + green + blue) / 3.0);
    values.push_back(grey);
    values.push_back(grey);
    values.push_back(grey);
    values.push_back(static_cast<int>(sums[3] / pixelCount));
}

void appendColourBlock(std::vector<int>& values, const std::uint64_t* sums, std::uint64_t pixelCount)
{
    // Whole-number division truncates exactly as dividing the sums as reals and
    // dropping the fraction would: the sums stay far below 2^53.
    for (std::size_t channel = 0; channel < kChannels; ++channel)
        values.push_back(static_cast<int>(sums[channel] / pixelCount));
}

}  // namespace

std::vector<int> sampleBlocks(const unsigned char* pixels, const BlockGrid& grid)
{
    std::vector<int> values;
    values.reserve(std::size_t { grid.columns() } * grid.rows() * kChannels);
    for (std::uint32_t y = 0; y != grid.height; y += grid.stepY) {
        const unsigned char* row = pixels + std::size_t { y } * grid.width * kChannels;
        for (std::uint32_t x = 0; x != grid.width; x += grid.stepX) {
            const unsigned char* pixel = row + std::size_t { x } * kChannels;
            values.insert(values.end(), pixel, pixel + kChannels);
        }
    }
    return values;
}

std::vector<int> averageBlocks(const unsigned char* pixels, const BlockGrid& grid, bool grey)
{
    const std::size_t columns = grid.columns();
    const std::uint64_t pixelCount = std::uint64_t { grid.stepX } * grid.stepY;
    const std::size_t rowBytes = std::size_t { grid.width } * kChannels;
    const std::size_t blockBytes = std::size_t { grid.stepX } * kChannels;

    std::vector<int> values;
    values.reserve(columns * grid.rows() * kChannels);
    std::vector<std::uint64_t> sums(columns * kChannels);
    for (std::uint32_t blockTop = 0; blockTop != grid.height; blockTop += grid.stepY) {
        std::fill(sums.begin(), sums.end(), 0);
        for (std::uint32_t i = 0; i < grid.stepY; ++i) {
            const unsigned char* row = pixels + (std::size_t { blockTop } + i) * rowBytes;
            for (std::size_t column = 0; column < columns; ++column) {
                const unsigned char* block = row + column * blockBytes;
                std::uint64_t* blockSums = &sums[column * kChannels];
                for (std::size_t byte = 0; byte < blockBytes; byte += kChannels) {
                    blockSums[0] += block[byte];
                    blockSums[1] += block[byte + 1];
                    blockSums[2] += block[byte + 2];
                    blockSums[3] += block[byte + 3];
                }
            }
        }
        for (std::size_t column = 0; column < columns; ++column) {
            if (grey)
                appendGreyBlock(values, &sums[column * kChannels], pixelCount);
            else
                appendColourBlock(values, &sums[column * kChannels], pixelCount);
        }
    }
    return values;
}

}  // namespace pictile
