#include "ImageResize.h"

#include <algorithm>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
#pragma GCC diagnostic pop

namespace host {

namespace {

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
    constexpr int channels = 4;
    constexpr int alphaChannel = 3;
    // Flags 0: alpha is unassociated, so the resampler weights colour by it. It
    // also lifts alpha 0 by a tiny epsilon while filtering, so a uniform image,
    // even a fully transparent one, comes out exactly uniform.
    return stbir_resize_uint8_generic(source, int(sourceWidth), int(sourceHeight), 0, target,
               int(targetWidth), int(targetHeight), 0, channels, alphaChannel, 0, STBIR_EDGE_CLAMP,
               STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr)
        != 0;
}

}  // namespace host
