#pragma once

#include <maya/MStatus.h>

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

/// Whether an image of width by height pixels, as a file's header claims, may be
/// decoded: kSuccess, kFailure for a side of 0, kInvalidParameter over the pixel
/// budget or a row over 2^24. Readers ask this before allocating anything. A
/// refusal by the budget alone (the image is within kMaxImagePixels) is noted for
/// the calling thread; takeBudgetRefusal hands it on.
MStatus checkImageSize(std::uint64_t width, std::uint64_t height);

/// An image refused by the pixel budget: its size and the budget it was over.
struct BudgetRefusal {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t budget = 0;  ///< 0: no refusal
};

/// The calling thread's last refusal by the budget since the last take.
BudgetRefusal takeBudgetRefusal();

/// Notes a refusal by the budget for the calling thread, as checkImageSize does:
/// for sizes checked elsewhere (another process) and reported here.
void noteBudgetRefusal(const BudgetRefusal& refusal);

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
