#pragma once

#include "RgbaImage.h"

#include <maya/MStatus.h>

namespace host {

/// Writes `image` to `path` in `format` through a temporary file renamed into
/// place; the statuses are those of MImage::writeToFile.
MStatus writeImageFile(const RgbaImage& image, const char* path, const char* format);

}  // namespace host
