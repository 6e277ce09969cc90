#include "RgbaImage.h"

#include <cstdlib>

#include <sys/mman.h>

namespace host {

PixelBytes allocateBytes(std::size_t count)
{
    // Large images ask for 2 MiB pages: filling 64 MiB of 4 KiB pages takes the
    // decoder through 16,384 page faults, a good part of reading the image.
    constexpr std::size_t kLargePage = std::size_t { 1 } << 21;
    if (count >= 8 * kLargePage) {
        const std::size_t rounded = (count + kLargePage - 1) / kLargePage * kLargePage;
        void* bytes = nullptr;
        if (posix_memalign(&bytes, kLargePage, rounded) != 0)
            return nullptr;
        madvise(bytes, rounded, MADV_HUGEPAGE);
        return PixelBytes(static_cast<unsigned char*>(bytes));
    }
    return PixelBytes(static_cast<unsigned char*>(std::malloc(count == 0 ? 1 : count)));
}

}  // namespace host
