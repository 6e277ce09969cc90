#include "AreaAverage.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

namespace pictile::resample {

namespace {

constexpr std::size_t kChannels = 4;

// The source pixels one target pixel covers along one side: `count` of them
// from `first`, their weights from `weights` on in the side's weight table.
struct Span {
    std::uint32_t first;
    std::uint32_t count;
    std::size_t weights;
};

}  // namespace

struct AreaAverager::Side {
    std::vector<Span> spans;
    std::vector<float> weights;
};

namespace {

using Side = AreaAverager::Side;

// Target pixel i covers [i * S, (i + 1) * S) and source pixel k covers
// [k * T, (k + 1) * T), for S source and T target pixels, in whole units of 1/T
// of a source pixel: the overlaps are exact and the weights of a target pixel
// add up to one, so a uniform area stays uniform.
Side sideWeights(std::uint32_t sourceLength, std::uint32_t targetLength)
{
    Side side;
    side.spans.reserve(targetLength);
    const std::uint64_t s = sourceLength;
    const std::uint64_t t = targetLength;
    for (std::uint64_t i = 0; i < t; ++i) {
        const std::uint64_t begin = i * s;
        const std::uint64_t end = begin + s;
        const std::uint64_t first = begin / t;
        const std::uint64_t last = (end + t - 1) / t;  // one past the last pixel touched
        side.spans.push_back({ static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(last - first),
            side.weights.size() });
        for (std::uint64_t k = first; k < last; ++k) {
            const std::uint64_t overlap = std::min((k + 1) * t, end) - std::max(k * t, begin);
            side.weights.push_back(static_cast<float>(double(overlap) / double(s)));
        }
    }
    return side;
}

// sums = the rows weighted and added, two rows a pass; plain loops that the
// compiler vectorises.
template <typename In>
void sumRows(float* __restrict sums, const In* __restrict rows, std::size_t rowSamples, const float* weights,
    std::uint32_t count)
{
    {
        const float weight = weights[0];
        for (std::size_t i = 0; i < rowSamples; ++i)
            sums[i] = weight * static_cast<float>(rows[i]);
    }
    std::uint32_t row = 1;
    for (; row + 1 < count; row += 2) {
        const In* __restrict first = rows + row * rowSamples;
        const In* __restrict second = first + rowSamples;
        const float firstWeight = weights[row];
        const float secondWeight = weights[row + 1];
        for (std::size_t i = 0; i < rowSamples; ++i)
            sums[i]
                += firstWeight * static_cast<float>(first[i]) + secondWeight * static_cast<float>(second[i]);
    }
    if (row < count) {
        const In* __restrict next = rows + row * rowSamples;
        const float weight = weights[row];
        for (std::size_t i = 0; i < rowSamples; ++i)
            sums[i] += weight * static_cast<float>(next[i]);
    }
}

// For 8-bit rows, the rows a target row covers whole all weigh the same: they
// are added as integers, 16 of them a vector step, and only the sum and the two
// partly covered rows at the ends are turned into floats and weighted.
void sumRows(float* __restrict sums, const std::uint8_t* __restrict rows, std::size_t rowSamples,
    const float* weights, std::uint32_t count, std::vector<std::uint16_t>& whole)
{
    constexpr std::uint32_t kMostWholeRows = 0xffff / 255;
    if (count < 4 || count - 2 > kMostWholeRows) {
        sumRows(sums, rows, rowSamples, weights, count);
        return;
    }
    std::uint16_t* __restrict wholeSums = whole.data();
    const std::uint8_t* __restrict second = rows + rowSamples;
    for (std::size_t i = 0; i < rowSamples; ++i)
        wholeSums[i] = second[i];
    for (std::uint32_t row = 2; row + 1 < count; ++row) {
        const std::uint8_t* __restrict next = rows + row * rowSamples;
        for (std::size_t i = 0; i < rowSamples; ++i)
            wholeSums[i] = static_cast<std::uint16_t>(wholeSums[i] + next[i]);
    }
    const std::uint8_t* __restrict first = rows;
    const std::uint8_t* __restrict last = rows + std::size_t { count - 1 } * rowSamples;
    const float firstWeight = weights[0];
    const float wholeWeight = weights[1];
    const float lastWeight = weights[count - 1];
    for (std::size_t i = 0; i < rowSamples; ++i)
        sums[i] = firstWeight * static_cast<float>(first[i]) + wholeWeight * static_cast<float>(wholeSums[i])
            + lastWeight * static_cast<float>(last[i]);
}

template <typename Out> Out stored(float value)
{
    if constexpr (std::is_integral_v<Out>) {
        constexpr float kLargest = float(std::numeric_limits<Out>::max());
        return static_cast<Out>(std::min(value + 0.5f, kLargest));
    } else {
        return value;
    }
}

// One target row from the summed source row: each pixel the weighted sum of the
// columns it covers, its four samples in one vector.
template <typename Out>
void foldColumns(Out* __restrict target, const float* __restrict sums, const Side& across)
{
    typedef float Pixel __attribute__((vector_size(4 * sizeof(float))));
    for (const Span& span : across.spans) {
        const float* weights = across.weights.data() + span.weights;
        const float* column = sums + std::size_t { span.first } * kChannels;
        Pixel sum = { 0, 0, 0, 0 };
        for (std::uint32_t k = 0; k < span.count; ++k, column += kChannels) {
            Pixel pixel;
            std::memcpy(&pixel, column, sizeof pixel);
            sum += weights[k] * pixel;
        }
        for (std::size_t c = 0; c < kChannels; ++c)
            target[c] = stored<Out>(sum[c]);
        target += kChannels;
    }
}

// Whether every pixel of a row is opaque: whole pixels at a time, alpha the
// top byte of each little-endian word.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);

bool opaqueRow(const std::uint8_t* row, std::size_t pixels)
{
    std::uint32_t all = 0xffffffffu;
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t pixel;
        std::memcpy(&pixel, row + i * kChannels, sizeof pixel);
        all &= pixel;
    }
    return all >> 24 == 255;
}

}  // namespace

AreaAverager::AreaAverager(const AreaSizes& sizes)
    : sizes_(sizes)
    , across_(std::make_unique<const Side>(sideWeights(sizes.sourceWidth, sizes.targetWidth)))
    , down_(std::make_unique<const Side>(sideWeights(sizes.sourceHeight, sizes.targetHeight)))
{
}

AreaAverager::~AreaAverager() = default;

template <typename In, typename Out>
bool AreaAverager::walkRows(
    const In* source, Out* target, std::uint32_t firstRow, std::uint32_t endRow, bool onlyOpaque) const
{
    const std::size_t sourceRow = std::size_t { sizes_.sourceWidth } * kChannels;
    const std::size_t targetRow = std::size_t { sizes_.targetWidth } * kChannels;
    std::vector<float> sums(sourceRow);
    std::vector<std::uint16_t> whole(std::is_same_v<In, std::uint8_t> ? sourceRow : 0);
    std::uint32_t checked = 0;  // source rows below this are known opaque
    for (std::uint32_t y = firstRow; y < endRow; ++y) {
        const Span& rows = down_->spans[y];
        const In* first = source + std::size_t { rows.first } * sourceRow;
        const float* weights = down_->weights.data() + rows.weights;
        if constexpr (std::is_same_v<In, std::uint8_t>) {
            // Each row checked just before it is summed, while it is in cache.
            for (std::uint32_t row = std::max(checked, rows.first);
                 onlyOpaque && row < rows.first + rows.count; ++row) {
                if (!opaqueRow(source + std::size_t { row } * sourceRow, sizes_.sourceWidth))
                    return false;
                checked = row + 1;
            }
            sumRows(sums.data(), first, sourceRow, weights, rows.count, whole);
        } else {
            sumRows(sums.data(), first, sourceRow, weights, rows.count);
        }
        foldColumns(target + std::size_t { y } * targetRow, sums.data(), *across_);
    }
    return true;
}

template <typename In, typename Out>
void AreaAverager::averageRows(
    const In* source, Out* target, std::uint32_t firstRow, std::uint32_t endRow) const
{
    walkRows(source, target, firstRow, endRow, false);
}

bool AreaAverager::averageOpaqueRows(
    const std::uint8_t* source, std::uint8_t* target, std::uint32_t firstRow, std::uint32_t endRow) const
{
    return walkRows(source, target, firstRow, endRow, true);
}

template void AreaAverager::averageRows<std::uint8_t, std::uint8_t>(
    const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t) const;
template void AreaAverager::averageRows<std::uint16_t, float>(
    const std::uint16_t*, float*, std::uint32_t, std::uint32_t) const;
template void AreaAverager::averageRows<float, float>(
    const float*, float*, std::uint32_t, std::uint32_t) const;

}  // namespace pictile::resample
