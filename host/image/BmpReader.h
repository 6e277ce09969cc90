#pragma once

#include "ImageSource.h"
#include "RgbaImage.h"

#include <maya/MStatus.h>

#include <cstddef>

namespace host {

/// Decodes the BMP file of `size` bytes at `bytes` into `image`. Layouts the
/// decoder reads right are read (1-, 4- and 8-bit palettes, RLE4 and RLE8, 16-,
/// 24- and 32-bit BI_RGB, and BI_BITFIELDS with byte-aligned masks or those of
/// 16-bit pixels); any other layout, a file shorter than its pixels, or an
/// embedded colour profile is refused with kFailure rather than read wrong.
/// kInvalidParameter when the header claims more than checkImageSize allows.
MStatus readBmp(const unsigned char* bytes, std::size_t size, RgbaImage& image);

/// readBmp on the bytes of `source`, read once.
MStatus readBmpFile(const ImageSource& source, RgbaImage& image);

}  // namespace host
