#pragma once

#include <cstddef>

namespace host {

/// Whether the `size` bytes of a BMP file have a header the decoder knows: an
/// info header of one of the four common sizes and a pixel depth of 1, 4, 8, 16,
/// 24 or 32 bits, because OpenImageIO's BMP decoder reads with an unset channel
/// count otherwise.
bool bmpLooksSound(const unsigned char* bytes, std::size_t size);

}  // namespace host
