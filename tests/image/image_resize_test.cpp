#include "ImageTestSupport.h"

#include <maya/MImage.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

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
