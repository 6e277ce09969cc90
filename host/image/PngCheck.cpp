#include "PngCheck.h"

#include "RgbaImage.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace host {

namespace {

std::uint32_t bigEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

std::uint32_t pngCrc(const unsigned char* bytes, std::size_t size)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as 32-bit; a chunk is at most 2^31 - 1 bytes plus its type.
    constexpr std::size_t kMostAtOnce = std::size_t(1) << 30;
    for (std::size_t done = 0; done < size; done += kMostAtOnce)
        crc = crc32(crc, bytes + done, static_cast<uInt>(std::min(size - done, kMostAtOnce)));
    return static_cast<std::uint32_t>(crc);
}

// Deflate packs at most 1032 bytes into one, so image data shorter than that
// share of the claimed pixels cannot hold them; refusing it spares allocating
// and decoding up to 4 GiB for a few bytes.
bool dataCanHoldPixels(const unsigned char* header, std::uint64_t dataSize)
{
    static const std::uint64_t samplesPerColourType[] = { 1, 0, 3, 1, 2, 0, 4 };
    const std::uint64_t width = bigEndian(&header[0], 4);
    const std::uint64_t height = bigEndian(&header[4], 4);
    const std::uint64_t bitDepth = header[8];
    const std::uint64_t colourType = header[9];
    const std::uint64_t samples = colourType < 7 ? samplesPerColourType[colourType] : 0;
    // An image over the host's limit is refused from its header, as such.
    if (width * height > kMaxImagePixels)
        return true;
    const std::uint64_t pixelBytes = width * height * samples * bitDepth / 8;
    constexpr std::uint64_t kMostInflation = 1032;
    return dataSize * kMostInflation + 1024 >= pixelBytes;
}

}  // namespace

bool pngLooksSound(const unsigned char* bytes, std::size_t size)
{
    // A file that begins like a PNG goes to the PNG decoder, which prints to
    // standard error when the rest of the signature is off.
    static const unsigned char signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n' };
    if (size < sizeof signature || std::memcmp(bytes, signature, sizeof signature) != 0)
        return false;
    const unsigned char* header = nullptr;
    std::uint64_t dataSize = 0;
    for (std::size_t start = sizeof signature;;) {
        if (size - start < 12)
            return false;
        const std::uint32_t length = bigEndian(bytes + start, 4);
        if (size - start - 12 < length)
            return false;
        // The CRC covers the chunk's type and data.
        const unsigned char* typeAndData = bytes + start + 4;
        if (pngCrc(typeAndData, 4 + std::size_t { length }) != bigEndian(typeAndData + 4 + length, 4))
            return false;
        if (std::memcmp(typeAndData, "IHDR", 4) == 0 && length >= 13)
            header = typeAndData + 4;
        if (std::memcmp(typeAndData, "IDAT", 4) == 0)
            dataSize += length;
        if (std::memcmp(typeAndData, "IEND", 4) == 0)
            return header != nullptr && dataCanHoldPixels(header, dataSize);
        start += 12 + std::size_t { length };
    }
}

}  // namespace host
