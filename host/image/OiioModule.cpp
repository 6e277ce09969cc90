#include "OiioModule.h"

#include "HostModule.h"
#include "oiio/OiioModuleApi.h"

#include <cstdint>
#include <string>
#include <utility>

namespace host {

namespace {

// Opens pictile_oiio.so from beside this library once, on first need; null when
// it is missing, fails to load or is of another version. The module stays
// loaded for the life of the process.
const PictileOiioModule* oiioModule()
{
    static const PictileOiioModule* const module = []() -> const PictileOiioModule* {
        const auto entry
            = reinterpret_cast<PictileOiioEntry>(openHostModuleEntry("pictile_oiio.so", PICTILE_OIIO_ENTRY));
        const PictileOiioModule* found = entry ? entry() : nullptr;
        // A module of another version stays loaded but unused.
        return found && found->version == PICTILE_OIIO_MODULE_VERSION ? found : nullptr;
    }();
    return module;
}

MStatus toStatus(int status)
{
    switch (status) {
    case kPictileOiioSuccess:
        return MS::kSuccess;
    case kPictileOiioInvalidParameter:
        return MS::kInvalidParameter;
    case kPictileOiioInsufficientMemory:
        return MS::kInsufficientMemory;
    case kPictileOiioNotImplemented:
        return MS::kNotImplemented;
    default:
        return MS::kFailure;
    }
}

// OpenImageIO's name for the reader of each format the host tells apart; null
// where the module chooses.
const char* readerName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png:
        return "png";
    case ImageFormat::Jpeg:
        return "jpeg";
    case ImageFormat::Tiff:
        return "tiff";
    case ImageFormat::Gif:
        return "gif";
    case ImageFormat::Exr:
        return "openexr";
    case ImageFormat::Hdr:
        return "hdr";
    case ImageFormat::Tga:
        return "targa";
    default:
        return nullptr;
    }
}

// The pixels a read asks for: the header's size is checked against the host's
// limits before anything is allocated.
struct PixelSink {
    unsigned int width = 0;
    unsigned int height = 0;
    PixelBytes bytes;

    static unsigned char* allocate(void* context, unsigned long long width, unsigned long long height,
        unsigned long long depth, int* status)
    {
        PixelSink& sink = *static_cast<PixelSink*>(context);
        MStatus size = checkImageSize(width, height);
        if (size && width * height * depth > kMaxImagePixels)
            size = MS::kInvalidParameter;
        if (!size) {
            *status = size == MS::kInvalidParameter ? kPictileOiioInvalidParameter : kPictileOiioFailure;
            return nullptr;
        }
        sink.bytes = allocateBytes(width * height * 4);
        if (!sink.bytes) {
            *status = kPictileOiioInsufficientMemory;
            return nullptr;
        }
        // Within the limits, each side fits.
        sink.width = static_cast<unsigned int>(width);
        sink.height = static_cast<unsigned int>(height);
        return sink.bytes.get();
    }
};

}  // namespace

MStatus readWithOpenImageIO(const ImageSource& source, ImageFormat format, RgbaImage& image)
{
    // One copy of the bytes, so that a file changed meanwhile cannot show the
    // decoder other bytes than the check saw.
    const std::uint64_t size = source.size();
    if (size > SIZE_MAX)
        return MS::kInsufficientMemory;
    PixelBytes bytes = allocateBytes(static_cast<std::size_t>(size) + 1);
    if (!bytes)
        return MS::kInsufficientMemory;
    if (source.readAt(0, bytes.get(), static_cast<std::size_t>(size)) != size)
        return MS::kFailure;

    const PictileOiioModule* module = oiioModule();
    if (!module)
        return MS::kFailure;
    PixelSink sink;
    PictileOiioPixels pixels { &sink, &PixelSink::allocate };
    const MStatus status = toStatus(module->read(
        bytes.get(), static_cast<std::size_t>(size), readerName(format), source.path().c_str(), &pixels));
    if (!status)
        return status;
    if (!sink.bytes)
        return MS::kFailure;
    image = RgbaImage { sink.width, sink.height, std::move(sink.bytes) };
    return MS::kSuccess;
}

MStatus encodeWithOpenImageIO(const RgbaImage& image, const char* format, int descriptor)
{
    if (!image.bytes)
        return MS::kFailure;
    const PictileOiioModule* module = oiioModule();
    if (!module)
        return MS::kFailure;
    return toStatus(module->encode(image.bytes.get(), image.width, image.height, format, descriptor));
}

}  // namespace host
