#pragma once

#include "ImageFormat.h"
#include "ImageSource.h"
#include "RgbaImage.h"

#include <maya/MStatus.h>

namespace host {

/// Reads `source`, identified as `format`, with OpenImageIO's reader for that
/// format alone, in a decoding process of pictile_decoder's (started on the
/// first call, beside this library), which maps the file's bytes through its
/// descriptor (never past source.size()). For ImageFormat::Unknown and Other
/// the reader is the one the bytes' signature shows, else the one the extension
/// names; an unknown file whose extension no reader lists is refused here,
/// without a decoding process. kFailure when the module cannot be opened (noted:
/// noteMissingOpenImageIO) or the file is damaged or not readable;
/// kInvalidParameter when the header claims more than checkImageSize allows;
/// kInsufficientMemory when the pixels cannot be allocated.
MStatus readWithOpenImageIO(const ImageSource& source, ImageFormat format, RgbaImage& image);

/// Encodes `image` as `format` into `descriptor`, an open, writable, empty file
/// that is never closed or opened by name here. kNotImplemented for a format the
/// module has no writer for; kFailure when the module cannot be opened or the
/// encoding fails.
MStatus encodeWithOpenImageIO(const RgbaImage& image, const char* format, int descriptor);

}  // namespace host
