#pragma once

#include "RgbaImage.h"

#include <maya/MStatus.h>

namespace host {

/// Decodes the first subimage of the file at `path` into `image`, replacing it.
/// On failure `image` is empty; the statuses are those of MImage::readFromFile.
MStatus readImageFile(const char* path, RgbaImage& image);

}  // namespace host
