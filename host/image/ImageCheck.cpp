#include "ImageCheck.h"

#include "RgbaImage.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

namespace {

constexpr std::uint32_t kHasRgb = 1;
constexpr std::uint32_t kHasAlpha = 2;
constexpr std::uint32_t kKnownFlags = kHasRgb | kHasAlpha;

struct Chunk {
    std::string tag;
    std::uint32_t size = 0;
    std::streamoff dataStart = 0;
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

bool readChunk(std::istream& file, std::streamoff end, Chunk& chunk)
{
    unsigned char head[8];
    chunk.dataStart = static_cast<std::streamoff>(file.tellg()) + 8;
    if (chunk.dataStart > end || !file.read(reinterpret_cast<char*>(head), 8))
        return false;
    chunk.tag.assign(reinterpret_cast<const char*>(head), 4);
    chunk.size = bigEndian(head + 4, 4);
    return chunk.dataStart + static_cast<std::streamoff>(chunk.size) <= end;
}

// Chunks are padded to four bytes; the padding of the last one may be missing.
void skipTo(std::istream& file, const Chunk& chunk)
{
    const std::streamoff next = chunk.dataStart + ((std::streamoff(chunk.size) + 3) & ~std::streamoff(3));
    file.seekg(next);
}

bool readBytes(std::istream& file, const Chunk& chunk, std::vector<unsigned char>& bytes)
{
    bytes.resize(chunk.size);
    file.seekg(chunk.dataStart);
    return static_cast<bool>(file.read(reinterpret_cast<char*>(bytes.data()), chunk.size));
}

bool readHeader(std::istream& file, const Chunk& chunk, Header& header)
{
    std::vector<unsigned char> bytes;
    if (chunk.tag != "TBHD" || chunk.size < 24 || !readBytes(file, chunk, bytes))
        return false;
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

bool tileIsSound(std::istream& file, const Chunk& chunk, const Header& header, TileCover& cover)
{
    std::vector<unsigned char> bytes;
    if (chunk.tag != "RGBA" || chunk.size < 8 || !readBytes(file, chunk, bytes))
        return false;
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
    const std::size_t dataSize = bytes.size() - 8;
    // A tile that packing would not shrink is stored as it is.
    if (dataSize == planeSize * header.planes)
        return true;
    return header.compressed && runsFitPlanes(bytes.data() + 8, dataSize, planeSize, header.planes);
}

bool tilesAreSound(std::istream& file, const Chunk& form, const Header& header)
{
    char type[4];
    if (form.tag != "FOR4" || form.size < 4 || !file.read(type, 4) || std::string(type, 4) != "TBMP")
        return false;
    const std::streamoff end = form.dataStart + form.size;
    TileCover cover;
    while (file.tellg() < end) {
        Chunk tile;
        if (!readChunk(file, end, tile) || !tileIsSound(file, tile, header, cover))
            return false;
        skipTo(file, tile);
    }
    return cover.count == header.tiles && cover.area == std::uint64_t { header.width } * header.height;
}

bool iffLooksSound(std::istream& file, std::streamoff fileSize)
{
    Chunk form;
    if (!readChunk(file, fileSize, form))
        return false;
    char type[4];
    if (!file.read(type, 4) || std::string(type, 4) != "CIMG")
        return false;

    // The decoder may read on past the form, so nothing may follow it but padding.
    const std::streamoff end = form.dataStart + form.size;
    if (fileSize - end >= 4)
        return false;
    Chunk headerChunk;
    Header header;
    if (!readChunk(file, end, headerChunk) || !readHeader(file, headerChunk, header))
        return false;
    skipTo(file, headerChunk);
    while (file.tellg() < end) {
        Chunk chunk;
        if (!readChunk(file, end, chunk))
            return false;
        if (chunk.tag == "FOR4" && !tilesAreSound(file, chunk, header))
            return false;
        skipTo(file, chunk);
    }
    return true;
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
bool pngDataCanHoldPixels(const std::vector<unsigned char>& header, std::uint64_t dataSize)
{
    static const std::uint64_t samplesPerColourType[] = { 1, 0, 3, 1, 2, 0, 4 };
    const std::uint64_t width = bigEndian(&header[4], 4);
    const std::uint64_t height = bigEndian(&header[8], 4);
    const std::uint64_t bitDepth = header[12];
    const std::uint64_t colourType = header[13];
    const std::uint64_t samples = colourType < 7 ? samplesPerColourType[colourType] : 0;
    // An image over the host's limit is refused from its header, as such.
    if (width * height > kMaxImagePixels)
        return true;
    const std::uint64_t pixelBytes = width * height * samples * bitDepth / 8;
    constexpr std::uint64_t kMostInflation = 1032;
    return dataSize * kMostInflation + 1024 >= pixelBytes;
}

bool pngLooksSound(std::istream& file, std::streamoff fileSize)
{
    file.seekg(8);
    std::vector<unsigned char> typeAndData;
    std::vector<unsigned char> header;
    std::uint64_t dataSize = 0;
    while (true) {
        unsigned char head[8];
        const std::streamoff start = file.tellg();
        if (start < 0 || start + 12 > fileSize || !file.read(reinterpret_cast<char*>(head), 8))
            return false;
        const std::uint32_t length = bigEndian(head, 4);
        if (start + 12 + std::streamoff(length) > fileSize)
            return false;
        typeAndData.assign(head + 4, head + 8);
        typeAndData.resize(4 + std::size_t { length });
        unsigned char crc[4];
        if (!file.read(reinterpret_cast<char*>(typeAndData.data() + 4), length)
            || !file.read(reinterpret_cast<char*>(crc), 4)
            || pngCrc(typeAndData.data(), typeAndData.size()) != bigEndian(crc, 4))
            return false;
        const std::string type(reinterpret_cast<const char*>(head + 4), 4);
        if (type == "IHDR" && length >= 13)
            header = typeAndData;
        if (type == "IDAT")
            dataSize += length;
        if (type == "IEND")
            return !header.empty() && pngDataCanHoldPixels(header, dataSize);
    }
}

// The IFF decoder, tried on any file the other decoders refuse, looks for its
// form at every eighth byte; one found after other bytes is not checked here, so
// it is refused.
bool holdsIffFormLater(std::istream& file)
{
    constexpr std::size_t kStep = 8;
    std::vector<char> buffer(std::size_t(1) << 16);
    std::streamoff position = 0;
    while (true) {
        file.clear();
        file.seekg(position);
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::size_t count = static_cast<std::size_t>(file.gcount());
        for (std::size_t offset = 0; offset + 12 <= count; offset += kStep) {
            if (std::string_view(&buffer[offset], 4) == "FOR4"
                && std::string_view(&buffer[offset + 8], 4) == "CIMG")
                return true;
        }
        if (count < buffer.size())
            break;
        // Step back one form header's length, so that one across the seam is seen.
        position += static_cast<std::streamoff>(buffer.size() - 2 * kStep);
    }
    file.clear();
    file.seekg(0);
    return false;
}

std::uint32_t littleEndian(const char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

// The BMP decoder leaves its channel count unset, and allocates and reads with
// whatever the field held, for an info header or a pixel depth it does not know.
bool bmpHeaderIsKnown(std::istream& file)
{
    char header[30] = {};
    file.read(header, sizeof header);
    const bool whole = file.gcount() == sizeof header;
    file.clear();
    file.seekg(0);
    if (!whole)
        return false;
    const std::uint32_t infoSize = littleEndian(header + 14, 4);
    const std::uint32_t depth = infoSize == 12 ? littleEndian(header + 24, 2) : littleEndian(header + 28, 2);
    const bool knownInfo = infoSize == 12 || infoSize == 40 || infoSize == 108 || infoSize == 124;
    const bool knownDepth
        = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
    return knownInfo && knownDepth;
}

}  // namespace

bool imageLooksSound(std::istream& file)
{
    static const char pngSignature[] = "\x89PNG\r\n\x1a\n";
    file.seekg(0, std::ios::end);
    const std::streamoff fileSize = file.tellg();
    file.seekg(0);
    char magic[8] = {};
    file.read(magic, sizeof magic);
    file.clear();
    file.seekg(0);
    if (std::string(magic, 2) == "BM" && !bmpHeaderIsKnown(file))
        return false;
    if (std::string(magic, 4) == "FOR4")
        return iffLooksSound(file, fileSize);
    if (holdsIffFormLater(file))
        return false;
    // A file that begins like a PNG goes to the PNG decoder, which prints to
    // standard error when the rest of the signature is off.
    if (std::string(magic, 4) == std::string(pngSignature, 4))
        return std::string(magic, 8) == std::string(pngSignature, 8) && pngLooksSound(file, fileSize);
    return true;
}

}  // namespace host
