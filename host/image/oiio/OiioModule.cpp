// pictile_oiio.so: every read and write the host leaves to OpenImageIO. Only this
// module links OpenImageIO, so that a process pays for loading it only when it
// first needs one of these formats.
#include "../ImageFormat.h"
#include "OiioErrors.h"
#include "OiioModuleApi.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

using host::lowerExtension;
using host::startsWith;

namespace {

// The largest image a file may describe, as the host allows: a data window
// outside the display window is bounded too.
constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 30;
constexpr std::uint64_t kMaxRowPixels = std::uint64_t(1) << 24;

// One pixel of `channels` 8-bit samples as RGBA.
void toRgba(const unsigned char* packed, int channels, unsigned char* rgba)
{
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
}

// Spreads `count` pixels of `channels` samples each, packed at the start of
// `bytes`, to RGBA in place. Walking from the last pixel back never overwrites a
// sample not yet read, because a pixel's RGBA bytes start at or after its packed
// samples.
void expandToRgba(unsigned char* bytes, std::uint64_t count, int channels)
{
    if (channels == 4)
        return;  // already RGBA: a pass over every pixel would only copy each onto itself
    for (std::uint64_t i = count; i-- > 0;) {
        unsigned char rgba[4];
        toRgba(bytes + i * channels, channels, rgba);
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

// Decodes the first slice of the data window, `channels` 8-bit samples a pixel,
// in bands of rows, so that the samples held in their stored format (up to 16
// bytes a pixel) take one band's memory, not the image's. `bandAt(top, bottom)`
// gives where rows [top, bottom) of the data window go, packed; `bandDone` is
// called once they are there.
template <typename BandAt, typename BandDone>
bool readFirstSlice(OIIO::ImageInput& input, int channels, BandAt bandAt, BandDone bandDone)
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
    for (int top = 0; top < header.height; top += bandRows) {
        const int bottom = std::min(header.height, top + bandRows);
        unsigned char* band = bandAt(top, bottom);
        const bool read = tiled
            ? input.read_tiles(0, 0, header.x, header.x + header.width, header.y + top, header.y + bottom,
                header.z, header.z + 1, 0, channels, OIIO::TypeDesc::UINT8, band)
            : readScanlineBand(input, top, bottom, channels, band);
        if (!read)
            return false;
        bandDone(top, bottom);
    }
    return true;
}

// Whether the file shows a display window other than its data window (OpenEXR):
// the image is then the display window, and its pixels outside the data stay 0.
bool hasOwnDisplayWindow(const OIIO::ImageSpec& header)
{
    return header.full_width > 0 && header.full_height > 0
        && (header.full_x != header.x || header.full_y != header.y || header.full_width != header.width
            || header.full_height != header.height);
}

// Decodes the data window band by band and places what of it falls inside the
// display window; `bytes` is the display window in RGBA, zeroed.
bool readIntoDisplayWindow(OIIO::ImageInput& input, int channels, unsigned char* bytes)
{
    const OIIO::ImageSpec header = input.spec();
    const std::int64_t left = std::max<std::int64_t>(header.x, header.full_x);
    const std::int64_t right = std::min<std::int64_t>(
        std::int64_t(header.x) + header.width, std::int64_t(header.full_x) + header.full_width);
    const std::size_t packedRowBytes = std::size_t(header.width) * std::size_t(channels);
    const std::size_t displayRowBytes = std::size_t(header.full_width) * 4;
    std::vector<unsigned char> band;
    const auto bandAt = [&](int top, int bottom) {
        band.resize(std::size_t(bottom - top) * packedRowBytes);
        return band.data();
    };
    const auto bandDone = [&](int top, int bottom) {
        for (int row = top; row < bottom; ++row) {
            const std::int64_t y = std::int64_t(header.y) + row - header.full_y;
            if (y < 0 || y >= header.full_height)
                continue;
            for (std::int64_t x = left; x < right; ++x)
                toRgba(band.data() + std::size_t(row - top) * packedRowBytes
                        + std::size_t(x - header.x) * std::size_t(channels),
                    channels, bytes + std::size_t(y) * displayRowBytes + std::size_t(x - header.full_x) * 4);
        }
    };
    return readFirstSlice(input, channels, bandAt, bandDone);
}

// The format whose reader lists `extension`; empty when none does.
std::string formatOfExtension(const std::string& extension)
{
    if (extension.empty())
        return {};
    for (const auto& [format, extensions] : OIIO::get_extension_map()) {
        if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end())
            return format;
    }
    return {};
}

// The one reader for a file the host could not place: the format its signature
// shows, else the one its extension names. No reader is asked whether it claims
// the bytes: each such test is a decoder of its own run on any file (the ICO
// reader's divided by zero on a crafted one).
std::string chooseReader(const unsigned char* bytes, std::size_t size, std::string_view path)
{
    using namespace std::string_view_literals;
    if (startsWith(bytes, size, "\0\0\0\x0CjP  "sv) || startsWith(bytes, size, "\xFF\x4F\xFF\x51"sv))
        return "jpeg2000";
    if (startsWith(bytes, size, "8BPS"sv))
        return "psd";
    if (size >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7')
        return "pnm";
    if (size >= 12 && startsWith(bytes, size, "RIFF"sv) && std::memcmp(bytes + 8, "WEBP", 4) == 0)
        return "webp";
    const std::string named = formatOfExtension(lowerExtension(path));
    return host::readerMayClaimUnplacedFile(named) ? named : std::string();
}

unsigned readLittle(const unsigned char* bytes, int count)
{
    unsigned value = 0;
    for (int i = count; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

// Whether every index of a colour-mapped Targa lies inside its colour map.
// OpenImageIO's reader takes the colours of indices past the map from memory
// past it (8-bit indices) or crashes (16-bit ones), and reads a map that does
// not start at entry 0 as if it did. True for Targa files without a colour map.
bool targaIndicesInMap(const unsigned char* bytes, std::size_t size)
{
    if (size < 18 || (bytes[2] != 1 && bytes[2] != 9))
        return true;
    const unsigned first = readLittle(bytes + 3, 2);
    const unsigned length = readLittle(bytes + 5, 2);
    const unsigned entryBytes = (bytes[7] + 7u) / 8u;
    const std::uint64_t pixels = std::uint64_t(readLittle(bytes + 12, 2)) * readLittle(bytes + 14, 2);
    const unsigned indexBytes = bytes[16] / 8u;
    if (bytes[1] != 1 || first != 0 || length == 0 || (bytes[16] != 8 && bytes[16] != 16))
        return false;
    std::size_t at = 18 + std::size_t(bytes[0]) + std::size_t(length) * entryBytes;
    const auto indexAt = [&](std::size_t offset) { return readLittle(bytes + offset, int(indexBytes)); };
    if (bytes[2] == 1) {
        if (at > size || (size - at) / indexBytes < pixels)
            return false;
        for (std::uint64_t i = 0; i < pixels; ++i, at += indexBytes) {
            if (indexAt(at) >= length)
                return false;
        }
        return true;
    }
    // Run-length packets: a count byte, then one index repeated or `count` indices.
    for (std::uint64_t done = 0; done < pixels;) {
        if (at >= size)
            return false;
        const unsigned packet = bytes[at++];
        const unsigned count = (packet & 0x7f) + 1;
        const unsigned stored = packet & 0x80 ? 1 : count;
        if ((size - at) / indexBytes < stored)
            return false;
        for (unsigned i = 0; i < stored; ++i, at += indexBytes) {
            if (indexAt(at) >= length)
                return false;
        }
        done += count;
    }
    return true;
}

// Whether the first icon of an icon file is one OpenImageIO's reader decodes
// right: a PNG, or a bitmap with the plain 40-byte header. It takes the colours
// of a bitmap with a later header (V4, V5) from the wrong place.
bool iconReadable(const unsigned char* bytes, std::size_t size)
{
    if (size < 6 + 16 || readLittle(bytes + 4, 2) == 0)
        return false;
    const std::size_t offset = readLittle(bytes + 6 + 12, 4);
    if (offset >= size || size - offset < 8)
        return false;
    using namespace std::string_view_literals;
    return startsWith(bytes + offset, size - offset, "\x89PNG"sv) || readLittle(bytes + offset, 4) == 40;
}

// Whether the named reader is known to misread these bytes.
bool knownMisread(const std::string& reader, const unsigned char* bytes, std::size_t size)
{
    if (reader == "targa")
        return !targaIndicesInMap(bytes, size);
    if (reader == "ico")
        return !iconReadable(bytes, size);
    return false;
}

// WebP through libwebp directly: OpenImageIO's reader hands back colour
// multiplied by alpha whatever it is asked, and stored colour is kept for every
// other format. Animations give their first frame.
int decodeWebp(const unsigned char* bytes, std::size_t size, PictileOiioPixels& pixels)
{
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(bytes, size, &features) != VP8_STATUS_OK || features.width < 1 || features.height < 1)
        return kPictileOiioFailure;
    int status = kPictileOiioFailure;
    unsigned char* target = pixels.allocate(pixels.context, static_cast<unsigned long long>(features.width),
        static_cast<unsigned long long>(features.height), 1, &status);
    if (!target)
        return status;
    const std::size_t rowBytes = std::size_t(features.width) * 4;
    const std::size_t imageBytes = rowBytes * std::size_t(features.height);
    if (!features.has_animation)
        return WebPDecodeRGBAInto(bytes, size, target, imageBytes, static_cast<int>(rowBytes))
            ? kPictileOiioSuccess
            : kPictileOiioFailure;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return kPictileOiioFailure;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data { bytes, size };
    const std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(
        WebPAnimDecoderNew(&data, &options), WebPAnimDecoderDelete);
    WebPAnimInfo info;
    std::uint8_t* frame = nullptr;
    int timestamp = 0;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info)
        || info.canvas_width != static_cast<std::uint32_t>(features.width)
        || info.canvas_height != static_cast<std::uint32_t>(features.height)
        || !WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp))
        return kPictileOiioFailure;
    std::memcpy(target, frame, imageBytes);
    return kPictileOiioSuccess;
}

int decode(OIIO::ImageInput& input, PictileOiioPixels& pixels)
{
    const OIIO::ImageSpec& header = input.spec();
    if (header.width < 1 || header.height < 1 || header.depth < 1 || header.nchannels < 1) {
        host::takeErrors(input);
        return kPictileOiioFailure;
    }
    // The data window is decoded whatever part of it is shown.
    if (std::uint64_t(header.width) > kMaxRowPixels
        || std::uint64_t(header.width) * std::uint64_t(header.height) > kMaxPixels) {
        host::takeErrors(input);
        return kPictileOiioInvalidParameter;
    }
    const bool windowed = hasOwnDisplayWindow(header);
    const int width = windowed ? header.full_width : header.width;
    const int height = windowed ? header.full_height : header.height;
    int status = kPictileOiioFailure;
    unsigned char* bytes = pixels.allocate(pixels.context, static_cast<unsigned long long>(width),
        static_cast<unsigned long long>(height), static_cast<unsigned long long>(header.depth), &status);
    if (!bytes) {
        host::takeErrors(input);
        return status;
    }
    const int channels = std::min(header.nchannels, 4);
    const std::size_t packedRowBytes = std::size_t(header.width) * std::size_t(channels);
    const bool read = windowed
        ? readIntoDisplayWindow(input, channels, bytes)
        : readFirstSlice(
            input, channels, [&](int top, int) { return bytes + std::size_t(top) * packedRowBytes; },
            [](int, int) {});
    // Some decoders only warn about a truncated file and still return true.
    const bool failed = host::takeErrors(input);
    input.close();
    host::takeErrors(input);
    if (!read || failed)
        return kPictileOiioFailure;
    if (!windowed)
        expandToRgba(bytes, std::uint64_t(header.width) * std::uint64_t(header.height), channels);
    return kPictileOiioSuccess;
}

// The bytes as a sealed in-memory file, for readers that only read from a name.
class SealedCopy {
public:
    SealedCopy(const unsigned char* bytes, std::size_t size)
    {
        descriptor_ = memfd_create("pictile-image", MFD_CLOEXEC | MFD_ALLOW_SEALING);
        if (descriptor_ < 0)
            return;
        std::size_t done = 0;
        while (done < size) {
            const ssize_t wrote = ::write(descriptor_, bytes + done, size - done);
            if (wrote <= 0) {
                ::close(descriptor_);
                descriptor_ = -1;
                return;
            }
            done += static_cast<std::size_t>(wrote);
        }
        fcntl(descriptor_, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL);
    }
    SealedCopy(const SealedCopy&) = delete;
    SealedCopy& operator=(const SealedCopy&) = delete;
    ~SealedCopy()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }

    bool valid() const { return descriptor_ >= 0; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(descriptor_); }

private:
    int descriptor_ = -1;
};

int readImage(const unsigned char* bytes, std::size_t size, const char* reader, const char* path,
    PictileOiioPixels& pixels)
{
    // Errors left by other readers on this thread would count against this one.
    host::takeGlobalErrors();
    const std::string name = reader ? std::string(reader) : chooseReader(bytes, size, path ? path : "");
    // Nothing of any reader has run: the process stays fit for the next file.
    if (name.empty() || knownMisread(name, bytes, size))
        return kPictileOiioNoReader;
    if (name == "webp")
        return decodeWebp(bytes, size, pixels);
    // Created by format name, never by file name, so that no other reader is tried.
    std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::create(name);
    if (!input) {
        host::takeGlobalErrors();
        return kPictileOiioNoReader;
    }
    OIIO::ImageSpec config;
    // Keep stored alpha as it is instead of premultiplying colour by it.
    config.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageSpec header;
    OIIO::Filesystem::IOMemReader memory(bytes, size);
    std::unique_ptr<SealedCopy> copy;
    bool opened = false;
    if (input->supports("ioproxy")) {
        // The name is only for messages: the reader reads the bytes, never a file.
        opened = input->set_ioproxy(&memory) && input->open("image bytes", header, config);
    } else {
        copy = std::make_unique<SealedCopy>(bytes, size);
        opened = copy->valid() && input->open(copy->path(), header, config);
    }
    if (!opened) {
        host::takeErrors(*input);
        return kPictileOiioFailure;
    }
    return decode(*input, pixels);
}

int encodeImage(
    const unsigned char* rgba, unsigned width, unsigned height, const char* format, int descriptor)
{
    std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create(format);
    if (!output) {
        host::takeGlobalErrors();
        return kPictileOiioNotImplemented;
    }
    const int channels = output->supports("alpha") ? 4 : 3;
    OIIO::ImageSpec layout(int(width), int(height), channels, OIIO::TypeDesc::UINT8);
    // The pixels hold unassociated alpha; without this the writers would divide
    // colour by alpha on the way out.
    layout.attribute("oiio:UnassociatedAlpha", 1);

    // The writer gets the caller's file: through a stream on a copy of its
    // descriptor where it takes one, else through the descriptor's own name.
    const std::string descriptorPath = "/proc/self/fd/" + std::to_string(descriptor);
    std::FILE* stream = nullptr;
    std::unique_ptr<OIIO::Filesystem::IOFile> proxy;
    if (output->supports("ioproxy")) {
        const int copy = ::dup(descriptor);
        stream = copy >= 0 ? ::fdopen(copy, "wb") : nullptr;
        if (!stream) {
            if (copy >= 0)
                ::close(copy);
            return kPictileOiioFailure;
        }
        proxy = std::make_unique<OIIO::Filesystem::IOFile>(stream, OIIO::Filesystem::IOProxy::Write);
        output->set_ioproxy(proxy.get());
    }
    bool written = output->open(descriptorPath, layout);
    if (written) {
        const OIIO::stride_t pixelStride = 4;
        const OIIO::stride_t rowStride = OIIO::stride_t(width) * 4;
        written = output->write_image(OIIO::TypeDesc::UINT8, rgba, pixelStride, rowStride);
        written = output->close() && written;
    }
    // Only the results count: the TIFF writer leaves a complaint about its empty
    // Exif directory behind even when the file is whole.
    host::takeErrors(*output);
    output.reset();
    proxy.reset();
    if (stream && std::fclose(stream) != 0)
        written = false;
    return written ? kPictileOiioSuccess : kPictileOiioFailure;
}

// Nothing thrown may cross into the host, which knows only statuses.
template <typename Call> int guarded(Call call)
{
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return kPictileOiioInsufficientMemory;
    } catch (...) {
        return kPictileOiioFailure;
    }
}

int read(
    const unsigned char* bytes, size_t size, const char* reader, const char* path, PictileOiioPixels* pixels)
{
    return guarded([&] { return readImage(bytes, size, reader, path, *pixels); });
}

int encode(const unsigned char* rgba, unsigned width, unsigned height, const char* format, int descriptor)
{
    return guarded([&] { return encodeImage(rgba, width, height, format, descriptor); });
}

const PictileOiioModule kModule = { PICTILE_OIIO_MODULE_VERSION, read, encode };

}  // namespace

extern "C" __attribute__((visibility("default"))) const PictileOiioModule* pictile_oiio_module()
{
    // Every read runs in a child forked from the host, which gets only the
    // forking thread: OpenImageIO and OpenEXR must never have started pools of
    // their own by then, so each call does its work on the calling thread.
    OIIO::attribute("threads", 1);
    OIIO::attribute("exr_threads", -1);
    // The list of readers is built once, here, rather than in every child.
    OIIO::get_string_attribute("input_format_list");
    return &kModule;
}
