#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace host {

/// The most pixels an image may hold.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 30;

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
