#include "pixelBlocks.h"

#include <algorithm>
#include <cstddef>

namespace pictile {

namespace {

constexpr std::size_t kChannels = 4;

// The number of bits needed to write `value`.
unsigned bitWidth(std::uint64_t value)
{
    unsigned bits = 0;
    for (; value != 0; value >>= 1)
        ++bits;
    return bits;
}

// The averages of a block: channel sums divided by the block's pixel count,
// truncated. Dividing by a number only known at run time costs tens of cycles,
// which at small blocks outweighs all the summing; a multiply and a shift give
// the same quotient for every sum a block can have (at most 255 per pixel) when
// the multiplier is 2^shift / count rounded up and the shift covers both the
// widest sum and the count (Granlund and Montgomery, 1994). A multiplier below
// 2^32 and sums below 2^31 keep the product within 64 bits and let the compiler
// use its 32 x 32 -> 64 bit vector multiply; larger blocks divide plainly.
class BlockDivider {
public:
    explicit BlockDivider(std::uint64_t pixelCount)
        : pixelCount_(pixelCount)
    {
        const unsigned sumBits = bitWidth(255 * pixelCount);
        const unsigned countBits = bitWidth(pixelCount - 1);  // smallest b with 2^b >= count
        if (sumBits > 31)
            return;
        const std::uint64_t multiplier
            = ((std::uint64_t { 1 } << (sumBits + countBits)) + pixelCount - 1) / pixelCount;
        if (multiplier > 0xffffffffu)
            return;
        multiplier_ = static_cast<std::uint32_t>(multiplier);
        shift_ = sumBits + countBits;
    }

    bool multiplies() const { return multiplier_ != 0; }
    std::uint64_t pixelCount() const { return pixelCount_; }

    // For sums that the multiplier covers: below 2^31 when multiplies().
    template <typename Sum>
    void averageAll(int* __restrict out, const Sum* __restrict sums, std::size_t count) const
    {
        if (multiplies()) {
            const std::uint64_t multiplier = multiplier_;
            const unsigned shift = shift_;
            for (std::size_t i = 0; i < count; ++i)
                out[i] = static_cast<int>(
                    (std::uint64_t { static_cast<std::uint32_t>(sums[i]) } * multiplier) >> shift);
        } else {
            for (std::size_t i = 0; i < count; ++i)
                out[i] = static_cast<int>(sums[i] / pixelCount_);
        }
    }

private:
    std::uint64_t pixelCount_;
    std::uint32_t multiplier_ = 0;
    unsigned shift_ = 0;
};

// Whole-number division truncates exactly as dividing the sums as reals and
// dropping the fraction would: the sums stay far below 2^53, and a real quotient
// just below a whole number is never rounded up to it at these magnitudes. The
// grey value is computed in reals from the unrounded averages, so that 1.5, 1.5
// and 0.5 give 1, not the 0 that the truncated averages would. Dividing by a
// power of two and multiplying by its inverse are both exact, so blocks of such
// counts multiply.
template <typename Sum>
void writeGreyBlocks(int* out, const Sum* blockSums, std::size_t blocks, const BlockDivider& divider)
{
    const std::uint64_t pixelCount = divider.pixelCount();
    const double count = static_cast<double>(pixelCount);
    const bool powerOfTwo = (pixelCount & (pixelCount - 1)) == 0;
    const double inverse = 1.0 / count;
    for (std::size_t block = 0; block < blocks; ++block, out += kChannels, blockSums += kChannels) {
        double red = static_cast<double>(blockSums[0]);
        double green = static_cast<double>(blockSums[1]);
        double blue = static_cast<double>(blockSums[2]);
        if (powerOfTwo) {
            red *= inverse;
            green *= inverse;
            blue *= inverse;
        } else {
            red /= count;
            green /= count;
            blue /= count;
        }
        const int grey = static_cast<int>((red + green + blue) / 3.0);
        out[0] = grey;
        out[1] = grey;
        out[2] = grey;
        out[3] = static_cast<int>(static_cast<std::uint64_t>(blockSums[3]) / pixelCount);
    }
}

// Adds `rowCount` rows of bytes, `rowBytes` each and `rowBytes` apart, into the
// per-byte column sums. Four rows (or two) per pass cut the loads and stores of the sums
// to a quarter; the loops are plain enough for the compiler to vectorise.
template <typename Lane>
void addRows(
    Lane* __restrict sums, const unsigned char* __restrict rows, std::size_t rowBytes, std::uint32_t rowCount)
{
    std::uint32_t row = 0;
    for (; row + 3 < rowCount; row += 4) {
        const unsigned char* __restrict first = rows + row * rowBytes;
        const unsigned char* __restrict second = first + rowBytes;
        const unsigned char* __restrict third = second + rowBytes;
        const unsigned char* __restrict fourth = third + rowBytes;
        for (std::size_t i = 0; i < rowBytes; ++i)
            sums[i] = static_cast<Lane>(sums[i] + ((first[i] + second[i]) + (third[i] + fourth[i])));
    }
    if (row + 1 < rowCount) {
        const unsigned char* __restrict first = rows + row * rowBytes;
        const unsigned char* __restrict second = first + rowBytes;
        for (std::size_t i = 0; i < rowBytes; ++i)
            sums[i] = static_cast<Lane>(sums[i] + (first[i] + second[i]));
        row += 2;
    }
    if (row < rowCount) {
        const unsigned char* __restrict next = rows + row * rowBytes;
        for (std::size_t i = 0; i < rowBytes; ++i)
            sums[i] = static_cast<Lane>(sums[i] + next[i]);
    }
}

// Adds every stepX pixels of column sums into one block sum per channel. A step
// known at compile time (1 or 2, the costly small blocks) lets the compiler turn
// the walk into straight vector code; 0 takes the step from the grid.
template <std::uint32_t FixedStep, typename Lane, typename Sum>
void foldColumns(
    Sum* __restrict blockSums, const Lane* __restrict columnSums, std::uint32_t columns, std::uint32_t stepX)
{
    const std::uint32_t step = FixedStep != 0 ? FixedStep : stepX;
    for (std::uint32_t column = 0; column < columns; ++column) {
        const Lane* block = columnSums + std::size_t { column } * step * kChannels;
        Sum* sums = blockSums + std::size_t { column } * kChannels;
        for (std::size_t channel = 0; channel < kChannels; ++channel)
            sums[channel] = block[channel];
        for (std::uint32_t x = 1; x < step; ++x)
            for (std::size_t channel = 0; channel < kChannels; ++channel)
                sums[channel] += block[x * kChannels + channel];
    }
}

// Where the walks put each row of block values: straight into one array that
// holds them all, or into a buffer of one row that is handed on as soon as it
// is full, so that a caller appending them elsewhere never holds two copies.
class ArrayOutput {
public:
    explicit ArrayOutput(int* values)
        : next_(values)
    {
    }
    int* row() { return next_; }
    void rowDone(std::size_t count) { next_ += count; }

private:
    int* next_;
};

class RowOutput {
public:
    RowOutput(std::size_t rowValues, const BlockRowSink& takeRow)
        : buffer_(rowValues)
        , takeRow_(takeRow)
    {
    }
    int* row() { return buffer_.data(); }
    void rowDone(std::size_t count) { takeRow_(buffer_.data(), count); }

private:
    std::vector<int> buffer_;
    const BlockRowSink& takeRow_;
};

// Turns one row of blocks, given as column sums, into its values.
template <typename Output, typename Lane, typename Sum>
void writeBlockRow(Output& output, const Lane* columnSums, std::vector<Sum>& blockSums, const BlockGrid& grid,
    bool grey, const BlockDivider& divider)
{
    int* out = output.row();
    const std::uint32_t columns = grid.columns();
    if (grid.stepX == 1)
        foldColumns<1>(blockSums.data(), columnSums, columns, 1);
    else if (grid.stepX == 2)
        foldColumns<2>(blockSums.data(), columnSums, columns, 2);
    else
        foldColumns<0>(blockSums.data(), columnSums, columns, grid.stepX);
    if (grey)
        writeGreyBlocks(out, blockSums.data(), columns, divider);
    else
        divider.averageAll(out, blockSums.data(), blockSums.size());
    output.rowDone(blockSums.size());
}

// The walk for one width of column sum and of block sum: a Lane holds stepY times
// 255, a Sum the whole block's. Blocks one row high need no column sums: the row
// itself is one.
template <typename Lane, typename Sum, typename Output>
void averageWith(
    Output& out, const unsigned char* pixels, const BlockGrid& grid, bool grey, const BlockDivider& divider)
{
    const std::size_t rowBytes = std::size_t { grid.width } * kChannels;
    std::vector<Sum> blockSums(std::size_t { grid.columns() } * kChannels);
    if (grid.stepY == 1) {
        for (std::uint32_t row = 0; row != grid.height; ++row)
            writeBlockRow(out, pixels + row * rowBytes, blockSums, grid, grey, divider);
        return;
    }
    std::vector<Lane> columnSums(rowBytes);
    for (std::uint32_t blockTop = 0; blockTop != grid.height; blockTop += grid.stepY) {
        std::fill(columnSums.begin(), columnSums.end(), Lane { 0 });
        addRows(columnSums.data(), pixels + std::size_t { blockTop } * rowBytes, rowBytes, grid.stepY);
        writeBlockRow(out, columnSums.data(), blockSums, grid, grey, divider);
    }
}

template <typename Sum, typename Output>
void averageWithSums(
    Output& out, const unsigned char* pixels, const BlockGrid& grid, bool grey, const BlockDivider& divider)
{
    // The narrowest column sum that cannot overflow over stepY rows of 255.
    if (grid.stepY == 1)
        averageWith<unsigned char, Sum>(out, pixels, grid, grey, divider);
    else if (grid.stepY <= 0xffffu / 255)
        averageWith<std::uint16_t, Sum>(out, pixels, grid, grey, divider);
    else if (grid.stepY <= 0xffffffffu / 255)
        averageWith<std::uint32_t, Sum>(out, pixels, grid, grey, divider);
    else
        averageWith<std::uint64_t, Sum>(out, pixels, grid, grey, divider);
}

// The first pixel of every block of the row of blocks starting at pixel row `y`.
void sampleRow(int* out, const unsigned char* pixels, const BlockGrid& grid, std::uint32_t y)
{
    const unsigned char* row = pixels + std::size_t { y } * grid.width * kChannels;
    for (std::uint32_t x = 0; x != grid.width; x += grid.stepX, out += kChannels) {
        const unsigned char* pixel = row + std::size_t { x } * kChannels;
        out[0] = pixel[0];
        out[1] = pixel[1];
        out[2] = pixel[2];
        out[3] = pixel[3];
    }
}

template <typename Output>
void averageInto(Output& out, const unsigned char* pixels, const BlockGrid& grid, bool grey)
{
    const std::uint64_t pixelCount = std::uint64_t { grid.stepX } * grid.stepY;
    const BlockDivider divider(pixelCount);
    if (pixelCount <= 0xffffffffu / 255)
        averageWithSums<std::uint32_t>(out, pixels, grid, grey, divider);
    else
        averageWithSums<std::uint64_t>(out, pixels, grid, grey, divider);
}

// The values of each row, appended to `values`.
BlockRowSink appendTo(std::vector<int>& values)
{
    return [&values](const int* row, std::size_t count) { values.insert(values.end(), row, row + count); };
}

}  // namespace

std::vector<int> sampleBlocks(const unsigned char* pixels, const BlockGrid& grid)
{
    std::vector<int> values;
    values.reserve(blockValueCount(grid));
    sampleBlockRows(pixels, grid, appendTo(values));
    return values;
}

void sampleBlockRows(const unsigned char* pixels, const BlockGrid& grid, const BlockRowSink& takeRow)
{
    if (blockValueCount(grid) == 0)
        return;
    const std::size_t rowValues = std::size_t { grid.columns() } * kChannels;
    std::vector<int> row(rowValues);
    for (std::uint32_t y = 0; y != grid.height; y += grid.stepY) {
        sampleRow(row.data(), pixels, grid, y);
        takeRow(row.data(), rowValues);
    }
}

std::vector<int> averageBlocks(const unsigned char* pixels, const BlockGrid& grid, bool grey)
{
    std::vector<int> values;
    values.reserve(blockValueCount(grid));
    averageBlockRows(pixels, grid, grey, appendTo(values));
    return values;
}

void averageBlockRows(
    const unsigned char* pixels, const BlockGrid& grid, bool grey, const BlockRowSink& takeRow)
{
    if (blockValueCount(grid) == 0)
        return;
    RowOutput out(std::size_t { grid.columns() } * kChannels, takeRow);
    averageInto(out, pixels, grid, grey);
}

void averageBlocksInto(int* values, const unsigned char* pixels, const BlockGrid& grid, bool grey)
{
    if (blockValueCount(grid) == 0)
        return;
    ArrayOutput out(values);
    averageInto(out, pixels, grid, grey);
}

}  // namespace pictile
