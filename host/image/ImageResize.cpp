#include "ImageResize.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

namespace host {

namespace {

constexpr int kChannels = 4;
constexpr int kAlpha = 3;

// An axis shrunk to half or less is averaged over the input areas each output
// pixel covers; any other axis is interpolated with cubic convolution, whose
// fixed support of four pixels loses nothing there.
bool averagesAreas(unsigned int targetLength, unsigned int sourceLength)
{
    return std::uint64_t { targetLength } * 2 <= sourceLength;
}

// Resamples with the filter each axis calls for; OpenCV spreads the rows over
// the cores itself and computes every row the same way whatever the split. When
// only one axis averages, it goes first, so the cubic pass sees fewer pixels.
void resampleSeparately(const cv::Mat& source, cv::Mat& target)
{
    const bool averageColumns = averagesAreas(unsigned(target.cols), unsigned(source.cols));
    const bool averageRows = averagesAreas(unsigned(target.rows), unsigned(source.rows));
    if (averageColumns == averageRows) {
        cv::resize(source, target, target.size(), 0, 0, averageColumns ? cv::INTER_AREA : cv::INTER_CUBIC);
        return;
    }
    cv::Mat averaged;
    const cv::Size between(
        averageColumns ? target.cols : source.cols, averageRows ? target.rows : source.rows);
    cv::resize(source, averaged, between, 0, 0, cv::INTER_AREA);
    cv::resize(averaged, target, target.size(), 0, 0, cv::INTER_CUBIC);
}

bool isOpaque(const unsigned char* pixels, std::size_t count)
{
    unsigned char all = 255;
    for (std::size_t i = 0; i < count; ++i)
        all &= pixels[i * kChannels + kAlpha];
    return all == 255;
}

// Colour times alpha, and alpha, in float: exact for 8-bit inputs, and unlike
// integers the cubic's overshoot and undershoot are kept, not clipped, so the
// ratio of colour to alpha stays right (a uniform colour under varying alpha
// comes out exactly that colour).
void premultiply(const unsigned char* source, float* target, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const float alpha = source[i * 4 + kAlpha];
        for (int c = 0; c < kAlpha; ++c)
            target[i * 4 + c] = float(source[i * 4 + c]) * alpha;
        target[i * 4 + kAlpha] = alpha;
    }
}

// Divides the colour back out of the resampled weighted pixels. Returns false
// when some pixel came out transparent: its colour has to come from elsewhere.
bool unpremultiply(const float* source, unsigned char* target, std::size_t count)
{
    bool everyPixelWeighted = true;
    for (std::size_t i = 0; i < count; ++i) {
        const float weight = source[i * 4 + kAlpha];
        target[i * 4 + kAlpha] = static_cast<unsigned char>(std::clamp(weight + 0.5f, 0.0f, 255.0f));
        // Alpha that rounds to 0 carries no colour worth dividing out.
        if (weight < 0.5f) {
            everyPixelWeighted = false;
            continue;
        }
        const float inverse = 1.0f / weight;
        for (int c = 0; c < kAlpha; ++c) {
            const float colour = source[i * 4 + c] * inverse + 0.5f;
            target[i * 4 + c] = static_cast<unsigned char>(std::clamp(colour, 0.0f, 255.0f));
        }
    }
    return everyPixelWeighted;
}

// Transparent output pixels take the colour of the unweighted resample, so a
// fully transparent image keeps its colour too.
void colourTransparentPixels(
    const cv::Mat& source, unsigned char* target, std::size_t count, const cv::Size& size)
{
    cv::Mat plain(size, CV_8UC4);
    resampleSeparately(source, plain);
    const unsigned char* colours = plain.ptr<unsigned char>();
    for (std::size_t i = 0; i < count; ++i) {
        if (target[i * 4 + kAlpha] != 0)
            continue;
        for (int c = 0; c < kAlpha; ++c)
            target[i * 4 + c] = colours[i * 4 + c];
    }
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
    const std::size_t sourcePixels = std::size_t { sourceWidth } * sourceHeight;
    const std::size_t targetPixels = std::size_t { targetWidth } * targetHeight;
    // OpenCV's headers take the buffers as they are; it writes only the target.
    const cv::Mat plainSource(
        int(sourceHeight), int(sourceWidth), CV_8UC4, const_cast<unsigned char*>(source));
    cv::Mat plainTarget(int(targetHeight), int(targetWidth), CV_8UC4, target);
    try {
        // Opaque pixels need no weighting: resampled as they are, in 8 bits.
        if (isOpaque(source, sourcePixels)) {
            resampleSeparately(plainSource, plainTarget);
            return true;
        }
        const PixelBytes weighted = allocateBytes(sourcePixels * 4 * sizeof(float));
        const PixelBytes resampled = allocateBytes(targetPixels * 4 * sizeof(float));
        if (!weighted || !resampled)
            return false;
        auto* weightedPixels = reinterpret_cast<float*>(weighted.get());
        auto* resampledPixels = reinterpret_cast<float*>(resampled.get());
        premultiply(source, weightedPixels, sourcePixels);
        const cv::Mat weightedSource(int(sourceHeight), int(sourceWidth), CV_32FC4, weightedPixels);
        cv::Mat weightedTarget(int(targetHeight), int(targetWidth), CV_32FC4, resampledPixels);
        resampleSeparately(weightedSource, weightedTarget);
        if (!unpremultiply(resampledPixels, target, targetPixels))
            colourTransparentPixels(plainSource, target, targetPixels, plainTarget.size());
        return true;
    } catch (const cv::Exception&) {
        return false;  // OpenCV reports a failed allocation this way
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace host
