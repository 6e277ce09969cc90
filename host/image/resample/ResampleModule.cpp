#include "AlphaWeighting.h"
#include "ResampleModuleApi.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
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

// The whole factor a side is first box-shrunk by: the whole ratio where there
// is one (the box is then the whole average on that side), otherwise the
// largest that leaves at least two box pixels per target pixel, so that the
// area pass over the boxes stays close to one over the source pixels.
int boxFactor(int sourceLength, int targetLength)
{
    if (sourceLength % targetLength == 0)
        return sourceLength / targetLength;
    return std::max(1, sourceLength / (2 * targetLength));
}

// Averages `source` in blocks of `factorX` x `factorY` pixels with OpenCV's
// INTER_AREA, whose path for whole factors only sums blocks. The pixels left
// over at the right and bottom edges, fewer than a block, are averaged into one
// more box column and row of their own, so no source pixel is dropped.
cv::Mat boxShrink(const cv::Mat& source, int factorX, int factorY)
{
    const int wholeColumns = source.cols / factorX;
    const int wholeRows = source.rows / factorY;
    const int leftColumns = source.cols % factorX;
    const int leftRows = source.rows % factorY;
    cv::Mat boxes(wholeRows + (leftRows > 0), wholeColumns + (leftColumns > 0), source.type());
    const auto shrink = [&](int x, int y, int width, int height, int boxX, int boxY) {
        if (width == 0 || height == 0)
            return;
        cv::Mat into
            = boxes(cv::Rect(boxX, boxY, (width + factorX - 1) / factorX, (height + factorY - 1) / factorY));
        cv::resize(source(cv::Rect(x, y, width, height)), into, into.size(), 0, 0, cv::INTER_AREA);
    };
    const int wholeWidth = wholeColumns * factorX;
    const int wholeHeight = wholeRows * factorY;
    shrink(0, 0, wholeWidth, wholeHeight, 0, 0);
    shrink(wholeWidth, 0, leftColumns, wholeHeight, wholeColumns, 0);
    shrink(0, wholeHeight, wholeWidth, leftRows, 0, wholeRows);
    shrink(wholeWidth, wholeHeight, leftColumns, leftRows, wholeColumns, wholeRows);
    return boxes;
}

// Whether area averaging halves `source` first: both sides even, and at least
// twice the target once halved. OpenCV's 2 x 2 path is vectorised, and its
// other whole factors are not; each halving is exact, so the halved image
// stands for the source.
bool halves(const cv::Mat& source, cv::Size target)
{
    return source.cols % 2 == 0 && source.rows % 2 == 0 && source.cols >= 4 * target.width
        && source.rows >= 4 * target.height;
}

// The first halving of an 8-bit image that is opaque, with the opacity check
// riding along: each band of rows is checked while it is in cache and halved
// only while every band so far was opaque. Bands are spread over the cores,
// each halved the same way whatever the split. False, with `halved` unusable,
// when some pixel is not opaque.
bool halveIfOpaque(const cv::Mat& source, cv::Mat& halved)
{
    constexpr int kBandRows = 16;
    halved.create(source.rows / 2, source.cols / 2, source.type());
    std::atomic<bool> opaque { true };
    cv::parallel_for_(cv::Range(0, (source.rows + kBandRows - 1) / kBandRows), [&](const cv::Range& bands) {
        for (int band = bands.start; band < bands.end && opaque; ++band) {
            const int first = band * kBandRows;
            const int rows = std::min(kBandRows, source.rows - first);
            const cv::Mat rowsIn = source.rowRange(first, first + rows);
            if (!isOpaque(rowsIn.ptr<unsigned char>(), rowsIn.total())) {
                opaque = false;
                return;
            }
            cv::Mat rowsOut = halved.rowRange(first / 2, (first + rows) / 2);
            cv::resize(rowsIn, rowsOut, rowsOut.size(), 0, 0, cv::INTER_AREA);
        }
    });
    return opaque;
}

// Area averaging into `target` by OpenCV alone: halvings while they fit, a box
// shrink by whole factors (OpenCV's fast block-summing paths), then INTER_AREA
// of the boxes, now a few times the target's size, on the source's own scale: a partial box at the
// right or bottom edge covers only the source pixels it holds, so the edges
// stay where they are. The source is 8-bit, or alpha-weighted 16-bit or float;
// the target 8-bit or float. OpenCV spreads both passes over the cores,
// computing every row the same way whatever the split.
void averageAreas(const cv::Mat& fullSource, cv::Mat& target)
{
    cv::Mat source = fullSource;
    while (halves(source, target.size())) {
        cv::Mat halved;
        cv::resize(source, halved, cv::Size(source.cols / 2, source.rows / 2), 0, 0, cv::INTER_AREA);
        source = halved;
    }
    const int factorX = boxFactor(source.cols, target.cols);
    const int factorY = boxFactor(source.rows, target.rows);
    const bool boxed = factorX > 1 || factorY > 1;
    cv::Mat boxes = boxed ? boxShrink(source, factorX, factorY) : source;
    if (boxes.size() == target.size()) {
        boxes.convertTo(target, target.type());
        return;
    }
    // The boxes of a weighted source go on in float: the area pass rounds nothing.
    if (boxed && boxes.depth() != target.depth())
        boxes.convertTo(boxes, target.type());
    // Target pixels per box on each side: the source's scale, not the boxes'
    // count, whose last box may be partial.
    const double boxesToTargetX = double(target.cols) * factorX / source.cols;
    const double boxesToTargetY = double(target.rows) * factorY / source.rows;
    cv::Mat averaged;
    cv::resize(boxes, averaged, cv::Size(), boxesToTargetX, boxesToTargetY, cv::INTER_AREA);
    averaged(cv::Rect(0, 0, target.cols, target.rows)).convertTo(target, target.type());
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
        const bool areasOnly
            = averagesAreas(targetWidth, sourceWidth) && averagesAreas(targetHeight, sourceHeight);
        // Opaque pixels need no weighting: resampled as they are, in 8 bits.
        if (areasOnly && halves(plainSource, plainTarget.size())) {
            cv::Mat halved;
            if (halveIfOpaque(plainSource, halved)) {
                resampleSeparately(halved, plainTarget);
                return 1;
            }
        } else if (isOpaque(source, sourcePixels)) {
            resampleSeparately(plainSource, plainTarget);
            return 1;
        }
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
