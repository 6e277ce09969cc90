#include "ImageResize.h"

#include "resample/ResampleModuleApi.h"

#include <algorithm>
#include <string>

#include <dlfcn.h>

namespace host {

namespace {

// The folder of the library or program this code is linked into.
std::string ownFolder()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || !info.dli_fname)
        return {};
    const std::string self = info.dli_fname;
    const std::size_t slash = self.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

// Opens pictile_resample.so from beside this library once, on the first resize;
// null when it is missing or fails to load. It stays loaded for the life of the
// process.
PictileResampleRgba resampler()
{
    static const PictileResampleRgba entry = []() -> PictileResampleRgba {
        const std::string path = ownFolder() + "/pictile_resample.so";
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        const auto found = reinterpret_cast<PictileResampleRgba>(dlsym(handle, PICTILE_RESAMPLE_ENTRY));
        if (!found)
            dlclose(handle);
        return found;
    }();
    return entry;
}

}  // namespace

ImageSize fitInside(ImageSize image, ImageSize box)
{
    // Whichever side of the box is tighter for the image's proportions takes its
    // full length; the other side follows the ratio.
    const bool widthLimits = box.width * image.height <= box.height * image.width;
    const auto dividedRounded = [](std::uint64_t numerator, std::uint64_t denominator) {
        return (numerator + denominator / 2) / denominator;
    };
    if (widthLimits) {
        const std::uint64_t height = dividedRounded(image.height * box.width, image.width);
        return { box.width, std::clamp<std::uint64_t>(height, 1, box.height) };
    }
    const std::uint64_t width = dividedRounded(image.width * box.height, image.height);
    return { std::clamp<std::uint64_t>(width, 1, box.width), box.height };
}

bool resampleRgba(const unsigned char* source, unsigned int sourceWidth, unsigned int sourceHeight,
    unsigned char* target, unsigned int targetWidth, unsigned int targetHeight)
{
    const PictileResampleRgba resample = resampler();
    return resample && resample(source, sourceWidth, sourceHeight, target, targetWidth, targetHeight) != 0;
}

}  // namespace host
