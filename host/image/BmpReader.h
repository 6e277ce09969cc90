#pragma once

#include "ImageSource.h"
#include "RgbaImage.h"

#include <maya/MStatus.h>

namespace host {

/// Decodes the BMP file of `source` into `image`, reading the file in runs of
/// rows, never whole. Reads 1-, 2-, 4- and 8-bit palettes (as many entries as
/// the header asks for and the file holds; an index past them reads opaque
/// black), RLE4 and RLE8, 16-, 24- and 32-bit BI_RGB, and BI_BITFIELDS and
/// BI_ALPHABITFIELDS of 16 and 32 bits with masks of one run of bits each, under
/// the OS/2 1.x and 2.x headers and the Windows ones of 40, 52, 56, 108 and 124
/// bytes. An embedded colour profile is left unapplied, as in every format. Any
/// other layout, or a file shorter than its pixels, is refused with kFailure;
/// kInvalidParameter when the header claims more than checkImageSize allows.
MStatus readBmpFile(const ImageSource& source, RgbaImage& image);

}  // namespace host
