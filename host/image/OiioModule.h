#pragma once

#include "ImageFormat.h"
#include "ImageSource.h"
#include "RgbaImage.h"

#include <maya/MStatus.h>

namespace host {

/// Reads `source`, identified as `format`, with OpenImageIO's reader for that
/// format alone, from one copy of the file's bytes taken here (never past
/// source.size()): that format's damage check and the decoder both see that
/// copy. For ImageFormat::Unknown and Other the reader is the one the bytes'
/// signature shows, else the one the extension names. The OpenImageIO module is
/// opened on the first call. kFailure when the module cannot be opened or the
/// file is damaged or not readable; kInvalidParameter when the header claims
/// more than checkImageSize allows; kInsufficientMemory when the pixels cannot
/// be allocated.
MStatus readWithOpenImageIO(const ImageSource& source, ImageFormat format, RgbaImage& image);

/// Encodes `image` as `format` into `descriptor`, an open, writable, empty file
/// that is never closed or opened by name here. kNotImplemented for a format the
/// module has no writer for; kFailure when the module cannot be opened or the
/// encoding fails.
MStatus encodeWithOpenImageIO(const RgbaImage& image, const char* format, int descriptor);

}  // namespace host
