#include "BmpReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#include <stb/stb_image.h>

namespace host {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // "MBED"

constexpr std::size_t kFileHeaderBytes = 14;

std::uint32_t littleEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

void putLittleEndian(unsigned char* bytes, std::uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

struct Layout {
    std::uint32_t pixelsAt = 0;  // where the pixels start
    std::uint32_t infoBytes = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool topDown = false;
    std::uint32_t depth = 0;
    std::uint32_t compression = 0;
    std::uint32_t paletteAt = 0;
    std::uint32_t paletteEntries = 0;  // as many as the file holds, at most 2^depth
    std::uint32_t entryBytes = 4;
    std::uint32_t masksEnd = 0;  // the end of the headers and any masks after them
};

// Reads the headers; kFailure for a layout this reader does not read right.
MStatus readLayout(const unsigned char* bytes, std::size_t size, Layout& layout)
{
    if (size < kFileHeaderBytes + 16 || bytes[0] != 'B' || bytes[1] != 'M')
        return MS::kFailure;
    layout.pixelsAt = littleEndian(bytes + 10, 4);
    layout.infoBytes = littleEndian(bytes + 14, 4);
    const unsigned char* info = bytes + kFileHeaderBytes;
    std::int64_t height = 0;
    std::uint32_t coloursUsed = 0;
    if (layout.infoBytes == 12) {
        // The OS/2 header: 16-bit sides, palette entries of three bytes.
        layout.width = littleEndian(info + 4, 2);
        height = littleEndian(info + 6, 2);
        layout.depth = littleEndian(info + 10, 2);
        layout.entryBytes = 3;
    } else if (layout.infoBytes == 40 || layout.infoBytes == 52 || layout.infoBytes == 56
        || layout.infoBytes == 108 || layout.infoBytes == 124) {
        if (size < kFileHeaderBytes + layout.infoBytes)
            return MS::kFailure;
        const std::int32_t width = static_cast<std::int32_t>(littleEndian(info + 4, 4));
        height = static_cast<std::int32_t>(littleEndian(info + 8, 4));
        if (width <= 0)
            return MS::kFailure;
        layout.width = static_cast<std::uint32_t>(width);
        layout.depth = littleEndian(info + 14, 2);
        layout.compression = littleEndian(info + 16, 4);
        coloursUsed = littleEndian(info + 32, 4);
        // Colour the decoder would not manage, shown as if it were plain sRGB.
        if (layout.infoBytes >= 108 && littleEndian(info + 56, 4) == kProfileEmbedded)
            return MS::kFailure;
    } else {
        return MS::kFailure;
    }
    layout.topDown = height < 0;
    layout.height = static_cast<std::uint32_t>(height < 0 ? -height : height);
    const std::uint32_t planes = littleEndian(info + 12 - (layout.infoBytes == 12 ? 4 : 0), 2);
    if (planes != 1)
        return MS::kFailure;

    const std::uint32_t depth = layout.depth;
    const bool knownPixels
        = (layout.compression == kBiRgb
              && (depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32))
        || (layout.compression == kBiRle8 && depth == 8) || (layout.compression == kBiRle4 && depth == 4)
        || (layout.compression == kBiBitfields && (depth == 16 || depth == 32));
    // Run-length pixels are stored bottom up only.
    if (!knownPixels || (layout.topDown && (layout.compression == kBiRle8 || layout.compression == kBiRle4)))
        return MS::kFailure;

    layout.masksEnd = static_cast<std::uint32_t>(kFileHeaderBytes) + layout.infoBytes
        + (layout.compression == kBiBitfields && layout.infoBytes == 40 ? 12 : 0);
    if (layout.pixelsAt < layout.masksEnd || layout.pixelsAt > size)
        return MS::kFailure;
    if (depth <= 8) {
        layout.paletteAt = layout.masksEnd;
        const std::uint32_t room = (layout.pixelsAt - layout.paletteAt) / layout.entryBytes;
        const std::uint32_t full = std::uint32_t(1) << depth;
        const std::uint32_t wanted = coloursUsed == 0 ? full : std::min(coloursUsed, full);
        // An OS/2 palette is as long as the room before the pixels; one shorter
        // than the depth asks for is read wrong by the decoder.
        if (layout.entryBytes == 3 && room < full)
            return MS::kFailure;
        layout.paletteEntries = std::min(wanted, room);
        if (layout.paletteEntries == 0)
            return MS::kFailure;
    }
    return checkImageSize(layout.width, layout.height);
}

std::uint64_t storedRowBytes(const Layout& layout)
{
    return (std::uint64_t(layout.width) * layout.depth + 31) / 32 * 4;
}

// Decodes run-length pixels straight to RGBA, as the decoder has no RLE. Pixels
// the runs skip (by a jump, an early end of line or of the image) take palette
// index 0; runs past the image's edges are dropped, and an index past the
// palette gives opaque black.
MStatus readRunLengthPixels(
    const unsigned char* bytes, std::size_t size, const Layout& layout, RgbaImage& image)
{
    const bool fourBit = layout.compression == kBiRle4;
    const std::uint64_t width = layout.width;
    const std::uint64_t height = layout.height;
    const unsigned char* data = bytes + layout.pixelsAt;
    const std::size_t dataSize = size - layout.pixelsAt;
    // Two bytes code at most 255 pixels; data shorter than that share of the
    // image cannot hold it but by skipping, and refusing it spares allocating
    // and filling up to 4 GiB for a few bytes.
    if (std::uint64_t(dataSize) * 255 / 2 < width * height)
        return MS::kFailure;
    PixelBytes pixels = allocateBytes(width * height * 4);
    if (!pixels)
        return MS::kInsufficientMemory;
    std::uint32_t palette[256];
    for (std::uint32_t i = 0; i < 256; ++i) {
        unsigned char rgba[4] = { 0, 0, 0, 255 };
        if (i < layout.paletteEntries) {
            const unsigned char* entry = bytes + layout.paletteAt + i * layout.entryBytes;
            rgba[0] = entry[2];
            rgba[1] = entry[1];
            rgba[2] = entry[0];
        }
        std::memcpy(&palette[i], rgba, 4);
    }
    unsigned char* out = pixels.get();
    for (std::uint64_t i = 0; i < width * height; ++i)
        std::memcpy(out + i * 4, &palette[0], 4);

    // Rows are stored bottom up.
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    const auto put = [&](unsigned index) {
        if (x < width && y < height)
            std::memcpy(out + ((height - 1 - y) * width + x) * 4, &palette[index], 4);
        ++x;
    };
    std::size_t at = 0;
    while (at + 2 <= dataSize && y < height) {
        const unsigned count = data[at];
        const unsigned value = data[at + 1];
        at += 2;
        if (count > 0) {
            // A run repeats one byte: one index, or two alternating ones of four bits.
            for (unsigned i = 0; i < count && x < width; ++i)
                put(fourBit ? (i % 2 ? value & 0x0f : value >> 4) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (at + 2 > dataSize)
                break;
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {
            const std::size_t stored = fourBit ? (value + 1u) / 2 : value;
            if (at + stored > dataSize)
                break;
            for (unsigned i = 0; i < value; ++i)
                put(fourBit ? (i % 2 ? data[at + i / 2] & 0x0f : data[at + i / 2] >> 4) : data[at + i]);
            // Literal runs are padded to a whole number of 16-bit words.
            at += (stored + 1) / 2 * 2;
        }
    }
    image = RgbaImage { layout.width, layout.height, std::move(pixels) };
    return MS::kSuccess;
}

}  // namespace

MStatus readBmp(const unsigned char* bytes, std::size_t size, RgbaImage& image)
{
    image = RgbaImage {};
    Layout layout;
    const MStatus layoutStatus = readLayout(bytes, size, layout);
    if (!layoutStatus)
        return layoutStatus;

    if (layout.compression == kBiRle8 || layout.compression == kBiRle4)
        return readRunLengthPixels(bytes, size, layout, image);

    // The decoder reads zeros past the end of the file, and refuses true-colour
    // pixels that do not follow the headers at once; it is given whole pixels
    // right after the headers.
    if (size - layout.pixelsAt < storedRowBytes(layout) * layout.height)
        return MS::kFailure;
    std::vector<unsigned char> rebuilt;
    const unsigned char* file = bytes;
    std::size_t fileSize = size;
    if (layout.depth > 8 && layout.pixelsAt > layout.masksEnd) {
        rebuilt.assign(bytes, bytes + layout.masksEnd);
        rebuilt.insert(rebuilt.end(), bytes + layout.pixelsAt, bytes + size);
        putLittleEndian(&rebuilt[10], layout.masksEnd, 4);
    }
    if (!rebuilt.empty()) {
        file = rebuilt.data();
        fileSize = rebuilt.size();
    }
    if (fileSize > INT32_MAX)
        return MS::kFailure;

    int width = 0;
    int height = 0;
    int channels = 0;
    PixelBytes pixels(stbi_load_from_memory(file, static_cast<int>(fileSize), &width, &height, &channels, 4));
    if (!pixels)
        return MS::kFailure;
    if (std::uint32_t(width) != layout.width || std::uint32_t(height) != layout.height)
        return MS::kFailure;
    // The fourth byte of a BI_RGB pixel is unused, whatever it holds.
    if (layout.compression == kBiRgb && layout.depth == 32) {
        const std::size_t count = std::size_t(layout.width) * layout.height;
        for (std::size_t i = 0; i < count; ++i)
            pixels[i * 4 + 3] = 255;
    }
    image = RgbaImage { layout.width, layout.height, std::move(pixels) };
    return MS::kSuccess;
}

MStatus readBmpFile(const ImageSource& source, RgbaImage& image)
{
    std::vector<unsigned char> bytes(static_cast<std::size_t>(source.size()));
    if (source.readAt(0, bytes.data(), bytes.size()) != bytes.size())
        return MS::kFailure;
    return readBmp(bytes.data(), bytes.size(), image);
}

}  // namespace host
