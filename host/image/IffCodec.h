#pragma once

#include "ImageSource.h"
#include "RgbaImage.h"

#include <maya/MStatus.h>

namespace host {

// The host's own image format, read and written here without OpenImageIO: a
// "FOR4" form of type "CIMG" holding a "TBHD" header and a "FOR4" form of type
// "TBMP" with one "RGBA" chunk per tile. Rows are stored bottom first, the
// channels of a pixel in reverse order (alpha, blue, green, red).

/// Reads 8- and 16-bit RGB and RGBA files, raw or run-length packed, in tiles of
/// one size laid as a grid (edge tiles cut by the image's edge), in any order;
/// depth ("ZBUF") and other chunks are skipped. 16-bit samples become 8 bits
/// rounded (v * 255 / 65535); alpha is kept as stored. Reads through `source`'s
/// descriptor, never past its size. kSuccess; kInvalidParameter when the header
/// claims more than checkImageSize allows (before any allocation);
/// kInsufficientMemory; kFailure for a file that is damaged or that uses
/// anything else (other flags, sample sizes or compression, tiles off the grid,
/// missing or twice, a data window away from the origin, bytes after the form).
/// `image` is left as it was on failure.
MStatus readIff(const ImageSource& source, RgbaImage& image);

/// Writes `image` as 8-bit RGBA in run-length packed tiles of 64 x 64 pixels
/// (a tile that packing would not shrink is stored raw) into `descriptor`, an
/// open, writable, empty file it neither closes nor names. kInvalidParameter for
/// an image wider or taller than 8192, the format's limit; kFailure when a
/// write fails.
MStatus encodeIff(const RgbaImage& image, int descriptor);

}  // namespace host
