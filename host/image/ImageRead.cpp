#include "ImageRead.h"

#include "ImageCheck.h"
#include "ImageFormat.h"
#include "ImageSource.h"
#include "OiioErrors.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace host {

namespace {

// Spreads `count` pixels of `channels` samples each, packed at the start of
// `bytes`, to RGBA in place. Walking from the last pixel back never overwrites a
// sample not yet read, because a pixel's RGBA bytes start at or after its packed
// samples.
void expandToRgba(unsigned char* bytes, std::uint64_t count, int channels)
{
    if (channels == 4)
        return;  // already RGBA: a pass over every pixel would only copy each onto itself
    for (std::uint64_t i = count; i-- > 0;) {
        const unsigned char* packed = bytes + i * channels;
        unsigned char rgba[4];
        switch (channels) {
        case 1:
            rgba[0] = rgba[1] = rgba[2] = packed[0];
            rgba[3] = 255;
            break;
        case 2:
            rgba[0] = rgba[1] = rgba[2] = packed[0];
            rgba[3] = packed[1];
            break;
        case 3:
            rgba[0] = packed[0];
            rgba[1] = packed[1];
            rgba[2] = packed[2];
            rgba[3] = 255;
            break;
        default:
            std::copy(packed, packed + 4, rgba);
            break;
        }
        std::copy(rgba, rgba + 4, bytes + i * 4);
    }
}

// Reads rows [top, bottom) of a scanline file as stored and converts them to
// 8 bits here: OpenImageIO's own conversion buffers 256 rows in the stored format
// whatever was asked, 6 GiB for one row of a BMP 8 million pixels wide.
bool readScanlineBand(OIIO::ImageInput& input, int top, int bottom, int channels, unsigned char* band)
{
    const OIIO::ImageSpec& header = input.spec();
    if (!header.channelformats.empty())
        return input.read_scanlines(
            0, 0, header.y + top, header.y + bottom, header.z, 0, channels, OIIO::TypeDesc::UINT8, band);
    const std::size_t storedPixelBytes = std::size_t(channels) * header.format.size();
    std::vector<unsigned char> stored(
        std::size_t(bottom - top) * std::size_t(header.width) * storedPixelBytes);
    return input.read_native_scanlines(
               0, 0, header.y + top, header.y + bottom, header.z, 0, channels, stored.data())
        && OIIO::convert_image(channels, header.width, bottom - top, 1, stored.data(), header.format,
            OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride, band, OIIO::TypeDesc::UINT8,
            OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride);
}

// Decodes the first slice, `channels` 8-bit samples a pixel, into `bytes`, in
// bands of rows, so that the samples held in their stored format (up to 16 bytes
// a pixel) take one band's memory, not the image's.
bool readFirstSlice(OIIO::ImageInput& input, int channels, unsigned char* bytes)
{
    constexpr std::uint64_t kBandBytes = std::uint64_t(1) << 24;
    const OIIO::ImageSpec header = input.spec();
    const bool tiled = header.tile_width > 0 && header.tile_height > 0;
    const std::uint64_t rowBytes = std::uint64_t(header.width) * header.pixel_bytes(true);
    const std::uint64_t unitRows = tiled ? std::uint64_t(header.tile_height) : 1;
    const std::uint64_t units
        = std::max<std::uint64_t>(1, kBandBytes / std::max<std::uint64_t>(1, rowBytes * unitRows));
    const int bandRows
        = static_cast<int>(std::min<std::uint64_t>(units * unitRows, std::uint64_t(header.height)));
    const std::size_t packedRowBytes = std::size_t(header.width) * std::size_t(channels);
    for (int top = 0; top < header.height; top += bandRows) {
        const int bottom = std::min(header.height, top + bandRows);
        unsigned char* band = bytes + std::size_t(top) * packedRowBytes;
        const bool read = tiled
            ? input.read_tiles(0, 0, header.x, header.x + header.width, header.y + top, header.y + bottom,
                header.z, header.z + 1, 0, channels, OIIO::TypeDesc::UINT8, band)
            : readScanlineBand(input, top, bottom, channels, band);
        if (!read)
            return false;
    }
    return true;
}

MStatus readWithOpenImageIO(const ImageSource& source, RgbaImage& image)
{
    const char* path = source.path().c_str();
    std::ifstream file(path, std::ios::binary);
    if (!imageLooksSound(file))
        return MS::kFailure;

    // Errors left by other readers on this thread would count against this one.
    takeGlobalErrors();
    OIIO::ImageSpec config;
    // Keep stored alpha as it is instead of premultiplying colour by it.
    config.attribute("oiio:UnassociatedAlpha", 1);
    std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::open(path, &config);
    if (!input) {
        takeGlobalErrors();
        return MS::kFailure;
    }

    const OIIO::ImageSpec& header = input->spec();
    if (header.width < 1 || header.height < 1 || header.depth < 1 || header.nchannels < 1) {
        takeErrors(*input);
        return MS::kFailure;
    }
    const std::uint64_t sliceCount = std::uint64_t(header.width) * std::uint64_t(header.height);
    MStatus sizeStatus = checkImageSize(std::uint64_t(header.width), std::uint64_t(header.height));
    if (sizeStatus && sliceCount * std::uint64_t(header.depth) > kMaxImagePixels)
        sizeStatus = MS::kInvalidParameter;
    if (!sizeStatus) {
        takeErrors(*input);
        return sizeStatus;
    }

    const int channels = std::min(header.nchannels, 4);
    PixelBytes bytes = allocateBytes(sliceCount * 4);
    if (!bytes) {
        takeErrors(*input);
        return MS::kInsufficientMemory;
    }
    const bool read = readFirstSlice(*input, channels, bytes.get());
    // Some decoders only warn about a truncated file and still return true.
    const bool failed = takeErrors(*input);
    input->close();
    takeErrors(*input);
    if (!read || failed)
        return MS::kFailure;

    expandToRgba(bytes.get(), sliceCount, channels);
    image = RgbaImage { unsigned(header.width), unsigned(header.height), std::move(bytes) };
    return MS::kSuccess;
}

}  // namespace

MStatus readImageFile(const char* path, RgbaImage& image)
{
    image = RgbaImage {};
    ImageSource source;
    const MStatus opened = source.open(path);
    if (!opened)
        return opened;
    unsigned char head[kFormatHeadBytes];
    const std::size_t headBytes = source.readAt(0, head, sizeof head);
    switch (identifyFormat(head, headBytes, source.path())) {
    default:
        return readWithOpenImageIO(source, image);
    }
}

}  // namespace host
