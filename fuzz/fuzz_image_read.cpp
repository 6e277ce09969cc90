// Mutated image files through MImage::readFromFile, then getSize, resize and
// pixels on whatever loads. The first byte picks the file's extension, the rest
// is the file. Whatever loads must report a size within the host's limit and
// hand out every one of its pixel bytes.
#include "FuzzSupport.h"

#include <maya/MImage.h>
#include <maya/MString.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// "img" names no format, so the host chooses by content alone.
const char* const kExtensions[]
    = { "png", "jpg", "tif", "iff", "tga", "bmp", "gif", "exr", "hdr", "img", "ico", "webp" };

constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 30;

// Reads every byte, so that the sanitizers see a buffer shorter than its size.
unsigned int checksum(const unsigned char* bytes, std::uint64_t count)
{
    unsigned int sum = 0;
    for (std::uint64_t i = 0; i < count; ++i)
        sum += bytes[i];
    return sum;
}

void checkLoaded(const MImage& image)
{
    unsigned int width = 0;
    unsigned int height = 0;
    if (!image.getSize(width, height) || width == 0 || height == 0
        || std::uint64_t { width } * height > kMaxPixels || image.pixels() == nullptr)
        __builtin_trap();
    volatile unsigned int sink = checksum(image.pixels(), std::uint64_t { width } * height * 4);
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::enterScratchFolder("pictile-fuzz-image");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::string path = std::string("input.") + kExtensions[data[0] % std::size(kExtensions)];
    fuzzsupport::writeBytes(path, data + 1, size - 1);

    MImage image;
    const MStatus read = image.readFromFile(MString(path));
    if (!read) {
        unsigned int width = 1;
        unsigned int height = 1;
        if (image.getSize(width, height) || width != 0 || height != 0 || image.pixels() != nullptr)
            __builtin_trap();
        return 0;
    }
    checkLoaded(image);
    unsigned int width = 0;
    unsigned int height = 0;
    image.getSize(width, height);
    // Shrinking keeps each run cheap and still walks the resampler over every
    // source pixel; the odd target sides test the filter's edge handling.
    const int targetWidth = static_cast<int>(std::max(1u, std::min(width / 2 + 1, 257u)));
    const int targetHeight = static_cast<int>(std::max(1u, std::min(height / 3 + 1, 255u)));
    const MStatus resized = image.resize(targetWidth, targetHeight, (data[0] & 0x80) != 0);
    if (resized != MS::kSuccess && resized != MS::kInvalidParameter)
        __builtin_trap();
    checkLoaded(image);
    return 0;
}
