#include "AlphaWeighting.h"
#include "AreaAverage.h"
#include "ResampleModuleApi.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include <sys/mman.h>

namespace {

using namespace pictile::resample;

// An axis shrunk to half or less is averaged over the input areas each output
// pixel covers; any other axis is interpolated with cubic convolution, whose
// fixed support of four pixels loses nothing there.
bool averagesAreas(unsigned int targetLength, unsigned int sourceLength)
{
    return std::uint64_t { targetLength } * 2 <= sourceLength;
}

// Area averaging into `target`. Where both sides shrink by whole factors
// (halving, quartering), OpenCV's INTER_AREA sums whole blocks and is the
// fastest there is; for any other factor its general path is slow, and our own
// averager runs instead, in bands of rows spread over the cores by OpenCV; each
// row is computed the same way whatever the split. The source is 8-bit, or
// alpha-weighted 16-bit or float; the target 8-bit or float.
void averageAreas(const cv::Mat& source, cv::Mat& target)
{
    if (source.cols % target.cols == 0 && source.rows % target.rows == 0) {
        if (source.type() == target.type()) {
            cv::resize(source, target, target.size(), 0, 0, cv::INTER_AREA);
        } else {
            cv::Mat averaged;
            cv::resize(source, averaged, target.size(), 0, 0, cv::INTER_AREA);
            averaged.convertTo(target, target.type());
        }
        return;
    }
    const pictile::resample::AreaAverager averager({ std::uint32_t(source.cols), std::uint32_t(source.rows),
        std::uint32_t(target.cols), std::uint32_t(target.rows) });
    cv::parallel_for_(cv::Range(0, target.rows), [&](const cv::Range& rows) {
        const auto first = std::uint32_t(rows.start);
        const auto end = std::uint32_t(rows.end);
        if (source.depth() == CV_8U)
            averager.averageRows(source.ptr<std::uint8_t>(), target.ptr<std::uint8_t>(), first, end);
        else if (source.depth() == CV_16U)
            averager.averageRows(source.ptr<std::uint16_t>(), target.ptr<float>(), first, end);
        else
            averager.averageRows(source.ptr<float>(), target.ptr<float>(), first, end);
    });
}

// Resamples with the filter each axis calls for. When only one axis averages,
// it goes first, so the cubic pass sees fewer pixels; OpenCV spreads the cubic
// over the cores itself, computing every row the same way whatever the split.
void resampleSeparately(const cv::Mat& source, cv::Mat& target)
{
    const bool averageColumns = averagesAreas(unsigned(target.cols), unsigned(source.cols));
    const bool averageRows = averagesAreas(unsigned(target.rows), unsigned(source.rows));
    if (averageColumns && averageRows) {
        averageAreas(source, target);
        return;
    }
    if (!averageColumns && !averageRows) {
        cv::resize(source, target, target.size(), 0, 0, cv::INTER_CUBIC);
        return;
    }
    cv::Mat averaged(
        averageRows ? target.rows : source.rows, averageColumns ? target.cols : source.cols, target.type());
    averageAreas(source, averaged);
    cv::resize(averaged, target, target.size(), 0, 0, cv::INTER_CUBIC);
}

// Transparent output pixels take the colour of the unweighted resample, so a
// fully transparent image keeps its colour too.
void colourTransparentPixels(const cv::Mat& source, cv::Mat& target)
{
    cv::Mat plain(target.size(), CV_8UC4);
    resampleSeparately(source, plain);
    takeColourOfTransparent(plain.ptr<unsigned char>(), target.ptr<unsigned char>(), target.total());
}

struct FreeBuffer {
    void operator()(void* bytes) const noexcept { std::free(bytes); }
};
using Buffer = std::unique_ptr<void, FreeBuffer>;

// Working buffers of hundreds of MiB ask for 2 MiB pages, as the host's image
// buffers do: 4 KiB pages cost a page fault every 4 KiB written.
Buffer largeBuffer(std::size_t count)
{
    constexpr std::size_t kLargePage = std::size_t { 1 } << 21;
    const std::size_t rounded = (count + kLargePage - 1) / kLargePage * kLargePage;
    void* bytes = nullptr;
    if (posix_memalign(&bytes, kLargePage, rounded) != 0)
        throw std::bad_alloc();
    if (rounded >= 8 * kLargePage)
        madvise(bytes, rounded, MADV_HUGEPAGE);
    return Buffer(bytes);
}

// The alpha-weighted resample from `Sample`s (CV_16UC4 or CV_32FC4) into floats.
template <typename Sample> void resampleWeighted(const cv::Mat& plainSource, cv::Mat& plainTarget, int type)
{
    const std::size_t sourcePixels = plainSource.total();
    const std::size_t targetPixels = plainTarget.total();
    const Buffer sourceBuffer = largeBuffer(sourcePixels * 4 * sizeof(Sample));
    const Buffer targetBuffer = largeBuffer(targetPixels * 4 * sizeof(float));
    cv::Mat weightedSource(plainSource.size(), type, sourceBuffer.get());
    cv::Mat weightedTarget(plainTarget.size(), CV_32FC4, targetBuffer.get());
    premultiply(plainSource.ptr<unsigned char>(), weightedSource.ptr<Sample>(), sourcePixels);
    resampleSeparately(weightedSource, weightedTarget);
    if (!unpremultiply<Sample>(weightedTarget.ptr<float>(), plainTarget.ptr<unsigned char>(), targetPixels))
        colourTransparentPixels(plainSource, plainTarget);
}

}  // namespace

// The one symbol the module exports (see exports.map).
extern "C" __attribute__((visibility("default"))) int pictile_resample_rgba(const unsigned char* source,
    unsigned int sourceWidth, unsigned int sourceHeight, unsigned char* target, unsigned int targetWidth,
    unsigned int targetHeight)
{
    const std::size_t sourcePixels = std::size_t { sourceWidth } * sourceHeight;
    // OpenCV's headers take the buffers as they are; it writes only the target.
    const cv::Mat plainSource(
        int(sourceHeight), int(sourceWidth), CV_8UC4, const_cast<unsigned char*>(source));
    cv::Mat plainTarget(int(targetHeight), int(targetWidth), CV_8UC4, target);
    try {
        // Opaque pixels need no weighting: resampled as they are, in 8 bits.
        if (isOpaque(source, sourcePixels)) {
            resampleSeparately(plainSource, plainTarget);
            return 1;
        }
        const bool areasOnly
            = averagesAreas(targetWidth, sourceWidth) && averagesAreas(targetHeight, sourceHeight);
        if (areasOnly)
            resampleWeighted<std::uint16_t>(plainSource, plainTarget, CV_16UC4);
        else
            resampleWeighted<float>(plainSource, plainTarget, CV_32FC4);
        return 1;
    } catch (const cv::Exception&) {
        return 0;  // OpenCV reports a failed allocation this way
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
