#include "RgbaImage.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include <sys/mman.h>

namespace host {

namespace {

thread_local BudgetRefusal lastRefusal;

}  // namespace

std::uint64_t pixelBudget()
{
    // Read on every check, so that a run (or a test) may change it at any time.
    const char* text = std::getenv(kPixelBudgetVariable);
    if (text == nullptr || *text < '0' || *text > '9')
        return kDefaultPixelBudget;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > kMaxImagePixels)
        return kDefaultPixelBudget;
    return value;
}

MStatus checkImageSize(std::uint64_t width, std::uint64_t height)
{
    if (width == 0 || height == 0)
        return MS::kFailure;
    // With the width within 2^24 and the height within 2^30 the product cannot wrap.
    if (width > kMaxRowPixels || height > kMaxImagePixels || width * height > kMaxImagePixels)
        return MS::kInvalidParameter;
    const std::uint64_t budget = pixelBudget();
    if (width * height > budget) {
        noteBudgetRefusal({ width, height, budget });
        return MS::kInvalidParameter;
    }
    return MS::kSuccess;
}

BudgetRefusal takeBudgetRefusal()
{
    return std::exchange(lastRefusal, BudgetRefusal {});
}

void noteBudgetRefusal(const BudgetRefusal& refusal)
{
    lastRefusal = refusal;
}

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
