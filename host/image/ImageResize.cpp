#include "ImageResize.h"

#include <algorithm>
#include <cstddef>
#include <system_error>
#include <thread>

#include "StbImageResize.h"

namespace host {

namespace {

struct ResampleJob {
    const unsigned char* source;
    unsigned int sourceWidth;
    unsigned int sourceHeight;
    unsigned char* target;
    unsigned int targetWidth;
    unsigned int targetHeight;
};

// The resampler's own scale for a side: the output length over the input length,
// divided in float as it divides them for a whole image.
float scaleOf(unsigned int targetLength, unsigned int sourceLength)
{
    return static_cast<float>(targetLength) / static_cast<float>(sourceLength);
}

// Computes rows [firstRow, endRow) of the whole resampled image into their place
// in the target. The resampler places output row r at input position (r + shift +
// 0.5) / scale; with the whole image's scale and the first row as the shift, each
// row gets the coefficients, the input rows and the order of summing that the
// whole image gives it. Flags 0: alpha is unassociated, so the resampler weights
// colour by it. It also lifts alpha 0 by a tiny epsilon while filtering, so a
// uniform image, even a fully transparent one, comes out exactly uniform.
bool resampleRows(const ResampleJob& job, unsigned int firstRow, unsigned int endRow)
{
    constexpr int channels = 4;
    constexpr int alphaChannel = 3;
    unsigned char* rows = job.target + std::size_t { firstRow } * job.targetWidth * channels;
    return stbir_resize_subpixel(job.source, int(job.sourceWidth), int(job.sourceHeight), 0, rows,
               int(job.targetWidth), int(endRow - firstRow), 0, STBIR_TYPE_UINT8, channels, alphaChannel, 0,
               STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT, STBIR_FILTER_DEFAULT,
               STBIR_COLORSPACE_LINEAR, nullptr, scaleOf(job.targetWidth, job.sourceWidth),
               scaleOf(job.targetHeight, job.sourceHeight), 0.0f, static_cast<float>(firstRow))
        != 0;
}

// Splitting the rows only gives the same bytes when shrinking (or keeping) the
// height: there the resampler maps input rows to output positions as position
// minus shift, which is exact in float for every input row that reaches the
// lower half once that half starts at row 16 or later and positions stay below
// 2^23. Growing the height adds the shift before dividing, after a rounding that
// depends on the row, so such resizes stay whole. A thread costs tens of
// microseconds, so small images stay whole too.
bool worthSplitting(const ResampleJob& job)
{
    constexpr std::uint64_t kMinimumPixels = std::uint64_t { 1 } << 18;
    constexpr unsigned int kMinimumHalf = 16;
    const std::uint64_t pixels = std::uint64_t { job.sourceWidth } * job.sourceHeight
        + std::uint64_t { job.targetWidth } * job.targetHeight;
    return job.targetHeight <= job.sourceHeight && job.targetHeight / 2 >= kMinimumHalf
        && job.targetHeight < (1u << 23) && pixels >= kMinimumPixels;
}

std::uint64_t dividedRounded(std::uint64_t numerator, std::uint64_t denominator)
{
    return (numerator + denominator / 2) / denominator;
}

}  // namespace

ImageSize fitInside(ImageSize image, ImageSize box)
{
    // Whichever side of the box is tighter for the image's proportions takes its
    // full length; the other side follows the ratio.
    const bool widthLimits = box.width * image.height <= box.height * image.width;
    if (widthLimits) {
        const std::uint64_t height = dividedRounded(image.height * box.width, image.width);
        return { box.width, std::clamp<std::uint64_t>(height, 1, box.height) };
    }
    const std::uint64_t width = dividedRounded(image.width * box.height, image.height);
    return { std::clamp<std::uint64_t>(width, 1, box.width), box.height };
}

bool resampleRgba(const unsigned char* source, unsigned int sourceWidth, unsigned int sourceHeight,
    unsigned char* target, unsigned int targetWidth, unsigned int targetHeight)
{
    const ResampleJob job { source, sourceWidth, sourceHeight, target, targetWidth, targetHeight };
    if (!worthSplitting(job))
        return resampleRows(job, 0, targetHeight);
    // Two halves of the rows, the lower one on a thread of its own. A system that
    // refuses the thread gets both halves computed here, one after the other.
    const unsigned int split = targetHeight / 2;
    bool lowerDone = false;
    try {
        std::thread lower(
            [&job, &lowerDone, split] { lowerDone = resampleRows(job, split, job.targetHeight); });
        const bool upperDone = resampleRows(job, 0, split);
        lower.join();
        return upperDone && lowerDone;
    } catch (const std::system_error&) {
        return resampleRows(job, 0, split) && resampleRows(job, split, targetHeight);
    }
}

}  // namespace host
