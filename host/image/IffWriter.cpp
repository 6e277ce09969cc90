// The host's IFF writer: 8-bit RGBA in run-length packed tiles, laid out as
// IffReader.cpp and OpenImageIO read them.
#include "IffCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include <unistd.h>

namespace host {

namespace {

constexpr std::uint32_t kTileSide = 64;
// The format's documented limit; the tile count must also fit its 16 bits.
constexpr std::uint32_t kMaxSide = 8192;

// Writes through the descriptor at known offsets, in blocks, so that the form
// sizes can be filled in at the end without a second copy of the file.
class FileWriter {
public:
    explicit FileWriter(int descriptor)
        : descriptor_(descriptor)
    {
    }

    std::uint64_t offset() const { return written_ + buffer_.size(); }

    void text(const char* tag) { buffer_.insert(buffer_.end(), tag, tag + 4); }
    void number(std::uint32_t value, int count)
    {
        for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
            buffer_.push_back(static_cast<unsigned char>(value >> shift));
    }
    void bytes(const std::vector<unsigned char>& data)
    {
        buffer_.insert(buffer_.end(), data.begin(), data.end());
        if (buffer_.size() >= kBlock)
            flush();
    }
    void padToFour()
    {
        while (offset() % 4 != 0)
            buffer_.push_back(0);
    }

    bool flush()
    {
        ok_ = ok_ && writeAt(written_, buffer_.data(), buffer_.size());
        written_ += buffer_.size();
        buffer_.clear();
        return ok_;
    }

    // Puts a 32-bit big-endian number at `at`, once everything before is flushed.
    bool patch(std::uint64_t at, std::uint32_t value)
    {
        const unsigned char bytes[4]
            = { static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                  static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value) };
        ok_ = ok_ && writeAt(at, bytes, sizeof bytes);
        return ok_;
    }

private:
    static constexpr std::size_t kBlock = std::size_t(1) << 20;

    bool writeAt(std::uint64_t at, const unsigned char* data, std::size_t count)
    {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t wrote
                = ::pwrite(descriptor_, data + done, count - done, static_cast<off_t>(at + done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                return false;
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    int descriptor_;
    std::uint64_t written_ = 0;
    std::vector<unsigned char> buffer_;
    bool ok_ = true;
};

// Packs one byte plane: a repeat packet (0x80 | count - 1, byte) for two to 128
// equal bytes, else a literal packet (count - 1, bytes) of up to 128 bytes that
// ends where two equal bytes begin.
void packPlane(const unsigned char* plane, std::size_t count, std::vector<unsigned char>& out)
{
    std::size_t i = 0;
    while (i < count) {
        std::size_t run = 1;
        while (i + run < count && run < 128 && plane[i + run] == plane[i])
            ++run;
        if (run >= 2) {
            out.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
            out.push_back(plane[i]);
            i += run;
            continue;
        }
        const std::size_t start = i;
        do
            ++i;
        while (i < count && i - start < 128 && !(i + 1 < count && plane[i] == plane[i + 1]));
        out.push_back(static_cast<unsigned char>(i - start - 1));
        out.insert(out.end(), plane + start, plane + i);
    }
}

}  // namespace

MStatus encodeIff(const RgbaImage& image, int descriptor)
{
    if (!image.bytes || image.width == 0 || image.height == 0)
        return MS::kFailure;
    if (image.width > kMaxSide || image.height > kMaxSide)
        return MS::kInvalidParameter;
    const std::uint32_t columns = (image.width + kTileSide - 1) / kTileSide;
    const std::uint32_t rows = (image.height + kTileSide - 1) / kTileSide;

    FileWriter out(descriptor);
    out.text("FOR4");
    out.number(0, 4);  // the form's size, filled in at the end
    out.text("CIMG");
    out.text("TBHD");
    out.number(32, 4);
    out.number(image.width, 4);
    out.number(image.height, 4);
    out.number(1, 2);  // pixel aspect ratio 1:1
    out.number(1, 2);
    out.number(3, 4);  // RGB and alpha
    out.number(0, 2);  // 8-bit samples
    out.number(columns * rows, 2);
    out.number(1, 4);  // run-length packed
    out.number(0, 4);  // data window at the origin
    out.number(0, 4);
    const std::uint64_t tilesForm = out.offset();
    out.text("FOR4");
    out.number(0, 4);  // filled in at the end
    out.text("TBMP");

    std::vector<unsigned char> plane;
    std::vector<unsigned char> packed;
    std::vector<unsigned char> raw;
    for (std::uint32_t row = 0; row < rows; ++row) {
        for (std::uint32_t column = 0; column < columns; ++column) {
            // Tile rows count from the bottom of the image, as stored.
            const std::uint32_t left = column * kTileSide;
            const std::uint32_t bottom = row * kTileSide;
            const std::uint32_t width = std::min(kTileSide, image.width - left);
            const std::uint32_t height = std::min(kTileSide, image.height - bottom);
            const std::size_t pixels = std::size_t { width } * height;
            // Samples in reverse (alpha, blue, green, red): one plane each when
            // packed, interleaved per pixel when raw.
            packed.clear();
            raw.resize(pixels * 4);
            plane.resize(pixels);
            for (unsigned sample = 0; sample < 4; ++sample) {
                const unsigned channel = 3 - sample;
                std::size_t i = 0;
                for (std::uint32_t y = 0; y < height; ++y) {
                    const unsigned char* source = image.bytes.get()
                        + ((std::size_t(image.height) - 1 - (bottom + y)) * image.width + left) * 4;
                    for (std::uint32_t x = 0; x < width; ++x, ++i) {
                        plane[i] = source[x * 4 + channel];
                        raw[i * 4 + sample] = plane[i];
                    }
                }
                packPlane(plane.data(), pixels, packed);
            }
            const std::vector<unsigned char>& data = packed.size() < raw.size() ? packed : raw;
            out.text("RGBA");
            out.number(static_cast<std::uint32_t>(8 + data.size()), 4);
            out.number(left, 2);
            out.number(bottom, 2);
            out.number(left + width - 1, 2);
            out.number(bottom + height - 1, 2);
            out.bytes(data);
            out.padToFour();
        }
    }
    const std::uint64_t end = out.offset();
    const bool written = out.flush() && out.patch(4, static_cast<std::uint32_t>(end - 8))
        && out.patch(tilesForm + 4, static_cast<std::uint32_t>(end - tilesForm - 8));
    return written ? MS::kSuccess : MS::kFailure;
}

}  // namespace host
