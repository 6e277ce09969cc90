#pragma once

#include "RgbaImage.h"

#include <cstdint>

namespace host {

struct ImageSize {
    std::uint64_t width;
    std::uint64_t height;
};

/// The largest size of width:height proportions that fits inside boxWidth by
/// boxHeight, each side rounded to nearest and at least 1. All four sides must be
/// at least 1.
ImageSize fitInside(ImageSize image, ImageSize box);

/// Resamples the RGBA `source` into `target` with a separable filter weighted by
/// alpha, so that transparent pixels give no colour: area averaging on a side
/// shrunk to half or less, cubic convolution on any other; edges are clamped.
/// OpenCV does the filtering, on every core it is allowed, in
/// pictile_resample.so, opened from beside this library on its first use.
/// False when the working buffers cannot be allocated or the module cannot be
/// opened.
bool resampleRgba(const unsigned char* source, unsigned int sourceWidth, unsigned int sourceHeight,
    unsigned char* target, unsigned int targetWidth, unsigned int targetHeight);

}  // namespace host
