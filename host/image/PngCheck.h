#pragma once

#include <cstddef>

namespace host {

/// Whether the `size` bytes of a file that begins like a PNG are a whole PNG: the
/// whole signature must be there, every chunk through IEND must be whole with a
/// matching CRC, and the image data long enough to inflate to the pixels the
/// header claims, because OpenImageIO's PNG decoder prints to standard error and
/// leaks on a truncated or damaged chunk.
bool pngLooksSound(const unsigned char* bytes, std::size_t size);

}  // namespace host
