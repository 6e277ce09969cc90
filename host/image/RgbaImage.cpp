#include "RgbaImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include <sys/mman.h>
#include <time.h>

namespace host {

namespace {

thread_local BudgetRefusal lastRefusal;
thread_local ReadTime* readTimeInForce = nullptr;

// The budget the run set, or 0 when it set none (or none valid).
std::uint64_t budgetOfRun()
{
    // Read on every check, so that a run (or a test) may change it at any time.
    const char* text = std::getenv(kPixelBudgetVariable);
    if (text == nullptr || *text < '0' || *text > '9')
        return 0;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > kMaxImagePixels)
        return 0;
    return value;
}

std::chrono::nanoseconds threadCpuTime()
{
    timespec now {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

std::uint64_t pixelBudget()
{
    const std::uint64_t set = budgetOfRun();
    return set != 0 ? set : kDefaultPixelBudget;
}

MStatus checkImageSize(
    std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes, std::uint64_t pixelsPerByte)
{
    if (width == 0 || height == 0)
        return MS::kFailure;
    // With the width within 2^24 and the height within 2^30 the product cannot wrap.
    if (width > kMaxRowPixels || height > kMaxImagePixels || width * height > kMaxImagePixels)
        return MS::kInvalidParameter;
    const std::uint64_t pixels = width * height;
    const std::uint64_t budget = pixelBudget();
    if (pixels > budget) {
        noteBudgetRefusal({ width, height, budget, 0 });
        return MS::kInvalidParameter;
    }
    // A budget the run set is the user's word on what a file may cost; the
    // default one also holds a file to what its bytes can make.
    const std::uint64_t share = std::max(kSmallFilePixels,
        fileBytes > kMaxImagePixels / pixelsPerByte ? kMaxImagePixels : fileBytes * pixelsPerByte);
    if (budgetOfRun() == 0 && pixels > share) {
        noteBudgetRefusal({ width, height, share, fileBytes });
        return MS::kInvalidParameter;
    }
    if (readTimeInForce != nullptr)
        readTimeInForce->allowed_ = readTimeFor(pixels);
    return MS::kSuccess;
}

ReadTime::ReadTime()
    : start_(threadCpuTime())
    , allowed_(readTimeFor(0))
    , outer_(std::exchange(readTimeInForce, this))
{
}

ReadTime::~ReadTime()
{
    readTimeInForce = outer_;
}

bool ReadTime::passed()
{
    const ReadTime* read = readTimeInForce;
    return read != nullptr && threadCpuTime() - read->start_ > read->allowed_;
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
