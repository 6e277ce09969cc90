#pragma once

#include <cstddef>

namespace host {

/// Whether the `size` bytes of an IFF file ("FOR4" form of type "CIMG") are whole
/// and within their bounds: every chunk, tile and run-length packet must stay
/// inside its bounds and the channel layout and compression must be known,
/// because OpenImageIO's IFF decoder writes past its buffers on a run that
/// overruns and aborts on flags it does not know.
bool iffLooksSound(const unsigned char* bytes, std::size_t size);

}  // namespace host
