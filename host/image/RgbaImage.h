#pragma once

#include <maya/MStatus.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace host {

/// The most pixels an image may hold, whatever the budget.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 30;

/// The most pixels a file may ask for unless the run allows more: 16384 x 16384,
/// 1 GiB of RGBA.
inline constexpr std::uint64_t kDefaultPixelBudget = std::uint64_t(1) << 28;

/// The environment variable that sets the pixel budget of a run, a whole number
/// of pixels from 1 to kMaxImagePixels (`hostbatch --pixel-budget` sets it too).
inline constexpr const char* kPixelBudgetVariable = "PICTILE_PIXEL_BUDGET";

/// The widest row an image may have: the resampler sizes its buffers with int
/// arithmetic, and one row is the least a decoder buffers.
inline constexpr std::uint64_t kMaxRowPixels = std::uint64_t(1) << 24;

/// The pixel budget in force: kPixelBudgetVariable when it holds a valid number,
/// else kDefaultPixelBudget.
std::uint64_t pixelBudget();

/// Under the default budget, the most pixels any file may ask for whatever its
/// size: 32 megapixels, 128 MiB of RGBA.
inline constexpr std::uint64_t kSmallFilePixels = std::uint64_t(1) << 25;

/// The most pixels one byte of a file of each format makes on real images, the
/// reach of its compression; under the default budget a file may ask for no more
/// than its size times this (or kSmallFilePixels), so that a few bytes cannot
/// cost a gigabyte (a decompression bomb). Deflate makes at most 1032 bytes of
/// one, a byte of the image's rows holding up to 8 pixels; a JPEG block of 64
/// pixels takes at least one bit in each of its scans.
inline constexpr std::uint64_t kDeflatePixelsPerByte = 1024;
inline constexpr std::uint64_t kJpegPixelsPerByte = 512;
/// What the formats read by OpenImageIO are held to: none of their encoders
/// reaches it on a real image.
inline constexpr std::uint64_t kOtherPixelsPerByte = 1024;
/// For the host's BMP and IFF readers, which hold a file to its bytes
/// themselves: their runs make at most 127 pixels of a byte.
inline constexpr std::uint64_t kHeldByReader = kMaxImagePixels;

/// Whether an image of width by height pixels, as the header of a file of
/// `fileBytes` bytes claims, may be decoded: kSuccess, kFailure for a side of 0,
/// kInvalidParameter over the pixel budget, a row over 2^24, or (under the
/// default budget) more pixels than `fileBytes` times `pixelsPerByte` and
/// kSmallFilePixels. Readers ask this before allocating anything; it also sizes
/// the calling thread's read time (see ReadTime). A refusal by the budget alone
/// (the image is within kMaxImagePixels) is noted for the calling thread;
/// takeBudgetRefusal hands it on.
MStatus checkImageSize(
    std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes, std::uint64_t pixelsPerByte);

/// An image refused by the pixel budget: its size and the budget it was over.
struct BudgetRefusal {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t budget = 0;  ///< 0: no refusal
    /// The file's size when the budget was its share for so small a file; 0 when
    /// it was the run's budget.
    std::uint64_t fileBytes = 0;
};

/// The calling thread's last refusal by the budget since the last take.
BudgetRefusal takeBudgetRefusal();

/// Notes a refusal by the budget for the calling thread, as checkImageSize does:
/// for sizes checked elsewhere (another process) and reported here.
void noteBudgetRefusal(const BudgetRefusal& refusal);

/// The CPU time a read of an image of `pixels` pixels may take, the host's own
/// readers and the decoding processes alike: 1.5 s, and 0.1 s a megapixel, ample
/// for any of the decoders even under the sanitizers.
inline std::chrono::milliseconds readTimeFor(std::uint64_t pixels)
{
    return std::chrono::milliseconds(1500)
        + std::chrono::milliseconds(100) * static_cast<long long>(pixels >> 20);
}

/// Bounds the CPU time of the calling thread's read while it lives: until the
/// header's size is checked (checkImageSize) the read may take readTimeFor(0),
/// from then readTimeFor(its pixels). CPU time, so that time the process spends
/// stopped (Ctrl-Z) does not count. Scopes nest; the innermost is in force.
class ReadTime {
public:
    ReadTime();
    ReadTime(const ReadTime&) = delete;
    ReadTime& operator=(const ReadTime&) = delete;
    ~ReadTime();

    /// Whether the read in force on this thread has taken its time; false
    /// outside any. A system call: readers ask it every few thousand rows.
    static bool passed();

private:
    friend MStatus checkImageSize(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t);
    std::chrono::nanoseconds start_;
    std::chrono::nanoseconds allowed_;
    ReadTime* outer_;
};

struct FreeBytes {
    void operator()(unsigned char* bytes) const noexcept { std::free(bytes); }
};

/// Bytes from malloc, so that decoders can fill them once without a zero pass first.
using PixelBytes = std::unique_ptr<unsigned char[], FreeBytes>;

/// `count` uninitialised bytes; null when they cannot be allocated.
PixelBytes allocateBytes(std::size_t count);

/// A width by height 8-bit RGBA image, top row first; empty while `bytes` is null.
struct RgbaImage {
    unsigned int width = 0;
    unsigned int height = 0;
    PixelBytes bytes;
};

}  // namespace host
