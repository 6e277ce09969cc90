#include "IffCheck.h"

#include <cstdint>
#include <string_view>

namespace host {

namespace {

constexpr std::uint32_t kHasRgb = 1;
constexpr std::uint32_t kHasAlpha = 2;
constexpr std::uint32_t kKnownFlags = kHasRgb | kHasAlpha;

// The file's bytes, read only within their size.
struct Bytes {
    const unsigned char* data;
    std::size_t size;
};

struct Chunk {
    std::string_view tag;
    std::uint32_t size = 0;
    std::size_t dataStart = 0;
    const unsigned char* data = nullptr;
};

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t planes = 0;  // byte planes per tile: channels times bytes per sample
    std::uint32_t tiles = 0;
    bool compressed = false;
};

// The decoder takes its tile size from the first tile, so no later tile may be
// larger, and the tiles must cover the image once.
struct TileCover {
    std::uint32_t count = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint64_t area = 0;
};

std::uint32_t bigEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

// The chunk starting at `position`, which must end by `end`.
bool readChunk(const Bytes& file, std::size_t position, std::size_t end, Chunk& chunk)
{
    if (position > end || end - position < 8)
        return false;
    chunk.tag = std::string_view(reinterpret_cast<const char*>(file.data + position), 4);
    chunk.size = bigEndian(file.data + position + 4, 4);
    chunk.dataStart = position + 8;
    chunk.data = file.data + chunk.dataStart;
    return chunk.size <= end - chunk.dataStart;
}

// Chunks are padded to four bytes; the padding of the last one may be missing.
std::size_t nextChunk(const Chunk& chunk)
{
    return chunk.dataStart + ((std::size_t(chunk.size) + 3) & ~std::size_t(3));
}

bool readHeader(const Chunk& chunk, Header& header)
{
    if (chunk.tag != "TBHD" || chunk.size < 24)
        return false;
    const unsigned char* bytes = chunk.data;
    header.width = bigEndian(&bytes[0], 4);
    header.height = bigEndian(&bytes[4], 4);
    const std::uint32_t flags = bigEndian(&bytes[12], 4);
    const std::uint32_t bytesPerSample = bigEndian(&bytes[16], 2) == 0 ? 1 : 2;
    const std::uint32_t compression = bigEndian(&bytes[20], 4);
    const std::uint32_t channels = (flags & kHasRgb ? 3 : 0) + (flags & kHasAlpha ? 1 : 0);
    header.planes = channels * bytesPerSample;
    header.compressed = compression == 1;
    header.tiles = bigEndian(&bytes[18], 2);
    // The decoder mishandles a data window away from the origin.
    const bool atOrigin = chunk.size < 32 || (bigEndian(&bytes[24], 4) == 0 && bigEndian(&bytes[28], 4) == 0);
    // Any other flag (depth, a black image) makes the decoder assert and abort;
    // without colour it leaves its channel count unset and reads with garbage.
    return atOrigin && header.width > 0 && header.height > 0 && (flags & kHasRgb) != 0
        && (flags & ~kKnownFlags) == 0 && bigEndian(&bytes[16], 2) <= 1 && compression <= 1;
}

// Each byte plane of a tile is packed on its own: a count byte n, then either
// one byte repeated (n & 0x7f) + 1 times (high bit set) or that many literal bytes.
bool runsFitPlanes(const unsigned char* data, std::size_t size, std::size_t planeSize, std::uint32_t planes)
{
    std::size_t position = 0;
    for (std::uint32_t plane = 0; plane < planes; ++plane) {
        std::size_t filled = 0;
        while (filled < planeSize) {
            if (position >= size)
                return false;
            const unsigned char count = data[position++];
            const std::size_t run = (count & 0x7f) + 1u;
            position += (count & 0x80) ? 1 : run;
            filled += run;
            if (position > size || filled > planeSize)
                return false;
        }
    }
    return true;
}

bool tileIsSound(const Chunk& chunk, const Header& header, TileCover& cover)
{
    if (chunk.tag != "RGBA" || chunk.size < 8)
        return false;
    const unsigned char* bytes = chunk.data;
    const std::uint32_t left = bigEndian(&bytes[0], 2);
    const std::uint32_t top = bigEndian(&bytes[2], 2);
    const std::uint32_t right = bigEndian(&bytes[4], 2);
    const std::uint32_t bottom = bigEndian(&bytes[6], 2);
    if (left > right || top > bottom || right >= header.width || bottom >= header.height)
        return false;
    const std::uint32_t width = right - left + 1;
    const std::uint32_t height = bottom - top + 1;
    if (cover.count++ == 0) {
        cover.width = width;
        cover.height = height;
    }
    if (width > cover.width || height > cover.height)
        return false;
    cover.area += std::uint64_t { width } * height;
    const std::size_t planeSize = std::size_t { width } * height;
    const std::size_t dataSize = chunk.size - 8;
    // A tile that packing would not shrink is stored as it is.
    if (dataSize == planeSize * header.planes)
        return true;
    return header.compressed && runsFitPlanes(bytes + 8, dataSize, planeSize, header.planes);
}

bool tilesAreSound(const Bytes& file, const Chunk& form, const Header& header)
{
    if (form.tag != "FOR4" || form.size < 4
        || std::string_view(reinterpret_cast<const char*>(form.data), 4) != "TBMP")
        return false;
    const std::size_t end = form.dataStart + form.size;
    TileCover cover;
    for (std::size_t position = form.dataStart + 4; position < end;) {
        Chunk tile;
        if (!readChunk(file, position, end, tile) || !tileIsSound(tile, header, cover))
            return false;
        position = nextChunk(tile);
    }
    return cover.count == header.tiles && cover.area == std::uint64_t { header.width } * header.height;
}

}  // namespace

bool iffLooksSound(const unsigned char* data, std::size_t size)
{
    const Bytes file { data, size };
    Chunk form;
    if (!readChunk(file, 0, size, form) || form.tag != "FOR4" || form.size < 4
        || std::string_view(reinterpret_cast<const char*>(form.data), 4) != "CIMG")
        return false;

    // The decoder may read on past the form, so nothing may follow it but padding.
    const std::size_t end = form.dataStart + form.size;
    if (size - end >= 4)
        return false;
    Chunk headerChunk;
    Header header;
    if (!readChunk(file, form.dataStart + 4, end, headerChunk) || !readHeader(headerChunk, header))
        return false;
    for (std::size_t position = nextChunk(headerChunk); position < end;) {
        Chunk chunk;
        if (!readChunk(file, position, end, chunk))
            return false;
        if (chunk.tag == "FOR4" && !tilesAreSound(file, chunk, header))
            return false;
        position = nextChunk(chunk);
    }
    return true;
}

}  // namespace host
