// The host's IFF reader. Every size, tile and packet is checked against its
// bounds as it is read, so a damaged file is refused, never decoded past.
#include "IffCodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace host {

namespace {

constexpr std::uint32_t kHasRgb = 1;
constexpr std::uint32_t kHasAlpha = 2;
// Depth travels in "ZBUF" chunks beside the colour tiles, which read without it.
constexpr std::uint32_t kHasDepth = 4;
constexpr std::uint32_t kKnownFlags = kHasRgb | kHasAlpha | kHasDepth;

std::uint32_t bigEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

struct Chunk {
    char tag[4] = {};
    std::uint32_t size = 0;
    std::uint64_t dataStart = 0;

    bool is(std::string_view name) const { return std::string_view(tag, 4) == name; }
    std::uint64_t end() const { return dataStart + size; }
    // Chunks are padded to four bytes; the padding of the last one may be missing.
    std::uint64_t next() const { return dataStart + ((std::uint64_t { size } + 3) & ~std::uint64_t { 3 }); }
};

// The chunk starting at `position`, which must end by `end`. Chunk headers come
// through a window of the file: a form may hold millions of empty chunks.
bool readChunk(ReadWindow& source, std::uint64_t position, std::uint64_t end, Chunk& chunk)
{
    unsigned char head[8];
    if (position > end || end - position < 8 || source.readAt(position, head, 8) != 8)
        return false;
    std::memcpy(chunk.tag, head, 4);
    chunk.size = bigEndian(head + 4, 4);
    chunk.dataStart = position + 8;
    return chunk.size <= end - chunk.dataStart;
}

// Whether `chunk` is a "FOR4" form of `type`.
bool isForm(ReadWindow& source, const Chunk& chunk, std::string_view type)
{
    char bytes[4];
    return chunk.is("FOR4") && chunk.size >= 4 && source.readAt(chunk.dataStart, bytes, 4) == 4
        && std::string_view(bytes, 4) == type;
}

struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned channels = 0;  // 3 (RGB) or 4 (RGBA)
    unsigned sampleBytes = 0;  // 1 or 2
    unsigned tiles = 0;
    bool packed = false;

    unsigned planes() const { return channels * sampleBytes; }
};

bool readHeader(ReadWindow& source, const Chunk& chunk, Header& header)
{
    // 24 bytes, or 32 with the data window's origin.
    if (!chunk.is("TBHD") || (chunk.size != 24 && chunk.size != 32))
        return false;
    unsigned char bytes[32] = {};
    if (source.readAt(chunk.dataStart, bytes, chunk.size) != chunk.size)
        return false;
    header.width = bigEndian(&bytes[0], 4);
    header.height = bigEndian(&bytes[4], 4);
    // Bytes 8 to 11 hold the pixel aspect ratio, which only display uses.
    const std::uint32_t flags = bigEndian(&bytes[12], 4);
    const std::uint32_t sampleSize = bigEndian(&bytes[16], 2);
    header.tiles = bigEndian(&bytes[18], 2);
    const std::uint32_t compression = bigEndian(&bytes[20], 4);
    const bool atOrigin
        = chunk.size == 24 || (bigEndian(&bytes[24], 4) == 0 && bigEndian(&bytes[28], 4) == 0);
    header.channels = (flags & kHasAlpha) ? 4 : 3;
    header.sampleBytes = sampleSize == 0 ? 1 : 2;
    header.packed = compression == 1;
    // Colour is required: alpha or depth alone is no image the host shows. Other
    // flags (a black image, ...) and compressions are not understood.
    return atOrigin && (flags & kHasRgb) != 0 && (flags & ~kKnownFlags) == 0 && sampleSize <= 1
        && compression <= 1 && header.tiles > 0;
}

struct Tile {
    std::uint32_t left = 0;
    std::uint32_t top = 0;  // counted from the bottom row, as stored
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    std::size_t pixels() const { return std::size_t { width } * height; }
};

// A tile's corners, the first 8 bytes of its chunk: inside the image and in order.
bool readCorners(ReadWindow& source, const Chunk& chunk, const Header& header, Tile& tile)
{
    unsigned char bytes[8];
    if (chunk.size < 8 || source.readAt(chunk.dataStart, bytes, 8) != 8)
        return false;
    tile.left = bigEndian(&bytes[0], 2);
    tile.top = bigEndian(&bytes[2], 2);
    const std::uint32_t right = bigEndian(&bytes[4], 2);
    const std::uint32_t bottom = bigEndian(&bytes[6], 2);
    if (tile.left > right || tile.top > bottom || right >= header.width || bottom >= header.height)
        return false;
    tile.width = right - tile.left + 1;
    tile.height = bottom - tile.top + 1;
    return true;
}

// Tiles of one size laid as a grid from the origin, the edge ones cut by the
// image's edge, each cell once and in any order: the layout writers use, and
// one that proves each pixel is written exactly once.
class TileGrid {
public:
    // `tileWidth` by `tileHeight`: the largest tile's size.
    bool start(const Header& header, std::uint32_t tileWidth, std::uint32_t tileHeight)
    {
        tileWidth_ = tileWidth;
        tileHeight_ = tileHeight;
        columns_ = (std::uint64_t { header.width } + tileWidth - 1) / tileWidth;
        const std::uint64_t rows = (std::uint64_t { header.height } + tileHeight - 1) / tileHeight;
        if (columns_ * rows != header.tiles)
            return false;
        taken_.assign(header.tiles, false);
        return true;
    }

    bool place(const Header& header, const Tile& tile)
    {
        if (tile.left % tileWidth_ != 0 || tile.top % tileHeight_ != 0
            || tile.width != std::min<std::uint64_t>(tileWidth_, header.width - tile.left)
            || tile.height != std::min<std::uint64_t>(tileHeight_, header.height - tile.top))
            return false;
        const std::uint64_t cell = tile.top / tileHeight_ * columns_ + tile.left / tileWidth_;
        if (taken_[cell])
            return false;
        taken_[cell] = true;
        ++placed_;
        return true;
    }

    bool complete(const Header& header) const { return placed_ == header.tiles; }

private:
    std::uint32_t tileWidth_ = 1;
    std::uint32_t tileHeight_ = 1;
    std::uint64_t columns_ = 0;
    std::vector<bool> taken_;
    unsigned placed_ = 0;
};

// The same rounding as 16 to 8 bits everywhere else in the host: v * 255 / 65535.
unsigned char toEightBits(unsigned value)
{
    return static_cast<unsigned char>((value + 128) / 257);
}

// Visits the image offset of channel `channel` of each of the tile's pixels in
// stored order: rows bottom up, each left to right.
template <typename Visit>
void forEachPixel(const Header& header, const Tile& tile, unsigned channel, Visit visit)
{
    std::size_t index = 0;
    for (std::uint32_t row = 0; row < tile.height; ++row) {
        const std::size_t imageRow = header.height - 1 - (tile.top + row);
        std::size_t offset = (imageRow * header.width + tile.left) * 4 + channel;
        for (std::uint32_t column = 0; column < tile.width; ++column, offset += 4)
            visit(offset, index++);
    }
}

// A pixel's samples are stored in reverse: alpha (if any), blue, green, red.
unsigned channelOfSample(const Header& header, unsigned sample)
{
    return header.channels - 1 - sample;
}

void storeRawTile(const Header& header, const Tile& tile, const unsigned char* data, unsigned char* image)
{
    const unsigned pixelBytes = header.planes();
    for (unsigned sample = 0; sample < header.channels; ++sample) {
        const unsigned at = sample * header.sampleBytes;
        if (header.sampleBytes == 1) {
            forEachPixel(header, tile, channelOfSample(header, sample),
                [&](std::size_t offset, std::size_t i) { image[offset] = data[i * pixelBytes + at]; });
        } else {
            forEachPixel(
                header, tile, channelOfSample(header, sample), [&](std::size_t offset, std::size_t i) {
                    const unsigned char* bytes = data + i * pixelBytes + at;
                    image[offset] = toEightBits(unsigned(bytes[0]) << 8 | bytes[1]);
                });
        }
    }
}

// Unpacks one byte plane: a count byte n, then either one byte repeated
// (n & 0x7f) + 1 times (high bit set) or that many literal bytes. False when a
// packet runs past the plane or the data.
bool unpackPlane(const unsigned char* data, std::size_t size, std::size_t& position, unsigned char* plane,
    std::size_t count)
{
    std::size_t filled = 0;
    while (filled < count) {
        if (position >= size)
            return false;
        const unsigned char head = data[position++];
        const std::size_t run = (head & 0x7fu) + 1u;
        if (run > count - filled)
            return false;
        if (head & 0x80) {
            if (position >= size)
                return false;
            std::memset(plane + filled, data[position++], run);
        } else {
            if (run > size - position)
                return false;
            std::memcpy(plane + filled, data + position, run);
            position += run;
        }
        filled += run;
    }
    return true;
}

// Packed planes come in the samples' order, high bytes of every sample first,
// then (16-bit) the low bytes: the low byte joins the high one already stored.
bool storePackedTile(const Header& header, const Tile& tile, const unsigned char* data, std::size_t size,
    std::vector<unsigned char>& plane, unsigned char* image)
{
    plane.resize(tile.pixels());
    std::size_t position = 0;
    for (unsigned index = 0; index < header.planes(); ++index) {
        if (!unpackPlane(data, size, position, plane.data(), plane.size()))
            return false;
        const unsigned channel = channelOfSample(header, index % header.channels);
        if (header.sampleBytes == 1 || index < header.channels) {
            forEachPixel(
                header, tile, channel, [&](std::size_t offset, std::size_t i) { image[offset] = plane[i]; });
        } else {
            forEachPixel(header, tile, channel, [&](std::size_t offset, std::size_t i) {
                image[offset] = toEightBits(unsigned(image[offset]) << 8 | plane[i]);
            });
        }
    }
    return true;
}

// A colour tile's chunk: where its stored bytes lie, and its place.
struct TileChunk {
    Chunk chunk;
    Tile tile;
};

// The colour tiles of the "TBMP" form, walked once; false for damage, or for
// more tiles than the header says (a file cannot make the walk hold more).
bool findTiles(ReadWindow& source, const Chunk& form, const Header& header, std::vector<TileChunk>& tiles)
{
    for (std::uint64_t position = form.dataStart + 4; position < form.end();) {
        TileChunk found;
        if (!readChunk(source, position, form.end(), found.chunk))
            return false;
        position = found.chunk.next();
        if (!found.chunk.is("RGBA"))
            continue;  // depth ("ZBUF") and anything else beside the colour
        if (tiles.size() == header.tiles || !readCorners(source, found.chunk, header, found.tile))
            return false;
        tiles.push_back(found);
    }
    return true;
}

// Reads every tile of the "TBMP" form into `image`; false for any damage.
bool readTiles(ReadWindow& window, const ImageSource& source, const Chunk& form, const Header& header,
    unsigned char* image)
{
    std::vector<TileChunk> tiles;
    if (!findTiles(window, form, header, tiles))
        return false;
    // The grid's tile size is the largest tile's.
    std::uint32_t tileWidth = 0;
    std::uint32_t tileHeight = 0;
    for (const TileChunk& found : tiles) {
        tileWidth = std::max(tileWidth, found.tile.width);
        tileHeight = std::max(tileHeight, found.tile.height);
    }
    TileGrid grid;
    if (tileWidth == 0 || !grid.start(header, tileWidth, tileHeight))
        return false;

    std::vector<unsigned char> data;
    std::vector<unsigned char> plane;
    for (const TileChunk& found : tiles) {
        const Tile& tile = found.tile;
        if (!grid.place(header, tile))
            return false;
        // A tile that packing would not shrink is stored as it is: never more
        // bytes than its raw pixels, checked before any of them is read.
        const std::size_t rawSize = tile.pixels() * header.planes();
        const std::size_t dataSize = found.chunk.size - 8;
        if (dataSize > rawSize || (dataSize < rawSize && !header.packed))
            return false;
        data.resize(dataSize);
        if (source.readAt(found.chunk.dataStart + 8, data.data(), dataSize) != dataSize)
            return false;
        if (dataSize == rawSize)
            storeRawTile(header, tile, data.data(), image);
        else if (!storePackedTile(header, tile, data.data(), dataSize, plane, image))
            return false;
        if (ReadTime::passed())
            return false;
    }
    return grid.complete(header);
}

}  // namespace

MStatus readIff(const ImageSource& source, RgbaImage& image)
{
    const std::uint64_t size = source.size();
    ReadWindow window(source);
    Chunk form;
    if (!readChunk(window, 0, size, form) || !isForm(window, form, "CIMG"))
        return MS::kFailure;
    // Nothing may follow the form but the padding of its last chunk.
    if (size - form.end() >= 4)
        return MS::kFailure;
    Chunk headerChunk;
    Header header;
    if (!readChunk(window, form.dataStart + 4, form.end(), headerChunk)
        || !readHeader(window, headerChunk, header))
        return MS::kFailure;
    const MStatus sized = checkImageSize(header.width, header.height, size, kHeldByReader);
    if (!sized)
        return sized;

    Chunk tiles;
    bool found = false;
    for (std::uint64_t position = headerChunk.next(); position < form.end();) {
        Chunk chunk;
        if (!readChunk(window, position, form.end(), chunk))
            return MS::kFailure;
        if (isForm(window, chunk, "TBMP")) {
            if (found)
                return MS::kFailure;
            tiles = chunk;
            found = true;
        }
        position = chunk.next();
    }
    // Each plane of a tile takes at least one byte per 64 pixels (two bytes code
    // 128), so a few bytes cannot claim gigabytes of pixels.
    const std::uint64_t pixels = std::uint64_t { header.width } * header.height;
    if (!found || pixels * header.planes() / 64 > tiles.size)
        return MS::kFailure;

    PixelBytes bytes = allocateBytes(static_cast<std::size_t>(pixels) * 4);
    if (!bytes)
        return MS::kInsufficientMemory;
    if (header.channels == 3) {
        for (std::size_t i = 3; i < pixels * 4; i += 4)
            bytes[i] = 255;
    }
    if (!readTiles(window, source, tiles, header, bytes.get()))
        return MS::kFailure;
    image = RgbaImage { header.width, header.height, std::move(bytes) };
    return MS::kSuccess;
}

}  // namespace host
