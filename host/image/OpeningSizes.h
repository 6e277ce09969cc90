#pragma once

#include "ImageFormat.h"
#include "ImageSource.h"

#include <cstdint>

namespace host {

/// For the formats whose OpenImageIO readers decode the whole image while they
/// open the file (JPEG 2000, GIF, HEIF), the size the file's header claims, read
/// here before any decoder runs: the width and height of the JPEG 2000 code
/// stream's SIZ segment, of the GIF logical screen, or of the HEIF primary
/// image's `ispe` property. False for other formats and for headers that do not
/// show a size; the read then goes on without it.
bool readOpeningSize(
    const ImageSource& source, ImageFormat format, std::uint64_t& width, std::uint64_t& height);

}  // namespace host
