#pragma once

#include <maya/MStatus.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace host {

/// The most pixels an image may hold.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 30;

/// The widest row an image may have: the resampler sizes its buffers with int
/// arithmetic, and one row is the least a decoder buffers.
inline constexpr std::uint64_t kMaxRowPixels = std::uint64_t(1) << 24;

/// Whether an image of width by height pixels, as a file's header claims, may be
/// decoded: kSuccess, kFailure for a side of 0, kInvalidParameter over 2^30
/// pixels or a row over 2^24. Readers ask this before allocating anything.
inline MStatus checkImageSize(std::uint64_t width, std::uint64_t height)
{
    if (width == 0 || height == 0)
        return MS::kFailure;
    // Each side is below 2^32, so the product cannot wrap.
    if (width > kMaxRowPixels || width * height > kMaxImagePixels)
        return MS::kInvalidParameter;
    return MS::kSuccess;
}

struct FreeBytes {
    void operator()(unsigned char* bytes) const noexcept { std::free(bytes); }
};

/// Bytes from malloc, so that decoders can fill them once without a zero pass first.
using PixelBytes = std::unique_ptr<unsigned char[], FreeBytes>;

/// `count` uninitialised bytes; null when they cannot be allocated.
PixelBytes allocateBytes(std::size_t count);

/// A width by height 8-bit RGBA image, top row first; empty while `bytes` is null.
struct RgbaImage {
    unsigned int width = 0;
    unsigned int height = 0;
    PixelBytes bytes;
};

}  // namespace host
