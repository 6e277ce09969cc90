#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Pixel arithmetic of the block commands, kept free of host types so that it can
// be fed hand-made buffers and timed on its own. Pixels are RGBA bytes, rows one
// after another.

namespace pictile {

/// An image of `width` by `height` pixels cut into blocks of `stepX` by `stepY`.
/// The width is a whole multiple of `stepX` and the height of `stepY`; both steps
/// are at least 1.
struct BlockGrid {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t stepX;
    std::uint32_t stepY;

    std::uint32_t columns() const { return width / stepX; }
    std::uint32_t rows() const { return height / stepY; }
};

/// `length` rounded down to a whole multiple of `step` (at least 1).
inline std::uint32_t fittedLength(std::uint32_t length, std::uint32_t step)
{
    return length - length % step;
}

/// How many values the block walks give: four per block.
inline std::size_t blockValueCount(const BlockGrid& grid)
{
    return std::size_t { grid.columns() } * grid.rows() * 4;
}

/// Takes the values of one row of blocks, `count` of them (four per block), as
/// soon as they are computed; `values` lasts only for the call.
using BlockRowSink = std::function<void(const int* values, std::size_t count)>;

/// The four channel bytes of the first pixel of every block, block after block in
/// row order.
std::vector<int> sampleBlocks(const unsigned char* pixels, const BlockGrid& grid);

/// sampleBlocks a row of blocks at a time, top row first, into `takeRow`.
void sampleBlockRows(const unsigned char* pixels, const BlockGrid& grid, const BlockRowSink& takeRow);

/// For every block in row order, the truncated averages of red, green, blue and
/// alpha; with `grey`, the truncated mean of the three colour averages three
/// times, then the alpha average.
std::vector<int> averageBlocks(const unsigned char* pixels, const BlockGrid& grid, bool grey);

/// averageBlocks a row of blocks at a time, top row first, into `takeRow`.
void averageBlockRows(
    const unsigned char* pixels, const BlockGrid& grid, bool grey, const BlockRowSink& takeRow);

/// averageBlocks into `values`, which has room for blockValueCount(grid) of them.
void averageBlocksInto(int* values, const unsigned char* pixels, const BlockGrid& grid, bool grey);

}  // namespace pictile
