#include "ImageTestSupport.h"

#include <maya/MImage.h>

#include <host/ImageFaults.h>

#include "ImageFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

using namespace imagetest;

namespace {

MStatus readInto(MImage& image, const std::string& path)
{
    return image.readFromFile(MString(path));
}

// Every failed read must leave the image empty, even one that held pixels.
void expectEmpty(const MImage& image)
{
    unsigned int width = 7;
    unsigned int height = 7;
    EXPECT_EQ(image.getSize(width, height), MS::kFailure);
    EXPECT_EQ(width, 0u);
    EXPECT_EQ(height, 0u);
    EXPECT_EQ(image.pixels(), nullptr);
}

struct EightBitCase {
    const char* name;
    const char* format;
    int channels;
    Bytes samples;  // 2 x 2 pixels: top-left, top-right, bottom-left, bottom-right
    Bytes expected;
};

void PrintTo(const EightBitCase& c, std::ostream* out)
{
    *out << c.name;
}

class EightBitRead : public testing::TestWithParam<EightBitCase> { };

TEST_P(EightBitRead, ExpandsToRgbaTopRowFirst)
{
    const EightBitCase& c = GetParam();
    TemporaryFolder folder;
    const std::string path = folder.file(std::string("in.") + c.format);
    writeFixture(path, c.format, 2, 2, c.channels, OIIO::TypeDesc::UINT8, c.samples.data());

    MImage image;
    ASSERT_EQ(readInto(image, path), MS::kSuccess);
    unsigned int width = 0;
    unsigned int height = 0;
    ASSERT_EQ(image.getSize(width, height), MS::kSuccess);
    EXPECT_EQ(width, 2u);
    EXPECT_EQ(height, 2u);
    EXPECT_EQ(pixelsOf(image), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, EightBitRead,
    testing::Values(EightBitCase { "PngGrey", "png", 1, { 0, 85, 170, 255 },
                        { 0, 0, 0, 255, 85, 85, 85, 255, 170, 170, 170, 255, 255, 255, 255, 255 } },
        EightBitCase { "PngGreyAlpha", "png", 2, { 10, 0, 20, 1, 30, 128, 40, 255 },
            { 10, 10, 10, 0, 20, 20, 20, 1, 30, 30, 30, 128, 40, 40, 40, 255 } },
        EightBitCase { "PngRgb", "png", 3, { 255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3 },
            { 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 1, 2, 3, 255 } },
        EightBitCase { "PngRgbaUnassociated", "png", 4,
            { 200, 100, 50, 128, 1, 2, 3, 4, 255, 255, 255, 0, 9, 8, 7, 255 },
            { 200, 100, 50, 128, 1, 2, 3, 4, 255, 255, 255, 0, 9, 8, 7, 255 } },
        EightBitCase { "TiffRgba", "tiff", 4, { 200, 100, 50, 128, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 255 },
            { 200, 100, 50, 128, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 255 } },
        EightBitCase { "TiffFiveChannelsKeepsFirstFour", "tiff", 5,
            { 1, 2, 3, 4, 99, 5, 6, 7, 8, 99, 9, 10, 11, 12, 99, 13, 14, 15, 16, 99 },
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16 } },
        EightBitCase { "TargaRgb", "targa", 3, { 255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3 },
            { 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 1, 2, 3, 255 } },
        EightBitCase { "BmpRgb", "bmp", 3, { 255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3 },
            { 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 1, 2, 3, 255 } }),
    [](const testing::TestParamInfo<EightBitCase>& info) { return std::string(info.param.name); });

// Decoded bytes of small PNG, JPEG and TIFF variants, pinned to what the host
// read before its light readers came: a change of reader must not change one
// byte. The files and their generator are in tests/data/pins.
struct PinnedCase {
    const char* file;
    unsigned int width;
    unsigned int height;
    std::uint64_t digest;  // FNV-1a of the RGBA bytes, top row first
};

void PrintTo(const PinnedCase& c, std::ostream* out)
{
    *out << c.file;
}

std::uint64_t fnv1a(const Bytes& bytes)
{
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (unsigned char byte : bytes)
        hash = (hash ^ byte) * 0x100000001B3u;
    return hash;
}

class PinnedRead : public testing::TestWithParam<PinnedCase> { };

TEST_P(PinnedRead, GivesThePinnedBytes)
{
    const PinnedCase& c = GetParam();
    MImage image;
    ASSERT_EQ(readInto(image, std::string(PICTILE_PINS_DIR "/") + c.file), MS::kSuccess);
    unsigned int width = 0;
    unsigned int height = 0;
    ASSERT_EQ(image.getSize(width, height), MS::kSuccess);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    EXPECT_EQ(fnv1a(pixelsOf(image)), c.digest) << std::hex << "0x" << fnv1a(pixelsOf(image));
}

INSTANTIATE_TEST_SUITE_P(Files, PinnedRead,
    testing::Values(PinnedCase { "baseline444.jpg", 48, 32, 0x7f6c3c32956abd1du },
        PinnedCase { "cmyk.jpg", 48, 32, 0xee7c23f95f262b51u },
        PinnedCase { "cmyk8.tif", 21, 19, 0x0889353676dae28du },
        PinnedCase { "deflate_rgb16.tif", 21, 19, 0x7d9de2cd4413698du },
        PinnedCase { "grey.jpg", 48, 32, 0x9f0f710b1fe037b5u },
        PinnedCase { "grey1.png", 13, 7, 0xd655cb47aa6d48c1u },
        PinnedCase { "grey1.tif", 21, 19, 0x2547d59d35d5e161u },
        PinnedCase { "grey16.png", 13, 7, 0x18591b4551b69a8cu },
        PinnedCase { "grey16_alpha.tif", 21, 19, 0x4adfc8e5b1ef7a6au },
        PinnedCase { "grey2_interlaced.png", 13, 7, 0x2229720fb7ac2743u },
        PinnedCase { "grey4.png", 13, 7, 0xaa042e645844c7f7u },
        PinnedCase { "grey8.png", 13, 7, 0xfa78141d99c005e7u },
        PinnedCase { "grey8.tif", 21, 19, 0x03ae5a75187dfe6fu },
        PinnedCase { "grey8_miniswhite.tif", 21, 19, 0x05fce953eaa62ef2u },
        PinnedCase { "grey8_trns.png", 13, 7, 0xc0dcc6fb6e30d4e7u },
        PinnedCase { "greyalpha16.png", 13, 7, 0xfe71cf6f1d8074a4u },
        PinnedCase { "greyalpha8.png", 13, 7, 0xf4b5a53da3154b1au },
        PinnedCase { "jpeg_strips_ycbcr.tif", 21, 19, 0xbc66f34ce5b5cbf2u },
        PinnedCase { "lzw_rgba8.tif", 21, 19, 0x658ae2e37dd48f12u },
        PinnedCase { "palette4.tif", 21, 19, 0x2bc90ef40a447672u },
        PinnedCase { "palette4_trns.png", 13, 7, 0x6d4234f781f6902cu },
        PinnedCase { "palette8.png", 13, 7, 0xc2ce57dad4f70e78u },
        PinnedCase { "palette8.tif", 21, 19, 0x41521f3f2ece77fdu },
        // Two that OpenImageIO got wrong: it dropped the alpha of a palette
        // image and crashed on CMYK JPEG tiles. Pinned to the colour map
        // with the stored alpha, and to libtiff's CMYK within 13 of cmyk8.tif.
        PinnedCase { "palette8_unassociated.tif", 21, 19, 0x0e4bee3f8aea51dau },
        PinnedCase { "jpeg_tiled_cmyk.tif", 21, 19, 0xcdbf3c27638d3ffeu },
        PinnedCase { "planar_rgb8.tif", 21, 19, 0xa13443f6de31e41fu },
        PinnedCase { "planar_rgba8_tiled.tif", 21, 19, 0x658ae2e37dd48f12u },
        PinnedCase { "progressive.jpg", 48, 32, 0xf39f33ca8c0bfe3au },
        PinnedCase { "rgb16.png", 13, 7, 0xf3fc80cba47f22a6u },
        PinnedCase { "rgb16.tif", 21, 19, 0x7d9de2cd4413698du },
        PinnedCase { "rgb16_interlaced.png", 13, 7, 0xf3fc80cba47f22a6u },
        PinnedCase { "rgb5_extra.tif", 21, 19, 0x658ae2e37dd48f12u },
        PinnedCase { "rgb8.png", 13, 7, 0xdf2ae5b23fac96ceu },
        PinnedCase { "rgb8_trns.png", 13, 7, 0x7b7aef8373a71bf7u },
        PinnedCase { "rgb_float.tif", 21, 19, 0xdb2603504f093688u },
        PinnedCase { "rgba16.png", 13, 7, 0x508d40993c49a9c8u },
        PinnedCase { "rgba8.png", 13, 7, 0x0047f83645af2bf0u },
        PinnedCase { "rgba8_interlaced.png", 13, 7, 0x0047f83645af2bf0u },
        PinnedCase { "strips_rgb8.tif", 21, 19, 0xa13443f6de31e41fu },
        PinnedCase { "strips_rgba8.tif", 21, 19, 0x658ae2e37dd48f12u },
        PinnedCase { "strips_rgba8_associated.tif", 21, 19, 0x658ae2e37dd48f12u },
        PinnedCase { "subsampled420.jpg", 48, 32, 0xf39f33ca8c0bfe3au },
        PinnedCase { "tiled_rgb8.tif", 21, 19, 0xa13443f6de31e41fu },
        PinnedCase { "tiled_rgba16.tif", 21, 19, 0xa7f5eb0c1cf0ebceu }),
    [](const testing::TestParamInfo<PinnedCase>& info) {
        std::string name = info.param.file;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

struct DeepCase {
    const char* name;
    const char* format;
    OIIO::TypeDesc type;
};

void PrintTo(const DeepCase& c, std::ostream* out)
{
    *out << c.name;
}

class DeepRead : public testing::TestWithParam<DeepCase> { };

// Deeper samples scale to 0..255, clamped: 65535 is 255 * 257, so 0x8080 (128 *
// 257) gives 128 and 0x3333 (51 * 257) gives 51; floats 1.0 and 0.2 give 255 and 51.
TEST_P(DeepRead, ScalesSamplesToEightBits)
{
    const DeepCase& c = GetParam();
    TemporaryFolder folder;
    const std::string path = folder.file("in");
    const std::uint16_t wide[] = { 65535, 0x8080, 0x3333, 0, 0x3333, 0, 65535, 0x8080 };
    const float real[] = { 1.0f, 2.0f, 0.2f, -1.0f, 0.2f, 0.0f, 1.0f, 1.0f };
    const void* samples = c.type == OIIO::TypeDesc::UINT16 ? static_cast<const void*>(wide) : real;
    writeFixture(path, c.format, 2, 1, 4, c.type, samples);

    MImage image;
    ASSERT_EQ(readInto(image, path), MS::kSuccess);
    const Bytes expected = c.type == OIIO::TypeDesc::UINT16 ? Bytes { 255, 128, 51, 0, 51, 0, 255, 128 }
                                                            : Bytes { 255, 255, 51, 0, 51, 0, 255, 255 };
    EXPECT_EQ(pixelsOf(image), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, DeepRead,
    testing::Values(DeepCase { "Png16", "png", OIIO::TypeDesc::UINT16 },
        DeepCase { "Tiff16", "tiff", OIIO::TypeDesc::UINT16 },
        DeepCase { "TiffFloat", "tiff", OIIO::TypeDesc::FLOAT }),
    [](const testing::TestParamInfo<DeepCase>& info) { return std::string(info.param.name); });

// IFF files as OpenImageIO writes them (64 x 64 tiles, the edge ones cut) read
// through the host's reader exactly as through OpenImageIO's, 16-bit samples
// included. Its writer falls back to raw tiles where packing would not shrink
// them, so the samples mix runs with noise to keep both kinds of tile.
struct IffVariant {
    const char* name;
    int width;
    int height;
    int channels;
    OIIO::TypeDesc type;
    const char* compression;  // "rle" or "none"
};

void PrintTo(const IffVariant& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<std::uint16_t> mixedSamples(const IffVariant& c)
{
    std::vector<std::uint16_t> samples;
    std::uint32_t state = 99;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            for (int channel = 0; channel < c.channels; ++channel) {
                state = state * 1103515245u + 12345u;
                const unsigned base = y % 4 < 2 ? (x / 5 * 37 + channel * 50 + y) % 256 : state >> 24;
                samples.push_back(static_cast<std::uint16_t>(base << 8 | ((base * 7 + channel) % 256)));
            }
        }
    }
    return samples;
}

// What OpenImageIO gives for the file, widened to RGBA as the host does.
Bytes readByOpenImageIO(const std::string& path)
{
    std::unique_ptr<OIIO::ImageInput> input = OIIO::ImageInput::open(path);
    if (!input)
        return {};
    const OIIO::ImageSpec& spec = input->spec();
    const int channels = spec.nchannels;
    Bytes packed(std::size_t(spec.width) * spec.height * channels);
    if (!input->read_image(0, 0, 0, channels, OIIO::TypeDesc::UINT8, packed.data()))
        return {};
    Bytes rgba;
    for (std::size_t i = 0; i < packed.size(); i += channels) {
        rgba.insert(rgba.end(), packed.begin() + long(i), packed.begin() + long(i) + 3);
        rgba.push_back(channels == 4 ? packed[i + 3] : 255);
    }
    return rgba;
}

class IffFromOpenImageIO : public testing::TestWithParam<IffVariant> { };

TEST_P(IffFromOpenImageIO, ReadsAsOpenImageIOReadsIt)
{
    const IffVariant& c = GetParam();
    TemporaryFolder folder;
    const std::string path = folder.file("in.iff");
    const std::vector<std::uint16_t> wide = mixedSamples(c);
    Bytes narrow;
    for (std::uint16_t sample : wide)
        narrow.push_back(static_cast<unsigned char>(sample >> 8));
    std::unique_ptr<OIIO::ImageOutput> output = OIIO::ImageOutput::create("iff");
    OIIO::ImageSpec layout(c.width, c.height, c.channels, c.type);
    layout.attribute("compression", c.compression);
    ASSERT_TRUE(output->open(path, layout));
    ASSERT_TRUE(output->write_image(
        c.type, c.type == OIIO::TypeDesc::UINT16 ? static_cast<const void*>(wide.data()) : narrow.data()));
    ASSERT_TRUE(output->close());
    // Packed files must hold packed tiles, or the row would test raw ones twice.
    const std::size_t rawBytes = wide.size() * c.type.size();
    EXPECT_EQ(readFileBytes(path).size() < rawBytes, std::string(c.compression) == "rle");

    const Bytes expected = readByOpenImageIO(path);
    ASSERT_EQ(expected.size(), std::size_t(c.width) * c.height * 4);
    MImage image;
    ASSERT_EQ(readInto(image, path), MS::kSuccess);
    EXPECT_EQ(pixelsOf(image), expected);
}

// OpenImageIO 2.4 stores the raw tiles of RGB images one to three bytes short
// of the size it declares when their pixel count is not a multiple of four,
// and then fails to read them back; those sizes are left out.
INSTANTIATE_TEST_SUITE_P(Variants, IffFromOpenImageIO,
    testing::Values(IffVariant { "Rgb8Packed", 70, 65, 3, OIIO::TypeDesc::UINT8, "rle" },
        IffVariant { "Rgba8Packed", 70, 65, 4, OIIO::TypeDesc::UINT8, "rle" },
        IffVariant { "Rgb8Raw", 68, 68, 3, OIIO::TypeDesc::UINT8, "none" },
        IffVariant { "Rgba8Raw", 70, 65, 4, OIIO::TypeDesc::UINT8, "none" },
        IffVariant { "Rgb16Packed", 70, 65, 3, OIIO::TypeDesc::UINT16, "rle" },
        IffVariant { "Rgba16Packed", 70, 65, 4, OIIO::TypeDesc::UINT16, "rle" },
        IffVariant { "Rgb16Raw", 68, 68, 3, OIIO::TypeDesc::UINT16, "none" },
        IffVariant { "Rgba16Raw", 70, 65, 4, OIIO::TypeDesc::UINT16, "none" },
        IffVariant { "Rgba8PackedOddSize", 13, 7, 4, OIIO::TypeDesc::UINT8, "rle" },
        IffVariant { "Rgba8ManyTiles", 200, 130, 4, OIIO::TypeDesc::UINT8, "rle" },
        IffVariant { "Rgba8OnePixel", 1, 1, 4, OIIO::TypeDesc::UINT8, "none" }),
    [](const testing::TestParamInfo<IffVariant>& info) { return std::string(info.param.name); });

void appendNumber(Bytes& bytes, std::uint32_t value, int count)
{
    for (int shift = (count - 1) * 8; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

void appendChunk(Bytes& bytes, const char* tag, const Bytes& data)
{
    bytes.insert(bytes.end(), tag, tag + 4);
    appendNumber(bytes, static_cast<std::uint32_t>(data.size()), 4);
    bytes.insert(bytes.end(), data.begin(), data.end());
    while (bytes.size() % 4 != 0)
        bytes.push_back(0);
}

// Layouts other writers use, made by hand: tiles of another size in any order,
// a Z buffer beside each tile (header flag 4, a "ZBUF" chunk of 32-bit depths),
// and chunks the reader skips.
struct IffLayout {
    const char* name;
    int tileWidth;
    int tileHeight;
    bool reversed;  // tiles last to first
    bool depth;
    bool packed;  // every tile's planes in literal packets
};

void PrintTo(const IffLayout& c, std::ostream* out)
{
    *out << c.name;
}

// An 8-bit RGBA IFF of `rgba` (width by height, top row first).
Bytes handMadeIff(const IffLayout& c, int width, int height, const Bytes& rgba)
{
    struct Corners {
        int left, bottom, right, top;
    };
    std::vector<Corners> tiles;
    for (int y = 0; y < height; y += c.tileHeight)
        for (int x = 0; x < width; x += c.tileWidth)
            tiles.push_back(
                { x, y, std::min(x + c.tileWidth, width) - 1, std::min(y + c.tileHeight, height) - 1 });
    if (c.reversed)
        std::reverse(tiles.begin(), tiles.end());

    Bytes header;
    appendNumber(header, width, 4);
    appendNumber(header, height, 4);
    appendNumber(header, 1, 2);
    appendNumber(header, 1, 2);
    appendNumber(header, c.depth ? 7 : 3, 4);
    appendNumber(header, 0, 2);
    appendNumber(header, static_cast<std::uint32_t>(tiles.size()), 2);
    appendNumber(header, c.packed ? 1 : 0, 4);
    Bytes form = { 'T', 'B', 'M', 'P' };
    for (const Corners& tile : tiles) {
        Bytes corners;
        for (int value : { tile.left, tile.bottom, tile.right, tile.top })
            appendNumber(corners, value, 2);
        // Samples in reverse (alpha, blue, green, red); rows stored bottom first.
        std::vector<Bytes> planes(4);
        Bytes interleaved;
        for (int y = tile.bottom; y <= tile.top; ++y) {
            for (int x = tile.left; x <= tile.right; ++x) {
                const unsigned char* pixel = &rgba[(std::size_t(height - 1 - y) * width + x) * 4];
                for (int sample = 0; sample < 4; ++sample) {
                    planes[sample].push_back(pixel[3 - sample]);
                    interleaved.push_back(pixel[3 - sample]);
                }
            }
        }
        Bytes data = corners;
        if (c.packed) {
            // A repeat packet where 128 bytes are equal, literal packets elsewhere.
            for (const Bytes& plane : planes) {
                std::size_t i = 0;
                while (i < plane.size()) {
                    const std::size_t count = std::min<std::size_t>(128, plane.size() - i);
                    if (std::all_of(plane.begin() + long(i), plane.begin() + long(i + count),
                            [&](unsigned char b) { return b == plane[i]; })) {
                        data.insert(data.end(), { static_cast<unsigned char>(0x80 | (count - 1)), plane[i] });
                    } else {
                        data.push_back(static_cast<unsigned char>(count - 1));
                        data.insert(data.end(), plane.begin() + long(i), plane.begin() + long(i + count));
                    }
                    i += count;
                }
            }
        }
        // A tile that packing would not shrink is stored raw.
        if (!c.packed || data.size() - 8 >= interleaved.size()) {
            data.resize(8);
            data.insert(data.end(), interleaved.begin(), interleaved.end());
        }
        appendChunk(form, "RGBA", data);
        if (c.depth) {
            Bytes depths = corners;
            const std::size_t pixels = std::size_t(tile.right - tile.left + 1) * (tile.top - tile.bottom + 1);
            depths.resize(depths.size() + pixels * 4, 0x3f);  // 0.75 as a 32-bit float, raw
            appendChunk(form, "ZBUF", depths);
        }
    }
    Bytes body = { 'C', 'I', 'M', 'G' };
    appendChunk(body, "TBHD", header);
    appendChunk(body, "AUTH", { 'p', 'i', 'c', 't', 'i', 'l', 'e' });
    appendChunk(body, "DATE", { 'T', 'u', 'e' });
    appendChunk(body, "FOR4", form);
    appendChunk(body, "CLPZ", Bytes(8, 1));
    Bytes file;
    appendChunk(file, "FOR4", body);
    return file;
}

class IffLayouts : public testing::TestWithParam<IffLayout> { };

TEST_P(IffLayouts, ReadTheStoredPixels)
{
    // One colour in the top ten rows, so that packed tiles there shrink.
    Bytes rgba = variedPixels(23 * 17);
    for (std::size_t i = 0; i < 23 * 4 * 10; ++i)
        rgba[i] = static_cast<unsigned char>(i % 4 * 60);
    TemporaryFolder folder;
    const std::string path = folder.file("in.iff");
    writeFileBytes(path, handMadeIff(GetParam(), 23, 17, rgba));
    MImage image;
    ASSERT_EQ(readInto(image, path), MS::kSuccess);
    EXPECT_EQ(pixelsOf(image), rgba);
}

INSTANTIATE_TEST_SUITE_P(Layouts, IffLayouts,
    testing::Values(IffLayout { "OneTile", 23, 17, false, false, false },
        IffLayout { "Tiles5x3Reversed", 5, 3, true, false, false },
        IffLayout { "Tiles8x8Packed", 8, 8, false, false, true },
        IffLayout { "DepthBesideEachTile", 8, 8, true, true, true },
        IffLayout { "DepthBesideRawTiles", 23, 4, false, true, false }),
    [](const testing::TestParamInfo<IffLayout>& info) { return std::string(info.param.name); });

TEST(ImageRead, JpegUniformColourComesBackClose)
{
    TemporaryFolder folder;
    const std::string path = folder.file("in.jpg");
    Bytes samples;
    for (int i = 0; i < 16 * 16; ++i)
        samples.insert(samples.end(), { 200, 120, 40 });
    writeFixture(path, "jpeg", 16, 16, 3, OIIO::TypeDesc::UINT8, samples.data());

    MImage image;
    ASSERT_EQ(readInto(image, path), MS::kSuccess);
    const Bytes pixels = pixelsOf(image);
    ASSERT_EQ(pixels.size(), 16u * 16u * 4u);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        EXPECT_NEAR(pixels[i], 200, 3);
        EXPECT_NEAR(pixels[i + 1], 120, 3);
        EXPECT_NEAR(pixels[i + 2], 40, 3);
        EXPECT_EQ(pixels[i + 3], 255);
    }
}

// Some editors leave stray bytes before a marker; libjpeg only warns about them
// and the pixels are whole, so the file reads as it would without them.
TEST(ImageRead, JpegWithStrayBytesBeforeAMarkerReads)
{
    const std::string clean = PICTILE_PINS_DIR "/baseline444.jpg";
    Bytes bytes = readFileBytes(clean);
    // After the JFIF segment, which starts at byte 2 and gives its own length.
    const std::size_t marker = 4 + (std::size_t(bytes[4]) << 8 | bytes[5]);
    ASSERT_EQ(bytes.at(marker), 0xFF);
    bytes.insert(bytes.begin() + long(marker), { 0x12, 0x34, 0x56 });
    TemporaryFolder folder;
    const std::string path = folder.file("stray.jpg");
    writeFileBytes(path, bytes);

    MImage expected;
    ASSERT_EQ(readInto(expected, clean), MS::kSuccess);
    MImage image;
    ASSERT_EQ(readInto(image, path), MS::kSuccess);
    EXPECT_EQ(pixelsOf(image), pixelsOf(expected));
}

std::uint32_t crc32(const unsigned char* bytes, std::size_t count)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(Bytes& bytes, std::uint32_t value)
{
    bytes.insert(bytes.end(),
        { static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value) });
}

void appendPngChunk(Bytes& png, const char* type, const Bytes& data)
{
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    png.insert(png.end(), typed.begin(), typed.end());
    appendBigEndian(png, crc32(typed.data(), typed.size()));
}

// A valid PNG header claiming 100000 x 100000 RGBA pixels, with one empty zlib
// stream for data: decoding it would need 40 GB.
Bytes hugePng()
{
    Bytes png = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    Bytes header;
    appendBigEndian(header, 100000);
    appendBigEndian(header, 100000);
    header.insert(header.end(), { 8, 6, 0, 0, 0 });
    appendPngChunk(png, "IHDR", header);
    appendPngChunk(png, "IDAT", { 0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01 });
    appendPngChunk(png, "IEND", {});
    return png;
}

// An uncompressed true-colour Targa header claiming 65535 x 65535 pixels.
Bytes hugeTarga()
{
    Bytes tga = { 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 32, 8 };
    tga.insert(tga.end(), 64, 0);
    return tga;
}

// A valid file of `format` cut after half its bytes.
Bytes truncatedFile(const TemporaryFolder& folder, const char* format, int channels)
{
    const std::string path = folder.file(std::string("whole.") + format);
    const Bytes samples = variedPixels(64 * 64);
    Bytes packed;
    for (std::size_t i = 0; i < samples.size(); i += 4)
        packed.insert(packed.end(), samples.begin() + long(i), samples.begin() + long(i) + channels);
    writeFixture(path, format, 64, 64, channels, OIIO::TypeDesc::UINT8, packed.data());
    Bytes bytes = readFileBytes(path);
    bytes.resize(bytes.size() / 2);
    return bytes;
}

enum class Fixture {
    Missing,
    Folder,
    NotAnImage,
    TruncatedPng,
    TruncatedJpeg,
    TruncatedTiff,
    HugePng,
    HugeTarga
};

struct RefusalCase {
    const char* name;
    Fixture fixture;
    MStatus::MStatusCode expected;
};

void PrintTo(const RefusalCase& c, std::ostream* out)
{
    *out << c.name;
}

class RefusedRead : public testing::TestWithParam<RefusalCase> { };

TEST_P(RefusedRead, FailsAndLeavesTheImageEmpty)
{
    const RefusalCase& c = GetParam();
    TemporaryFolder folder;
    // Targa has no signature: only its extension sends it to its reader.
    const std::string path = folder.file(c.fixture == Fixture::HugeTarga ? "input.tga" : "input");
    switch (c.fixture) {
    case Fixture::Missing:
        break;
    case Fixture::Folder:
        std::filesystem::create_directory(path);
        break;
    case Fixture::NotAnImage:
        writeFileBytes(path, Bytes(300, 'x'));
        break;
    case Fixture::TruncatedPng:
        writeFileBytes(path, truncatedFile(folder, "png", 4));
        break;
    case Fixture::TruncatedJpeg:
        writeFileBytes(path, truncatedFile(folder, "jpeg", 3));
        break;
    case Fixture::TruncatedTiff:
        writeFileBytes(path, truncatedFile(folder, "tiff", 4));
        break;
    case Fixture::HugePng:
        writeFileBytes(path, hugePng());
        break;
    case Fixture::HugeTarga:
        writeFileBytes(path, hugeTarga());
        break;
    }

    MImage image;
    ASSERT_EQ(image.create(3, 3), MS::kSuccess);
    EXPECT_EQ(readInto(image, path), c.expected);
    expectEmpty(image);
}

INSTANTIATE_TEST_SUITE_P(Inputs, RefusedRead,
    testing::Values(RefusalCase { "MissingFile", Fixture::Missing, MS::kNotFound },
        RefusalCase { "Directory", Fixture::Folder, MS::kNotFound },
        RefusalCase { "NotAnImage", Fixture::NotAnImage, MS::kFailure },
        RefusalCase { "TruncatedPng", Fixture::TruncatedPng, MS::kFailure },
        RefusalCase { "TruncatedJpeg", Fixture::TruncatedJpeg, MS::kFailure },
        RefusalCase { "TruncatedTiff", Fixture::TruncatedTiff, MS::kFailure },
        RefusalCase { "HugePngHeader", Fixture::HugePng, MS::kInvalidParameter },
        RefusalCase { "HugeTargaHeader", Fixture::HugeTarga, MS::kInvalidParameter }),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// A failed decode leaves error strings behind in OpenImageIO; they must not
// fail the next read.
TEST(ImageRead, SucceedsAfterAFailedDecode)
{
    TemporaryFolder folder;
    writeFileBytes(folder.file("bad.png"), Bytes(300, 'x'));
    const std::string path = folder.file("in.png");
    const Bytes samples = { 1, 2, 3, 4, 5, 6, 7, 8 };
    writeFixture(path, "png", 1, 2, 4, OIIO::TypeDesc::UINT8, samples.data());

    MImage image;
    EXPECT_EQ(readInto(image, folder.file("bad.png")), MS::kFailure);
    ASSERT_EQ(readInto(image, path), MS::kSuccess);
    unsigned int width = 0;
    unsigned int height = 0;
    ASSERT_EQ(image.getSize(width, height), MS::kSuccess);
    EXPECT_EQ(width, 1u);
    EXPECT_EQ(height, 2u);
    EXPECT_EQ(pixelsOf(image), samples);
}

// The decoding process is kept after a file it found no reader for, and
// replaced after one whose reader failed; it is a child of the decoding
// service, not a copy of this process.
TEST(DecodingService, KeepsADecoderThatRanNoReaderAndReplacesOneThatFailed)
{
    TemporaryFolder folder;
    const Bytes samples = variedPixels(16);
    writeFixture(folder.file("good.tga"), "targa", 4, 4, 4, OIIO::TypeDesc::UINT8, samples.data());
    // Named as an icon, but no icon: refused before the icon reader runs.
    writeFileBytes(folder.file("noise.ico"), Bytes(300, 'x'));
    Bytes cut = readFileBytes(folder.file("good.tga"));
    cut.resize(30);
    writeFileBytes(folder.file("cut.tga"), cut);

    MImage image;
    ASSERT_EQ(readInto(image, folder.file("good.tga")), MS::kSuccess);
    const host::DecodingProcesses first = host::decodingProcesses();
    ASSERT_GT(first.current, 0);
    EXPECT_EQ(readInto(image, folder.file("noise.ico")), MS::kFailure);
    EXPECT_EQ(readInto(image, folder.file("good.tga")), MS::kSuccess);
    const host::DecodingProcesses kept = host::decodingProcesses();
    EXPECT_EQ(kept.started, first.started);
    EXPECT_EQ(kept.current, first.current);
    EXPECT_EQ(readInto(image, folder.file("cut.tga")), MS::kFailure);
    EXPECT_EQ(readInto(image, folder.file("good.tga")), MS::kSuccess);
    EXPECT_EQ(pixelsOf(image), samples);
    const host::DecodingProcesses replaced = host::decodingProcesses();
    EXPECT_EQ(replaced.started, first.started + 1);
    EXPECT_NE(replaced.current, first.current);

    // Its parent, from /proc/PID/stat ("pid (name) state ppid ..."), runs the
    // decoding service's program.
    std::ifstream stat("/proc/" + std::to_string(replaced.current) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    char state = 0;
    int parent = 0;
    fields >> state >> parent;
    EXPECT_NE(parent, getpid());
    const std::filesystem::path program
        = std::filesystem::read_symlink("/proc/" + std::to_string(parent) + "/exe");
    EXPECT_EQ(program.filename(), "pictile_decoder");
}

// Without opening the module the host knows which extensions its other
// readers list: a file of no signature goes to one of them or to none.
TEST(ImageFormat, KnowsTheExtensionsOfTheModulesOtherReaders)
{
    for (const auto& [format, extensions] : OIIO::get_extension_map()) {
        if (!host::readerMayClaimUnplacedFile(format))
            continue;
        for (const std::string& extension : extensions)
            EXPECT_TRUE(host::extensionHasReader("file." + extension)) << format << ": " << extension;
    }
    for (const char* name : { "notes.txt", "photo.png", "map.dat", "film.mov", "noextension" })
        EXPECT_FALSE(host::extensionHasReader(name)) << name;
}

}  // namespace
