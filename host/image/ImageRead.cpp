#include "ImageRead.h"

#include "BmpReader.h"
#include "FormatReaders.h"
#include "IffCodec.h"
#include "ImageFormat.h"
#include "ImageSource.h"
#include "OiioModule.h"

#include <algorithm>
#include <cstdint>

namespace host {

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
    // The common formats by their own libraries, BMP and IFF by the host's own
    // readers, so that a process reading only those never opens the OpenImageIO
    // module.
    switch (format) {
    case ImageFormat::Png:
        return readPng(source, image);
    case ImageFormat::Jpeg:
        return readJpeg(source, image);
    case ImageFormat::Tiff: {
        const MStatus read = readTiff(source, image);
        // Rare layouts (LogLuv, ICC and ITU L*a*b*, ...) stay with OpenImageIO.
        return read.statusCode() == MS::kNotImplemented ? readWithOpenImageIO(source, format, image) : read;
    }
    case ImageFormat::Bmp:
        return readBmpFile(source, image);
    case ImageFormat::Iff:
        return readIff(source, image);
    default:
        return readWithOpenImageIO(source, format, image);
    }
}

}  // namespace host
