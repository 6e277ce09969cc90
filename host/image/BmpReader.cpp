#include "BmpReader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace host {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kLargestInfoBytes = 124;

// How much of the file one read takes: rows are read in runs of about this many
// bytes, run-length data in chunks of it.
constexpr std::size_t kReadBytes = 256 * 1024;

std::uint32_t littleEndian(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// One channel of a BI_BITFIELDS pixel: where its bits are and how many.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t maximum = 0;  // the mask shifted down; 0 for an absent channel

    // False for a mask whose bits are not one run: no reader agrees on those.
    bool set(std::uint32_t bits)
    {
        mask = bits;
        if (bits == 0)
            return true;
        while (((bits >> shift) & 1u) == 0)
            ++shift;
        maximum = bits >> shift;
        return (maximum & (maximum + 1)) == 0;
    }

    // The channel scaled to 0..255, rounded; `absent` when there is no mask.
    unsigned char operator()(std::uint32_t pixel, unsigned char absent) const
    {
        if (maximum == 0)
            return absent;
        const std::uint64_t value = (pixel & mask) >> shift;
        return static_cast<unsigned char>((value * 255 + maximum / 2) / maximum);
    }
};

struct Layout {
    std::uint32_t pixelsAt = 0;  // where the pixels start
    std::uint32_t infoBytes = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool topDown = false;
    std::uint32_t depth = 0;
    std::uint32_t compression = kBiRgb;
    std::uint32_t paletteEntries = 0;  // as many as the file holds, at most 2^depth
    // Palette colours as RGBA; an index past the file's palette reads opaque
    // black, never a byte the file did not give.
    std::array<std::uint32_t, 256> palette {};
    std::array<Channel, 4> channels {};  // red, green, blue, alpha
};

std::uint32_t rgba(unsigned char red, unsigned char green, unsigned char blue, unsigned char alpha)
{
    const unsigned char bytes[4] = { red, green, blue, alpha };
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

bool windowsInfoBytes(std::uint32_t infoBytes)
{
    return infoBytes == 40 || infoBytes == 52 || infoBytes == 56 || infoBytes == 108 || infoBytes == 124;
}

// The OS/2 2.x header: the Windows fields in the same places, as many as its
// size holds, with its own meanings for compression 3 and 4 (Huffman, RLE24).
bool os2InfoBytes(std::uint32_t infoBytes)
{
    return infoBytes == 16 || infoBytes == 64;
}

// Reads the headers, the masks and the palette; kFailure for a layout this
// reader does not read, checkImageSize's status for the size.
MStatus readLayout(const ImageSource& source, Layout& layout)
{
    unsigned char head[kFileHeaderBytes + kLargestInfoBytes + 16] = {};
    const std::size_t got = source.readAt(0, head, sizeof head);
    if (got < kFileHeaderBytes + 12 || head[0] != 'B' || head[1] != 'M')
        return MS::kFailure;
    layout.pixelsAt = littleEndian(head + 10, 4);
    layout.infoBytes = littleEndian(head + 14, 4);
    const std::uint32_t infoBytes = layout.infoBytes;
    const bool os2 = infoBytes == 12;
    if (!os2 && !windowsInfoBytes(infoBytes) && !os2InfoBytes(infoBytes))
        return MS::kFailure;
    // Bytes of the header the file holds, then zeros for the fields a short
    // OS/2 2.x header leaves out.
    if (got < kFileHeaderBytes + infoBytes)
        return MS::kFailure;
    const unsigned char* info = head + kFileHeaderBytes;
    unsigned char fields[kLargestInfoBytes] = {};
    std::memcpy(fields, info, std::min<std::size_t>(infoBytes, kLargestInfoBytes));

    std::int64_t height = 0;
    std::uint32_t planes = 0;
    std::uint32_t coloursUsed = 0;
    if (os2) {
        layout.width = littleEndian(fields + 4, 2);
        height = littleEndian(fields + 6, 2);
        planes = littleEndian(fields + 8, 2);
        layout.depth = littleEndian(fields + 10, 2);
    } else {
        const std::int32_t width = static_cast<std::int32_t>(littleEndian(fields + 4, 4));
        if (width <= 0)
            return MS::kFailure;
        layout.width = static_cast<std::uint32_t>(width);
        height = static_cast<std::int32_t>(littleEndian(fields + 8, 4));
        planes = littleEndian(fields + 12, 2);
        layout.depth = littleEndian(fields + 14, 2);
        layout.compression = littleEndian(fields + 16, 4);
        coloursUsed = littleEndian(fields + 32, 4);
    }
    layout.topDown = height < 0;
    layout.height = static_cast<std::uint32_t>(height < 0 ? -height : height);
    if (planes != 1)
        return MS::kFailure;

    const std::uint32_t depth = layout.depth;
    const std::uint32_t compression = layout.compression;
    const bool bitfields = compression == kBiBitfields || compression == kBiAlphaBitfields;
    if (os2InfoBytes(infoBytes) && compression > kBiRle4)
        return MS::kFailure;
    const bool knownPixels = (compression == kBiRgb
                                 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16
                                     || depth == 24 || depth == 32))
        || (compression == kBiRle8 && depth == 8) || (compression == kBiRle4 && depth == 4)
        || (bitfields && (depth == 16 || depth == 32));
    // Run-length pixels are stored bottom up only.
    if (!knownPixels || (layout.topDown && (compression == kBiRle8 || compression == kBiRle4)))
        return MS::kFailure;

    const MStatus size = checkImageSize(layout.width, layout.height, source.size(), kHeldByReader);
    if (!size)
        return size;

    // Masks follow a 40-byte header; the larger headers hold them (a 52-byte one
    // only red, green and blue).
    std::uint32_t masksEnd = static_cast<std::uint32_t>(kFileHeaderBytes) + infoBytes;
    const unsigned char* masks = fields + 40;
    std::uint32_t maskCount = infoBytes >= 56 ? 4 : 3;
    if (bitfields && infoBytes == 40) {
        maskCount = compression == kBiAlphaBitfields ? 4 : 3;
        masks = head + masksEnd;
        masksEnd += 4 * maskCount;
        if (got < masksEnd)
            return MS::kFailure;
    }
    if (bitfields) {
        for (std::uint32_t c = 0; c < maskCount; ++c)
            if (!layout.channels[c].set(littleEndian(masks + 4 * c, 4)))
                return MS::kFailure;
        if (depth == 16)
            for (const Channel& channel : layout.channels)
                if (channel.mask > 0xffffu)
                    return MS::kFailure;
    } else if (depth == 16) {
        // Five bits each, the top bit unused.
        layout.channels[0].set(0x7c00);
        layout.channels[1].set(0x03e0);
        layout.channels[2].set(0x001f);
    } else if (depth == 32) {
        // The fourth byte of a BI_RGB pixel is unused, whatever it holds.
        layout.channels[0].set(0x00ff0000);
        layout.channels[1].set(0x0000ff00);
        layout.channels[2].set(0x000000ff);
    }

    if (layout.pixelsAt < masksEnd || layout.pixelsAt > source.size())
        return MS::kFailure;
    if (depth <= 8) {
        // As many entries as the header asks for, the depth allows and fit
        // before the pixels; an OS/2 1.x header has no count, so the room decides.
        const std::uint32_t entryBytes = os2 ? 3 : 4;
        const std::uint32_t room = (layout.pixelsAt - masksEnd) / entryBytes;
        const std::uint32_t full = std::uint32_t(1) << depth;
        const std::uint32_t wanted = coloursUsed == 0 ? full : std::min(coloursUsed, full);
        layout.paletteEntries = std::min(wanted, room);
        if (layout.paletteEntries == 0)
            return MS::kFailure;
        unsigned char entries[256 * 4];
        const std::size_t entriesBytes = std::size_t(layout.paletteEntries) * entryBytes;
        if (source.readAt(masksEnd, entries, entriesBytes) != entriesBytes)
            return MS::kFailure;
        layout.palette.fill(rgba(0, 0, 0, 255));
        for (std::uint32_t i = 0; i < layout.paletteEntries; ++i) {
            const unsigned char* entry = entries + i * entryBytes;
            layout.palette[i] = rgba(entry[2], entry[1], entry[0], 255);
        }
    }
    return MS::kSuccess;
}

std::uint64_t storedRowBytes(const Layout& layout)
{
    return (std::uint64_t(layout.width) * layout.depth + 31) / 32 * 4;
}

// One stored row to RGBA.
void convertRow(const Layout& layout, const unsigned char* row, unsigned char* out)
{
    const std::uint32_t width = layout.width;
    switch (layout.depth) {
    case 1:
    case 2:
    case 4:
    case 8: {
        const unsigned depth = layout.depth;
        const unsigned perByte = 8 / depth;
        const unsigned maximum = (1u << depth) - 1;
        for (std::uint32_t x = 0; x < width; ++x) {
            const unsigned shift = 8 - depth - (x % perByte) * depth;
            const unsigned index = (row[x / perByte] >> shift) & maximum;
            std::memcpy(out + std::size_t(x) * 4, &layout.palette[index], 4);
        }
        break;
    }
    case 24:
        for (std::uint32_t x = 0; x < width; ++x) {
            const unsigned char* pixel = row + std::size_t(x) * 3;
            unsigned char* target = out + std::size_t(x) * 4;
            target[0] = pixel[2];
            target[1] = pixel[1];
            target[2] = pixel[0];
            target[3] = 255;
        }
        break;
    default: {
        const std::size_t bytes = layout.depth / 8;
        const auto& channels = layout.channels;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t pixel = littleEndian(row + x * bytes, int(bytes));
            unsigned char* target = out + std::size_t(x) * 4;
            target[0] = channels[0](pixel, 0);
            target[1] = channels[1](pixel, 0);
            target[2] = channels[2](pixel, 0);
            target[3] = channels[3](pixel, 255);
        }
        break;
    }
    }
}

// Rows as stored, read from the file in runs of rows, never the whole file.
MStatus readStoredRows(const ImageSource& source, const Layout& layout, RgbaImage& image)
{
    const std::uint64_t rowBytes = storedRowBytes(layout);
    const std::uint64_t height = layout.height;
    // A file shorter than its pixels is refused before anything is allocated.
    if (source.size() - layout.pixelsAt < rowBytes * height)
        return MS::kFailure;
    PixelBytes pixels = allocateBytes(std::size_t(layout.width) * height * 4);
    if (!pixels)
        return MS::kInsufficientMemory;
    const std::uint64_t rowsPerRead = std::max<std::uint64_t>(1, kReadBytes / rowBytes);
    std::vector<unsigned char> rows(static_cast<std::size_t>(std::min(rowsPerRead, height) * rowBytes));
    const std::size_t outRowBytes = std::size_t(layout.width) * 4;
    for (std::uint64_t first = 0; first < height; first += rowsPerRead) {
        const std::uint64_t count = std::min(rowsPerRead, height - first);
        const std::size_t bytes = static_cast<std::size_t>(count * rowBytes);
        if (source.readAt(layout.pixelsAt + first * rowBytes, rows.data(), bytes) != bytes)
            return MS::kFailure;
        for (std::uint64_t i = 0; i < count; ++i) {
            // Stored rows run bottom up unless the height was negative.
            const std::uint64_t stored = first + i;
            const std::uint64_t y = layout.topDown ? stored : height - 1 - stored;
            convertRow(layout, rows.data() + i * rowBytes, pixels.get() + y * outRowBytes);
        }
        if (ReadTime::passed())
            return MS::kFailure;
    }
    image = RgbaImage { layout.width, layout.height, std::move(pixels) };
    return MS::kSuccess;
}

// How often, in rows of run-length data, the read looks at its time.
constexpr std::uint64_t kRowsPerTimeCheck = 1024;

// Run-length data read in chunks; past the end of the file it gives nothing.
class ChunkReader {
public:
    ChunkReader(const ImageSource& source, std::uint64_t from)
        : source_(source)
        , next_(from)
        , chunk_(kReadBytes)
    {
    }

    // The next `count` bytes (at most 256) into `out`; false at the end.
    bool take(unsigned char* out, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            if (at_ == filled_ && !refill())
                return false;
            out[i] = chunk_[at_++];
        }
        return true;
    }

private:
    bool refill()
    {
        filled_ = source_.readAt(next_, chunk_.data(), chunk_.size());
        next_ += filled_;
        at_ = 0;
        return filled_ > 0;
    }

    const ImageSource& source_;
    std::uint64_t next_;
    std::vector<unsigned char> chunk_;
    std::size_t at_ = 0;
    std::size_t filled_ = 0;
};

// Decodes run-length pixels. Pixels the runs skip (by a jump, an early end of
// line or of the image) take palette index 0; runs past the image's edges are
// dropped, and an index past the palette gives opaque black.
MStatus readRunLengthPixels(const ImageSource& source, const Layout& layout, RgbaImage& image)
{
    const bool fourBit = layout.compression == kBiRle4;
    const std::uint64_t width = layout.width;
    const std::uint64_t height = layout.height;
    const std::uint64_t dataSize = source.size() - layout.pixelsAt;
    // Two bytes code at most 255 pixels; data shorter than that share of the
    // image cannot hold it but by skipping, and refusing it spares allocating
    // and filling up to 4 GiB for a few bytes.
    if (dataSize * 255 / 2 < width * height)
        return MS::kFailure;
    PixelBytes pixels = allocateBytes(width * height * 4);
    if (!pixels)
        return MS::kInsufficientMemory;
    const std::array<std::uint32_t, 256>& palette = layout.palette;
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
    ChunkReader data(source, layout.pixelsAt);
    unsigned char pair[2];
    unsigned char literal[256];
    while (y < height && data.take(pair, 2)) {
        const unsigned count = pair[0];
        const unsigned value = pair[1];
        if (count > 0) {
            // A run repeats one byte: one index, or two alternating ones of four bits.
            for (unsigned i = 0; i < count && x < width; ++i)
                put(fourBit ? (i % 2 ? value & 0x0f : value >> 4) : value);
        } else if (value == 0) {
            x = 0;
            if (++y % kRowsPerTimeCheck == 0 && ReadTime::passed())
                return MS::kFailure;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (!data.take(pair, 2))
                break;
            x += pair[0];
            y += pair[1];
        } else {
            const std::size_t stored = fourBit ? (value + 1u) / 2 : value;
            // Literal runs are padded to a whole number of 16-bit words.
            if (!data.take(literal, (stored + 1) / 2 * 2))
                break;
            for (unsigned i = 0; i < value; ++i)
                put(fourBit ? (i % 2 ? literal[i / 2] & 0x0f : literal[i / 2] >> 4) : literal[i]);
        }
    }
    image = RgbaImage { layout.width, layout.height, std::move(pixels) };
    return MS::kSuccess;
}

}  // namespace

MStatus readBmpFile(const ImageSource& source, RgbaImage& image)
{
    Layout layout;
    const MStatus layoutStatus = readLayout(source, layout);
    if (!layoutStatus)
        return layoutStatus;
    if (layout.compression == kBiRle8 || layout.compression == kBiRle4)
        return readRunLengthPixels(source, layout, image);
    return readStoredRows(source, layout, image);
}

}  // namespace host
