#include "ImageResize.h"

#include "HostModule.h"
#include "resample/ResampleModuleApi.h"

#include <algorithm>

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
    const PictileResampleRgba resample = resampler();
    return resample && resample(source, sourceWidth, sourceHeight, target, targetWidth, targetHeight) != 0;
}

}  // namespace host
