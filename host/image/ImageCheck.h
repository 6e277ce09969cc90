#pragma once

#include <istream>

namespace host {

/// Whether a file in one of the formats whose decoders misbehave on damage is
/// whole and within its bounds, checked before the decoder sees it; any other
/// file passes.
///
/// IFF ("FOR4" form of type "CIMG"): every chunk, tile and run-length packet must
/// stay inside its bounds and the channel layout and compression must be known,
/// because the host's IFF decoder writes past its buffers on a run that overruns
/// and aborts on flags it does not know. A file holding an IFF form after other
/// bytes (where that decoder would find it) fails.
/// PNG (any file beginning "\x89PNG"): the whole signature must be there, every
/// chunk through IEND must be whole with a matching CRC, and the image
/// data long enough to inflate to the pixels the header claims, because the PNG
/// decoder prints to standard error and leaks on a truncated or damaged chunk.
/// BMP: the info header must be one of the four common sizes and the pixel depth
/// one of 1, 4, 8, 16, 24 or 32 bits, because the BMP decoder reads with an unset
/// channel count otherwise.
bool imageLooksSound(std::istream& file);

}  // namespace host
