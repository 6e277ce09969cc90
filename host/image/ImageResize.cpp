#include "ImageResize.h"

#include "HostModule.h"
#include "resample/AlphaWeighting.h"
#include "resample/AreaAverage.h"
#include "resample/ResampleModuleApi.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace host {

namespace {

// Opens pictile_resample.so from beside this library once, on the first resize;
// null when it is missing or fails to load. It stays loaded for the life of the
// process.
PictileResampleRgba resampler()
{
    static const PictileResampleRgba entry = []() -> PictileResampleRgba {
        return reinterpret_cast<PictileResampleRgba>(
            openHostModuleEntry("pictile_resample.so", PICTILE_RESAMPLE_ENTRY));
    }();
    return entry;
}

// A side shrunk to half its length or less is area-averaged.
bool averagesAreas(std::uint64_t targetLength, std::uint64_t sourceLength)
{
    return targetLength * 2 <= sourceLength;
}

// A thread's share of a large area average: fewer pixels than this, and
// starting a thread costs more than it saves.
constexpr std::size_t kPixelsPerThread = std::size_t { 4 } << 20;

// The target rows in bands, one per thread, the calling thread taking the
// first; every row is computed the same way whatever the split. A thread that
// cannot be started leaves its band to the calling thread. `averageBand(first,
// end)` gives false when its band could not be done, and so does this.
template <typename AverageBand>
bool averageInBands(const AverageBand& averageBand, std::uint32_t rows, std::size_t sourcePixels)
{
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t wanted = std::max<std::size_t>(1, sourcePixels / kPixelsPerThread);
    const auto bands = static_cast<std::uint32_t>(std::min<std::size_t>({ cores, wanted, rows }));
    const std::uint32_t bandRows = (rows + bands - 1) / bands;
    std::atomic<bool> failed { false };
    const auto runBand = [&](std::uint32_t band) {
        const std::uint32_t first = std::min(rows, band * bandRows);
        try {
            if (!averageBand(first, std::min(rows, first + bandRows)))
                failed = true;
        } catch (const std::bad_alloc&) {
            failed = true;
        }
    };
    std::vector<std::thread> helpers;
    std::uint32_t started = 1;
    try {
        for (; started < bands; ++started)
            helpers.emplace_back(runBand, started);
    } catch (const std::system_error&) {
        // Fewer threads than hoped: the rest of the bands run here.
    }
    runBand(0);
    for (std::uint32_t band = started; band < bands; ++band)
        runBand(band);
    for (std::thread& helper : helpers)
        helper.join();
    return !failed;
}

// Both sides shrink to half or less by factors that are not whole numbers (a
// thumbnail of a photo, the common case): the host averages the areas itself,
// with the same alpha weighting as the module, and never opens OpenCV, whose
// libraries cost a short process more time and memory than the averaging.
// Whole factors go to OpenCV's block-summing path, the fastest there is.
bool averageRgbaAreas(const unsigned char* source, unsigned int sourceWidth, unsigned int sourceHeight,
    unsigned char* target, unsigned int targetWidth, unsigned int targetHeight)
{
    using namespace pictile::resample;
    try {
        const AreaAverager averager({ sourceWidth, sourceHeight, targetWidth, targetHeight });
        const std::size_t sourcePixels = std::size_t { sourceWidth } * sourceHeight;
        const std::size_t targetPixels = std::size_t { targetWidth } * targetHeight;
        // Opaque pixels need no weighting; the check rides along the averaging.
        if (averageInBands(
                [&](std::uint32_t first, std::uint32_t end) {
                    return averager.averageOpaqueRows(source, target, first, end);
                },
                targetHeight, sourcePixels))
            return true;
        const PixelBytes weighted = allocateBytes(sourcePixels * kChannels * sizeof(std::uint16_t));
        const PixelBytes averaged = allocateBytes(targetPixels * kChannels * sizeof(float));
        if (!weighted || !averaged)
            return false;
        auto* weightedSamples = reinterpret_cast<std::uint16_t*>(weighted.get());
        auto* averagedSamples = reinterpret_cast<float*>(averaged.get());
        premultiply(source, weightedSamples, sourcePixels);
        if (!averageInBands(
                [&](std::uint32_t first, std::uint32_t end) {
                    averager.averageRows(weightedSamples, averagedSamples, first, end);
                    return true;
                },
                targetHeight, sourcePixels))
            return false;
        if (unpremultiply<std::uint16_t>(averagedSamples, target, targetPixels))
            return true;
        // The unweighted average, for the colour of pixels that came out transparent.
        std::vector<unsigned char> plain(targetPixels * kChannels);
        if (!averageInBands(
                [&](std::uint32_t first, std::uint32_t end) {
                    averager.averageRows(source, plain.data(), first, end);
                    return true;
                },
                targetHeight, sourcePixels))
            return false;
        takeColourOfTransparent(plain.data(), target, targetPixels);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

ImageSize fitInside(ImageSize image, ImageSize box)
{
    // Whichever side of the box is tighter for the image's proportions takes its
    // full length; the other side follows the ratio.
    const bool widthLimits = box.width * image.height <= box.height * image.width;
    const auto dividedRounded = [](std::uint64_t numerator, std::uint64_t denominator) {
        return (numerator + denominator / 2) / denominator;
    };
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
    if (averagesAreas(targetWidth, sourceWidth) && averagesAreas(targetHeight, sourceHeight)
        && (sourceWidth % targetWidth != 0 || sourceHeight % targetHeight != 0))
        return averageRgbaAreas(source, sourceWidth, sourceHeight, target, targetWidth, targetHeight);
    const PictileResampleRgba resample = resampler();
    return resample && resample(source, sourceWidth, sourceHeight, target, targetWidth, targetHeight) != 0;
}

}  // namespace host
