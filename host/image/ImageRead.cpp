#include "ImageRead.h"

#include "ImageFormat.h"
#include "ImageSource.h"
#include "OiioModule.h"

namespace host {

MStatus readImageFile(const char* path, RgbaImage& image)
{
    image = RgbaImage {};
    ImageSource source;
    const MStatus opened = source.open(path);
    if (!opened)
        return opened;
    unsigned char head[kFormatHeadBytes];
    const std::size_t headBytes = source.readAt(0, head, sizeof head);
    const ImageFormat format = identifyFormat(head, headBytes, source.path());
    switch (format) {
    default:
        return readWithOpenImageIO(source, format, image);
    }
}

}  // namespace host
