#include "ImageRead.h"

#include "BmpReader.h"
#include "HostModule.h"
#include "IffCodec.h"
#include "ImageFormat.h"
#include "ImageSource.h"
#include "OiioModule.h"
#include "codecs/CodecsModuleApi.h"

#include <algorithm>
#include <cstdint>

namespace host {

namespace {

// Opens pictile_codecs.so from beside this library once, on the first read of
// a PNG, JPEG or TIFF file; null when it is missing or fails to load. It stays
// loaded for the life of the process.
const CommonFormatReaders* commonFormatReaders()
{
    static const CommonFormatReaders* const readers = []() -> const CommonFormatReaders* {
        static const CodecHostServices services { &checkImageSize, &ReadTime::passed, &allocateBytes };
        const auto entry = reinterpret_cast<PictileCodecsReaders>(
            openHostModuleEntry("pictile_codecs.so", PICTILE_CODECS_ENTRY));
        return entry != nullptr ? entry(&services) : nullptr;
    }();
    return readers;
}

MStatus readCommonFormat(ImageFormat format, const ImageSource& source, RgbaImage& image)
{
    const CommonFormatReaders* readers = commonFormatReaders();
    if (readers == nullptr)
        return MS::kFailure;
    if (format == ImageFormat::Png)
        return readers->readPng(source, image);
    if (format == ImageFormat::Jpeg)
        return readers->readJpeg(source, image);
    const MStatus read = readers->readTiff(source, image);
    // Rare layouts (LogLuv, ICC and ITU L*a*b*, ...) stay with OpenImageIO.
    return read.statusCode() == MS::kNotImplemented ? readWithOpenImageIO(source, format, image) : read;
}

}  // namespace

MStatus readImageFile(const char* path, RgbaImage& image)
{
    image = RgbaImage {};
    const ReadTime time;
    ImageSource source;
    const MStatus opened = source.open(path);
    if (!opened)
        return opened;
    unsigned char head[kFormatHeadBytes];
    const std::size_t headBytes = source.readAt(0, head, sizeof head);
    // Cut since it was opened: no reader would see what the size promised.
    if (headBytes < std::min<std::uint64_t>(sizeof head, source.size()))
        return MS::kFailure;
    const ImageFormat format = identifyFormat(head, headBytes, source.path());
    // The common formats by their own libraries (in a module of their own), BMP
    // and IFF by the host's own readers, so that a process reading only those
    // never opens the OpenImageIO module.
    switch (format) {
    case ImageFormat::Png:
    case ImageFormat::Jpeg:
    case ImageFormat::Tiff:
        return readCommonFormat(format, source, image);
    case ImageFormat::Bmp:
        return readBmpFile(source, image);
    case ImageFormat::Iff:
        return readIff(source, image);
    default:
        return readWithOpenImageIO(source, format, image);
    }
}

}  // namespace host
