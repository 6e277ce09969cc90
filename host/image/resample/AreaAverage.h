#pragma once

#include <cstdint>
#include <memory>

// Area averaging of four-sample pixels: every target pixel is the mean of the
// source area it covers, partly covered source pixels weighted by the part.
// OpenCV's INTER_AREA computes the same filter, but its path for factors that
// are not whole numbers (1920 to 128 is 15, 1080 to 128 is 8.44) took a third
// of a batch of thumbnails; this one sums a few source rows into one row of
// floats, which the compiler vectorises, and then folds the columns.

namespace pictile::resample {

struct AreaSizes {
    std::uint32_t sourceWidth;
    std::uint32_t sourceHeight;
    std::uint32_t targetWidth;
    std::uint32_t targetHeight;
};

/// Averages a source of four-sample pixels (rows packed) into a target of
/// `sizes` whose sides are each at most the source's; a side kept at its length
/// is copied through. Integer targets are rounded to nearest.
class AreaAverager {
public:
    /// Throws std::bad_alloc when the weight tables cannot be had.
    explicit AreaAverager(const AreaSizes& sizes);
    ~AreaAverager();
    AreaAverager(const AreaAverager&) = delete;
    AreaAverager& operator=(const AreaAverager&) = delete;

    /// The target rows from `firstRow` up to `endRow`, so that row ranges can go
    /// to different threads and give the same bytes. Throws std::bad_alloc when
    /// its row buffer cannot be had.
    template <typename In, typename Out>
    void averageRows(const In* source, Out* target, std::uint32_t firstRow, std::uint32_t endRow) const;

    /// averageRows of 8-bit pixels, as long as every source row it reads is
    /// opaque: false, with the target rows unfinished, at the first that is not.
    /// Checking each row as it is summed spares an opaque image (every photo) a
    /// pass over its pixels of its own.
    bool averageOpaqueRows(
        const std::uint8_t* source, std::uint8_t* target, std::uint32_t firstRow, std::uint32_t endRow) const;

    struct Side;

private:
    template <typename In, typename Out>
    bool walkRows(
        const In* source, Out* target, std::uint32_t firstRow, std::uint32_t endRow, bool onlyOpaque) const;

    AreaSizes sizes_;
    std::unique_ptr<const Side> across_;
    std::unique_ptr<const Side> down_;
};

extern template void AreaAverager::averageRows<std::uint8_t, std::uint8_t>(
    const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint32_t) const;
extern template void AreaAverager::averageRows<std::uint16_t, float>(
    const std::uint16_t*, float*, std::uint32_t, std::uint32_t) const;
extern template void AreaAverager::averageRows<float, float>(
    const float*, float*, std::uint32_t, std::uint32_t) const;

}  // namespace pictile::resample
