// pictile_oiio.so: every read and write the host leaves to OpenImageIO. Only this
// module links OpenImageIO, so that a process pays for loading it only when it
// first needs one of these formats.
#include "../ImageFormat.h"
#include "OiioErrors.h"
#include "OiioModuleApi.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

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

// The readers of formats the host tells apart by their signature: a file the
// host could not place is none of these, whatever its name (the IFF reader, for
// one, would look for its form behind other bytes). The others left out are no
// still images, or read nothing but what their name describes.
bool mayClaimUnplacedFile(const std::string& format)
{
    static const char* const excluded[] = { "png", "jpeg", "tiff", "iff", "bmp", "gif", "openexr", "hdr",
        "jpeg2000", "psd", "pnm", "ffmpeg", "openvdb", "dicom", "raw", "null" };
    return std::find(std::begin(excluded), std::end(excluded), format) == std::end(excluded);
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
// shows; else the first whose own test of the file's header (valid_file) claims
// the bytes, asking the format the extension names first. The reader that then
// decodes is that one alone.
std::string chooseReader(
    const unsigned char* bytes, std::size_t size, std::string_view path, SealedCopy& copy)
{
    using namespace std::string_view_literals;
    if (startsWith(bytes, size, "\0\0\0\x0CjP  "sv) || startsWith(bytes, size, "\xFF\x4F\xFF\x51"sv))
        return "jpeg2000";
    if (startsWith(bytes, size, "8BPS"sv))
        return "psd";
    if (size >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7')
        return "pnm";
    if (!copy.valid())
        return {};
    std::vector<std::string> candidates;
    const std::string named = formatOfExtension(lowerExtension(path));
    if (!named.empty() && mayClaimUnplacedFile(named))
        candidates.push_back(named);
    for (const std::string& format :
        OIIO::Strutil::splits(OIIO::get_string_attribute("input_format_list"), ",")) {
        if (format != named && mayClaimUnplacedFile(format))
            candidates.push_back(format);
    }
    for (const std::string& format : candidates) {
        std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::create(format);
        const bool claimed = input && input->valid_file(copy.path());
        host::takeGlobalErrors();
        if (claimed)
            return format;
    }
    return {};
}

int decode(OIIO::ImageInput& input, PictileOiioPixels& pixels)
{
    const OIIO::ImageSpec& header = input.spec();
    if (header.width < 1 || header.height < 1 || header.depth < 1 || header.nchannels < 1) {
        host::takeErrors(input);
        return kPictileOiioFailure;
    }
    int status = kPictileOiioFailure;
    unsigned char* bytes = pixels.allocate(pixels.context, static_cast<unsigned long long>(header.width),
        static_cast<unsigned long long>(header.height), static_cast<unsigned long long>(header.depth),
        &status);
    if (!bytes) {
        host::takeErrors(input);
        return status;
    }
    const int channels = std::min(header.nchannels, 4);
    const bool read = readFirstSlice(input, channels, bytes);
    // Some decoders only warn about a truncated file and still return true.
    const bool failed = host::takeErrors(input);
    input.close();
    host::takeErrors(input);
    if (!read || failed)
        return kPictileOiioFailure;
    expandToRgba(bytes, std::uint64_t(header.width) * std::uint64_t(header.height), channels);
    return kPictileOiioSuccess;
}

int readImage(const unsigned char* bytes, std::size_t size, const char* reader, const char* path,
    PictileOiioPixels& pixels)
{
    // Errors left by other readers on this thread would count against this one.
    host::takeGlobalErrors();
    std::unique_ptr<SealedCopy> copy;
    std::string name;
    if (reader) {
        name = reader;
    } else {
        copy = std::make_unique<SealedCopy>(bytes, size);
        name = chooseReader(bytes, size, path ? path : "", *copy);
    }
    if (name.empty())
        return kPictileOiioFailure;
    // Created by format name, never by file name, so that no other reader is tried.
    std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::create(name);
    if (!input) {
        host::takeGlobalErrors();
        return kPictileOiioFailure;
    }
    OIIO::ImageSpec config;
    // Keep stored alpha as it is instead of premultiplying colour by it.
    config.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageSpec header;
    OIIO::Filesystem::IOMemReader memory(bytes, size);
    bool opened = false;
    if (input->supports("ioproxy")) {
        // The name is only for messages: the reader reads the bytes, never a file.
        opened = input->set_ioproxy(&memory) && input->open("image bytes", header, config);
    } else {
        if (!copy)
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
    return &kModule;
}
