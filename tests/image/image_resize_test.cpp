#include "ImageTestSupport.h"

#include <maya/MImage.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

using namespace imagetest;

namespace {

struct Size {
    unsigned int width;
    unsigned int height;

    bool operator==(const Size& other) const { return width == other.width && height == other.height; }
};

std::ostream& operator<<(std::ostream& out, const Size& size)
{
    return out << size.width << " x " << size.height;
}

struct FitCase {
    Size image;
    Size box;
    Size expected;
};

struct BadCreateCase {
    unsigned int width;
    unsigned int height;
};

void PrintTo(const FitCase& c, std::ostream* out)
{
    *out << c.image << " into " << c.box;
}

void PrintTo(const BadCreateCase& c, std::ostream* out)
{
    *out << c.width << " x " << c.height;
}

Size sizeOf(const MImage& image)
{
    Size size { 0, 0 };
    image.getSize(size.width, size.height);
    return size;
}

Bytes uniformPixels(std::size_t count, const std::array<unsigned char, 4>& colour)
{
    Bytes bytes;
    for (std::size_t i = 0; i < count; ++i)
        bytes.insert(bytes.end(), colour.begin(), colour.end());
    return bytes;
}

struct UniformCase {
    const char* name;
    std::array<unsigned char, 4> colour;
    Size from;
    Size to;
};

void PrintTo(const UniformCase& c, std::ostream* out)
{
    *out << c.name;
}

class UniformResize : public testing::TestWithParam<UniformCase> { };

TEST_P(UniformResize, StaysExactlyUniform)
{
    const UniformCase& c = GetParam();
    MImage image;
    fillImage(image, c.from.width, c.from.height,
        uniformPixels(std::size_t(c.from.width) * c.from.height, c.colour));

    ASSERT_EQ(image.resize(int(c.to.width), int(c.to.height), false), MS::kSuccess);
    EXPECT_EQ(sizeOf(image), c.to);
    EXPECT_EQ(pixelsOf(image), uniformPixels(std::size_t(c.to.width) * c.to.height, c.colour));
}

constexpr std::array<unsigned char, 4> kOpaque = { 10, 200, 30, 255 };
constexpr std::array<unsigned char, 4> kTranslucent = { 200, 100, 50, 128 };
constexpr std::array<unsigned char, 4> kFaint = { 37, 251, 3, 1 };
constexpr std::array<unsigned char, 4> kTransparent = { 90, 80, 70, 0 };

INSTANTIATE_TEST_SUITE_P(Colours, UniformResize,
    testing::Values(UniformCase { "OpaqueDown", kOpaque, { 8, 6 }, { 3, 2 } },
        UniformCase { "OpaqueUp", kOpaque, { 3, 5 }, { 7, 11 } },
        UniformCase { "TranslucentDown", kTranslucent, { 8, 6 }, { 3, 2 } },
        UniformCase { "TranslucentUp", kTranslucent, { 3, 5 }, { 7, 11 } },
        UniformCase { "FaintDown", kFaint, { 10, 1 }, { 3, 1 } },
        UniformCase { "TransparentDown", kTransparent, { 8, 6 }, { 3, 2 } },
        UniformCase { "TransparentUp", kTransparent, { 1, 1 }, { 4, 9 } }),
    [](const testing::TestParamInfo<UniformCase>& info) { return std::string(info.param.name); });

class NoBleed : public testing::TestWithParam<Size> { };

// A transparent green pixel beside an opaque red one adds no green anywhere.
TEST_P(NoBleed, TransparentNeighbourGivesNoColour)
{
    MImage image;
    fillImage(image, 2, 1, { 255, 0, 0, 255, 0, 255, 0, 0 });

    ASSERT_EQ(image.resize(int(GetParam().width), int(GetParam().height), false), MS::kSuccess);
    const Bytes pixels = pixelsOf(image);
    ASSERT_EQ(pixels.size(), std::size_t(GetParam().width) * GetParam().height * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        if (pixels[i + 3] == 0)
            continue;
        EXPECT_GE(pixels[i], 254) << "pixel " << i / 4;
        EXPECT_EQ(pixels[i + 1], 0) << "pixel " << i / 4;
        EXPECT_EQ(pixels[i + 2], 0) << "pixel " << i / 4;
    }
    EXPECT_GT(pixels[3], 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, NoBleed, testing::Values(Size { 1, 1 }, Size { 5, 1 }, Size { 3, 4 }));

class UniformColour : public testing::TestWithParam<Size> { };

// One colour under hard-edged alpha: the cubic overshoots alpha at the edges,
// which must not shift the colour.
TEST_P(UniformColour, KeepsItsColourUnderVaryingAlpha)
{
    Bytes pixels;
    for (unsigned int y = 0; y < 9; ++y)
        for (unsigned int x = 0; x < 12; ++x)
            pixels.insert(
                pixels.end(), { 220, 40, 60, static_cast<unsigned char>((x / 3 + y / 3) % 2 ? 255 : x * 9) });
    MImage image;
    fillImage(image, 12, 9, pixels);

    ASSERT_EQ(image.resize(int(GetParam().width), int(GetParam().height), false), MS::kSuccess);
    const Bytes resized = pixelsOf(image);
    for (std::size_t i = 0; i < resized.size(); i += 4)
        EXPECT_EQ(Bytes(resized.begin() + long(i), resized.begin() + long(i) + 3), (Bytes { 220, 40, 60 }))
            << "pixel " << i / 4 << " alpha " << int(resized[i + 3]);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UniformColour, testing::Values(Size { 37, 29 }, Size { 11, 8 }, Size { 5, 4 }));

// Black beside white, halved: the filter is symmetric about the output pixel, so
// it lands half way, 127.5, rounded either way.
TEST(ImageResize, AveragesNeighboursWhenHalving)
{
    MImage image;
    fillImage(image, 2, 1, { 0, 0, 0, 255, 255, 255, 255, 255 });

    ASSERT_EQ(image.resize(1, 1, false), MS::kSuccess);
    const Bytes pixels = pixelsOf(image);
    ASSERT_EQ(pixels.size(), 4u);
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_GE(pixels[channel], 127);
        EXPECT_LE(pixels[channel], 128);
    }
    EXPECT_EQ(pixels[3], 255);
}

// A photo-like image: smooth gradients, a soft texture, a hard-edged disc and a
// little noise; with `translucent` its alpha falls from opaque to a tenth.
Bytes photoLike(unsigned int width, unsigned int height, bool translucent)
{
    Bytes bytes(std::size_t(width) * height * 4);
    std::uint32_t state = 99;
    for (unsigned int y = 0; y < height; ++y) {
        for (unsigned int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            const double v = double(y) / height;
            state = state * 1103515245u + 12345u;
            const double noise = double(state >> 28) - 7.5;
            const bool inDisc = (u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4) < 0.04;
            const double texture = 40.0 * std::sin(x * 0.21) * std::sin(y * 0.17);
            const double channels[3] = { 60 + 150 * u + texture + noise, inDisc ? 230 : 40 + 120 * v + noise,
                90 + 60 * std::sin(6 * u + 3 * v) - texture / 2 };
            unsigned char* pixel = &bytes[(std::size_t(y) * width + x) * 4];
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<unsigned char>(std::clamp(std::lround(channels[c]), 0l, 255l));
            pixel[3] = translucent ? static_cast<unsigned char>(255 - std::lround(230 * u)) : 255;
        }
    }
    return bytes;
}

double lanczos3(double x)
{
    x = std::abs(x);
    if (x < 1e-12)
        return 1.0;
    if (x >= 3.0)
        return 0.0;
    const double pi = 3.14159265358979323846;
    return 3.0 * std::sin(pi * x) * std::sin(pi * x / 3.0) / (pi * pi * x * x);
}

// The weights of each output position along one side: Lanczos3 stretched by the
// shrink factor when shrinking (so it stays antialiased), edges clamped.
std::vector<std::vector<std::pair<unsigned int, double>>> lanczosWeights(unsigned int from, unsigned int to)
{
    const double scale = double(to) / from;
    const double stretch = std::max(1.0, 1.0 / scale);
    std::vector<std::vector<std::pair<unsigned int, double>>> weights(to);
    for (unsigned int i = 0; i < to; ++i) {
        const double centre = (i + 0.5) / scale - 0.5;
        double sum = 0;
        for (long k = long(std::floor(centre - 3 * stretch)); k <= long(std::ceil(centre + 3 * stretch));
             ++k) {
            const double weight = lanczos3((k - centre) / stretch);
            if (weight == 0)
                continue;
            weights[i].push_back({ unsigned(std::clamp(k, 0l, long(from) - 1)), weight });
            sum += weight;
        }
        for (auto& entry : weights[i])
            entry.second /= sum;
    }
    return weights;
}

// The reference: a separable Lanczos3 in double precision over colour weighted
// by alpha, then divided back and rounded.
Bytes referenceResize(const Bytes& source, Size from, Size to)
{
    const auto across = lanczosWeights(from.width, to.width);
    const auto down = lanczosWeights(from.height, to.height);
    std::vector<double> rows(std::size_t(from.height) * to.width * 4);
    for (unsigned int y = 0; y < from.height; ++y) {
        for (unsigned int x = 0; x < to.width; ++x) {
            double* out = &rows[(std::size_t(y) * to.width + x) * 4];
            for (const auto& [column, weight] : across[x]) {
                const unsigned char* in = &source[(std::size_t(y) * from.width + column) * 4];
                for (int c = 0; c < 3; ++c)
                    out[c] += weight * in[c] * in[3];
                out[3] += weight * in[3];
            }
        }
    }
    Bytes target(std::size_t(to.width) * to.height * 4);
    for (unsigned int y = 0; y < to.height; ++y) {
        for (unsigned int x = 0; x < to.width; ++x) {
            double sums[4] = { 0, 0, 0, 0 };
            for (const auto& [row, weight] : down[y])
                for (int c = 0; c < 4; ++c)
                    sums[c] += weight * rows[(std::size_t(row) * to.width + x) * 4 + c];
            unsigned char* out = &target[(std::size_t(y) * to.width + x) * 4];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>(
                    std::clamp(std::lround(sums[3] > 0 ? sums[c] / sums[3] : 0.0), 0l, 255l));
            out[3] = static_cast<unsigned char>(std::clamp(std::lround(sums[3]), 0l, 255l));
        }
    }
    return target;
}

// What a broken resampler gives: the nearest input pixel, no filter at all.
Bytes nearestResize(const Bytes& source, Size from, Size to)
{
    Bytes target;
    for (unsigned int y = 0; y < to.height; ++y) {
        for (unsigned int x = 0; x < to.width; ++x) {
            const std::size_t at = (std::size_t(y) * from.height / to.height * from.width
                                       + std::size_t(x) * from.width / to.width)
                * 4;
            target.insert(target.end(), source.begin() + long(at), source.begin() + long(at) + 4);
        }
    }
    return target;
}

struct Difference {
    double mean[4] = { 0, 0, 0, 0 };
    int largest[4] = { 0, 0, 0, 0 };
};

// Per channel, over the pixels visible in both (alpha of 16 or more; below that
// colour has too little weight to say anything).
Difference differenceOf(const Bytes& left, const Bytes& right)
{
    Difference difference;
    std::size_t counted = 0;
    for (std::size_t i = 0; i < left.size(); i += 4) {
        if (left[i + 3] < 16 || right[i + 3] < 16)
            continue;
        ++counted;
        for (int c = 0; c < 4; ++c) {
            const int delta = std::abs(int(left[i + c]) - int(right[i + c]));
            difference.mean[c] += delta;
            difference.largest[c] = std::max(difference.largest[c], delta);
        }
    }
    for (double& mean : difference.mean)
        mean /= double(std::max<std::size_t>(counted, 1));
    return difference;
}

struct QualityCase {
    const char* name;
    Size from;
    Size to;
    bool translucent;
};

void PrintTo(const QualityCase& c, std::ostream* out)
{
    *out << c.name;
}

class ResizeQuality : public testing::TestWithParam<QualityCase> { };

// Thresholds: area averaging and cubic convolution are not Lanczos3. Measured
// on these rows they differ from it by at most 1.9 levels on average in any
// channel and 42 at worst (the disc's hard edge, shrunk by a third, where the
// cubic is not stretched); alpha by at most 1. The nearest pixel, the simplest
// broken filter, differs by 2.6 to 14 on average in some channel of every row
// and by up to 172 at the edge; each row checks that it fails the mean limit,
// so the limits do catch a broken filter. The odd far shrink leaves partial
// boxes at the right and bottom edges of the area pass; stretched over whole
// boxes, its red differs by 4.5 on average.
constexpr double kMeanLimit = 2.5;
constexpr int kLargestLimit = 48;

TEST_P(ResizeQuality, StaysCloseToAReferenceLanczos3)
{
    const QualityCase& c = GetParam();
    const Bytes source = photoLike(c.from.width, c.from.height, c.translucent);
    MImage image;
    fillImage(image, c.from.width, c.from.height, source);
    ASSERT_EQ(image.resize(int(c.to.width), int(c.to.height), false), MS::kSuccess);
    const Bytes reference = referenceResize(source, c.from, c.to);

    const Difference ours = differenceOf(pixelsOf(image), reference);
    const Difference nearest = differenceOf(nearestResize(source, c.from, c.to), reference);
    bool nearestFails = false;
    for (int channel = 0; channel < 4; ++channel) {
        EXPECT_LE(ours.mean[channel], kMeanLimit) << "channel " << channel;
        EXPECT_LE(ours.largest[channel], kLargestLimit) << "channel " << channel;
        nearestFails |= nearest.mean[channel] > kMeanLimit;
    }
    EXPECT_TRUE(nearestFails);
}

INSTANTIATE_TEST_SUITE_P(Scales, ResizeQuality,
    testing::Values(QualityCase { "ShrinkFar", { 480, 270 }, { 32, 32 }, false },
        QualityCase { "ShrinkFarTranslucent", { 480, 270 }, { 32, 32 }, true },
        QualityCase { "ShrinkFarPartialEdgeBoxes", { 643, 361 }, { 40, 40 }, true },
        QualityCase { "ShrinkToHalf", { 200, 150 }, { 100, 75 }, false },
        QualityCase { "ShrinkSlightly", { 410, 409 }, { 409, 408 }, false },
        QualityCase { "ShrinkByAThird", { 300, 240 }, { 200, 160 }, true },
        QualityCase { "Enlarge", { 61, 47 }, { 200, 150 }, false },
        QualityCase { "EnlargeTranslucent", { 61, 47 }, { 200, 150 }, true },
        QualityCase { "ShrinkWidthEnlargeHeight", { 300, 40 }, { 30, 120 }, false }),
    [](const testing::TestParamInfo<QualityCase>& info) { return std::string(info.param.name); });

class FitResize : public testing::TestWithParam<FitCase> { };

TEST_P(FitResize, KeepsProportionsInsideTheBox)
{
    const FitCase& c = GetParam();
    MImage image;
    fillImage(
        image, c.image.width, c.image.height, variedPixels(std::size_t(c.image.width) * c.image.height));

    ASSERT_EQ(image.resize(int(c.box.width), int(c.box.height), true), MS::kSuccess);
    EXPECT_EQ(sizeOf(image), c.expected);
}

// Expected sizes: the tighter side of the box is taken whole, the other is the
// image's ratio times it, rounded to nearest and at least 1.
INSTANTIATE_TEST_SUITE_P(Boxes, FitResize,
    testing::Values(FitCase { { 200, 100 }, { 50, 50 }, { 50, 25 } },
        FitCase { { 100, 200 }, { 50, 50 }, { 25, 50 } }, FitCase { { 100, 100 }, { 10, 20 }, { 10, 10 } },
        FitCase { { 3, 1 }, { 100, 100 }, { 100, 33 } }, FitCase { { 2, 3 }, { 5, 5 }, { 3, 5 } },
        FitCase { { 1000, 1 }, { 10, 10 }, { 10, 1 } }, FitCase { { 10, 5 }, { 400, 400 }, { 400, 200 } },
        FitCase { { 7, 3 }, { 5, 100 }, { 5, 2 } }));

class SameSizeResize : public testing::TestWithParam<bool> { };

TEST_P(SameSizeResize, ChangesNothing)
{
    MImage image;
    const Bytes pixels = variedPixels(5 * 3);
    fillImage(image, 5, 3, pixels);
    const unsigned char* before = image.pixels();

    ASSERT_EQ(image.resize(5, 3, GetParam()), MS::kSuccess);
    EXPECT_EQ(image.pixels(), before);
    EXPECT_EQ(pixelsOf(image), pixels);
}

INSTANTIATE_TEST_SUITE_P(AspectRatio, SameSizeResize, testing::Bool());

struct RefusalCase {
    const char* name;
    int width;
    int height;
    bool preserveAspectRatio;
    MStatus::MStatusCode expected;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

class RefusedResize : public testing::TestWithParam<RefusalCase> { };

TEST_P(RefusedResize, LeavesTheImageUnchanged)
{
    const RefusalCase& c = GetParam();
    MImage image;
    const Bytes pixels = variedPixels(4 * 2);
    fillImage(image, 4, 2, pixels);

    EXPECT_EQ(image.resize(c.width, c.height, c.preserveAspectRatio), c.expected);
    EXPECT_EQ(sizeOf(image), (Size { 4, 2 }));
    EXPECT_EQ(pixelsOf(image), pixels);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RefusedResize,
    testing::Values(RefusalCase { "ZeroWidth", 0, 5, false, MS::kInvalidParameter },
        RefusalCase { "ZeroHeight", 5, 0, true, MS::kInvalidParameter },
        RefusalCase { "NegativeWidth", -1, 5, true, MS::kInvalidParameter },
        RefusalCase { "NegativeHeight", 5, -3, false, MS::kInvalidParameter },
        RefusalCase { "OverPixelLimit", 1 << 16, (1 << 14) + 1, false, MS::kInvalidParameter },
        RefusalCase { "FittedOverPixelLimit", 1 << 20, 1 << 20, true, MS::kInvalidParameter },
        RefusalCase { "RowTooLong", (1 << 24) + 1, 1, false, MS::kInvalidParameter }),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(ImageResize, EmptyImageFails)
{
    MImage image;
    EXPECT_EQ(image.resize(4, 4, false), MS::kFailure);
    EXPECT_EQ(image.pixels(), nullptr);
}

TEST(ImageCreate, MakesTransparentBlack)
{
    MImage image;
    ASSERT_EQ(image.create(3, 2), MS::kSuccess);
    EXPECT_EQ(sizeOf(image), (Size { 3, 2 }));
    EXPECT_EQ(pixelsOf(image), Bytes(3 * 2 * 4, 0));
}

class BadCreate : public testing::TestWithParam<BadCreateCase> { };

TEST_P(BadCreate, RefusesAndLeavesTheImageEmpty)
{
    MImage image;
    ASSERT_EQ(image.create(2, 2), MS::kSuccess);
    EXPECT_EQ(image.create(GetParam().width, GetParam().height), MS::kInvalidParameter);
    unsigned int width = 9;
    unsigned int height = 9;
    EXPECT_EQ(image.getSize(width, height), MS::kFailure);
    EXPECT_EQ(width, 0u);
    EXPECT_EQ(height, 0u);
    EXPECT_EQ(image.pixels(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BadCreate,
    testing::Values(BadCreateCase { 0, 4 }, BadCreateCase { 4, 0 },
        BadCreateCase { 1u << 15, (1u << 15) + 1 }, BadCreateCase { 65536, 65536 }));

TEST(ImageMove, TakesThePixelsAndEmptiesTheSource)
{
    MImage source;
    fillImage(source, 2, 1, { 1, 2, 3, 4, 5, 6, 7, 8 });
    const unsigned char* bytes = source.pixels();

    MImage target(std::move(source));
    EXPECT_EQ(target.pixels(), bytes);
    EXPECT_EQ(pixelsOf(target), (Bytes { 1, 2, 3, 4, 5, 6, 7, 8 }));
    EXPECT_EQ(
        source.pixels(), nullptr);  // NOLINT(bugprone-use-after-move): the moved-from state is the point

    MImage assigned;
    assigned = std::move(target);
    EXPECT_EQ(assigned.pixels(), bytes);
}

}  // namespace
