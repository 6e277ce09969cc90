#pragma once

#include "ImageSource.h"
#include "RgbaImage.h"

#include <maya/MStatus.h>

namespace host {

// The light readers of the common formats, each decoding the first image of
// `source` into `image` through that one descriptor, silently: kSuccess,
// kInvalidParameter when the header claims more than checkImageSize allows
// (refused before any allocation), kInsufficientMemory, or kFailure for a file
// the decoder refuses. `image` is left as it was on failure.

/// PNG through libpng, which checks every chunk's CRC and the data's length
/// itself; text, profile and other chunks of no use to the pixels are skipped
/// unread, and no chunk may make libpng allocate more than 8 MiB.
MStatus readPng(const ImageSource& source, RgbaImage& image);

/// JPEG through libjpeg-turbo: a truncated or corrupt file fails at the first
/// sign of it, mere warnings (extraneous bytes before a marker) do not; a
/// progressive file of more than 100 scans fails.
MStatus readJpeg(const ImageSource& source, RgbaImage& image);

/// TIFF and BigTIFF through libtiff: the first directory, as stored,
/// orientation ignored. Palette alpha is scaled like any sample; 8-bit CIE
/// L*a*b* is converted to sRGB (D50 adapted to D65); old-style JPEG goes through
/// libtiff's RGBA interface. An error libtiff gets past while reading the
/// directory does not fail the read. kNotImplemented for the layouts left to
/// OpenImageIO.
MStatus readTiff(const ImageSource& source, RgbaImage& image);

}  // namespace host
