// Damaged IFF and PNG files are refused, silently: the host's IFF reader checks
// every chunk, tile and packet against its bounds as it reads; libpng finds
// damaged PNG chunks and truncation itself.
#include "RobustnessSupport.h"

#include <maya/MImage.h>
#include <maya/MString.h>

#include <gtest/gtest.h>

namespace robustness {
namespace {

// A 2 x 2 tile: four byte planes of four bytes each.
constexpr std::size_t kPlane = 4;

Bytes repeatedRuns(unsigned char value)
{
    Bytes runs;
    for (int plane = 0; plane < 4; ++plane)
        runs.insert(runs.end(), { static_cast<unsigned char>(0x80 | (kPlane - 1)), value });
    return runs;
}

struct IffCase {
    const char* name;
    Bytes file;
    MStatus::MStatusCode expected;
};

std::vector<IffCase> iffCases()
{
    const Bytes raw(kPlane * 4, 77);
    Bytes overrun = repeatedRuns(77);
    overrun[0] = 0x80 | 0x7f;  // 128 copies into a plane of 4
    Bytes literalPastEnd = repeatedRuns(77);
    literalPastEnd.resize(6);
    literalPastEnd.push_back(0x05);  // six literal bytes, one left
    literalPastEnd.push_back(1);
    Bytes trailing = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    trailing.insert(trailing.end(), 8, 0);
    Bytes offOrigin = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    offOrigin[8 + 4 + 8 + 24 + 3] = 0xff;  // the low byte of the header's x origin
    Bytes blackFlag = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    blackFlag[8 + 4 + 8 + 12 + 3] |= 0x10;  // the low byte of the header's flags
    // Alpha alone, packed as one plane: the decoder leaves its channel count unset.
    Bytes alphaOnly = iffFile(2, 2, true, { { 0, 0, 1, 1, { 0x80 | (kPlane - 1), 77 } } });
    alphaOnly[8 + 4 + 8 + 12 + 3] = 0x02;  // the low byte of the header's flags
    Bytes afterJunk(8 * 15, 0xff);
    const Bytes whole = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    afterJunk.insert(afterJunk.end(), whole.begin(), whole.end());
    Bytes cut = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    cut.resize(cut.size() - 6);
    // Depth beside the colour: header flag 4 and a "ZBUF" chunk of 32-bit depths.
    Bytes depth
        = iffFile(2, 2, true, { { 0, 0, 1, 1, Bytes(16, 0x3f), "ZBUF" }, { 0, 0, 1, 1, repeatedRuns(77) } });
    depth[8 + 4 + 8 + 12 + 3] |= 0x04;
    Bytes depthOnly = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    depthOnly[8 + 4 + 8 + 12 + 3] = 0x04;
    Bytes sixteenBit = iffFile(2, 2, false, { { 0, 0, 1, 1, Bytes(32, 77) } });
    sixteenBit[8 + 4 + 8 + 16 + 1] = 1;  // the low byte of the header's sample size
    Bytes sixteenBitOverrun = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    sixteenBitOverrun[8 + 4 + 8 + 16 + 1] = 1;  // eight planes, the data holds four
    Bytes unknownCompression = iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } });
    unknownCompression[8 + 4 + 8 + 20 + 3] = 2;
    Bytes tileCountShort
        = iffFile(4, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) }, { 2, 0, 3, 1, repeatedRuns(77) } });
    tileCountShort[8 + 4 + 8 + 18 + 1] = 1;  // the low byte of the header's tile count
    return {
        { "raw_tile", iffFile(2, 2, false, { { 0, 0, 1, 1, raw } }), MS::kSuccess },
        { "packed_tile", iffFile(2, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } }), MS::kSuccess },
        { "run_overruns_channel", iffFile(2, 2, true, { { 0, 0, 1, 1, overrun } }), MS::kFailure },
        { "literal_past_chunk", iffFile(2, 2, true, { { 0, 0, 1, 1, literalPastEnd } }), MS::kFailure },
        { "tile_outside_image", iffFile(2, 2, true, { { 1, 1, 2, 2, repeatedRuns(77) } }), MS::kFailure },
        { "tile_corners_swapped", iffFile(2, 2, true, { { 1, 0, 0, 1, repeatedRuns(77) } }), MS::kFailure },
        { "data_after_form", trailing, MS::kFailure },
        { "tile_smaller_than_image", iffFile(4, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) } }),
            MS::kFailure },
        { "second_tile_larger_than_first",
            iffFile(3, 2, true,
                { { 0, 0, 0, 0, { 0x80, 77, 0x80, 77, 0x80, 77, 0x80, 77 } },
                    { 1, 0, 2, 1, Bytes(4 * 4, 77) } }),
            MS::kFailure },
        { "data_window_off_origin", offOrigin, MS::kFailure },
        { "black_image_flag", blackFlag, MS::kFailure },
        { "alpha_without_colour", alphaOnly, MS::kFailure },
        { "form_after_other_bytes", afterJunk, MS::kFailure },
        { "cut_in_tile", cut, MS::kFailure },
        { "depth_beside_tiles", depth, MS::kSuccess },
        { "depth_without_colour", depthOnly, MS::kFailure },
        { "sixteen_bit_raw_tile", sixteenBit, MS::kSuccess },
        { "sixteen_bit_planes_missing", sixteenBitOverrun, MS::kFailure },
        { "unknown_compression", unknownCompression, MS::kFailure },
        { "tile_twice",
            iffFile(4, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) }, { 0, 0, 1, 1, repeatedRuns(77) } }),
            MS::kFailure },
        { "tile_off_grid",
            iffFile(4, 2, true, { { 0, 0, 1, 1, repeatedRuns(77) }, { 1, 0, 2, 1, repeatedRuns(77) } }),
            MS::kFailure },
        { "more_tiles_than_header_says", tileCountShort, MS::kFailure },
        { "few_bytes_claim_many_pixels", iffFile(8000, 8000, true, { { 0, 0, 1, 1, repeatedRuns(77) } }),
            MS::kFailure },
    };
}

class IffCheck : public testing::TestWithParam<IffCase> { };

TEST_P(IffCheck, ReadsOnlyWholeFiles)
{
    Workspace folder;
    const std::string path = folder.file("images/tile.iff");
    writeBytes(path, GetParam().file);
    MImage image;
    EXPECT_EQ(image.readFromFile(MString(path)).statusCode(), GetParam().expected);
    if (GetParam().expected != MS::kSuccess)
        return;
    unsigned int width = 0;
    unsigned int height = 0;
    ASSERT_TRUE(image.getSize(width, height));
    ASSERT_EQ(width * height, 4u);
    for (unsigned int i = 0; i < 16; ++i)
        EXPECT_EQ(image.pixels()[i], 77) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Robustness, IffCheck, testing::ValuesIn(iffCases()),
    [](const testing::TestParamInfo<IffCase>& info) { return std::string(info.param.name); });

TEST(IffCheck, ReadsWhatTheHostWrites)
{
    Workspace folder;
    const std::string path = folder.file("images/written.iff");
    writeGradient(path, 70, 65, "iff");
    MImage image;
    ASSERT_TRUE(image.readFromFile(MString(path)));
    unsigned int width = 0;
    unsigned int height = 0;
    image.getSize(width, height);
    EXPECT_EQ(width, 70u);
    EXPECT_EQ(height, 65u);
    EXPECT_EQ(image.pixels()[(64 * 70 + 69) * 4], (69 * 10 + 64) % 256);
}

Bytes greyPng()
{
    return pngFile(2, 2, 8, 0, 0, { { 10, 20 }, { 30, 40 } });
}

struct PngCase {
    const char* name;
    Bytes file;
    MStatus::MStatusCode expected;
};

std::vector<PngCase> pngCases()
{
    Bytes flipped = greyPng();
    flipped[flipped.size() - 20] ^= 0x01;  // inside IDAT, so its CRC no longer matches
    Bytes noEnd = greyPng();
    noEnd.resize(noEnd.size() - 12);
    Bytes trailing = greyPng();
    trailing.insert(trailing.end(), { 'j', 'u', 'n', 'k' });
    const Bytes whole = greyPng();
    return {
        { "whole", greyPng(), MS::kSuccess },
        { "data_after_end", trailing, MS::kSuccess },
        { "byte_flipped", flipped, MS::kFailure },
        { "no_end_chunk", noEnd, MS::kFailure },
        { "cut_in_header", Bytes(whole.begin(), whole.begin() + 20), MS::kFailure },
        { "signature_only", Bytes(whole.begin(), whole.begin() + 8), MS::kFailure },
    };
}

class PngCheck : public testing::TestWithParam<PngCase> { };

TEST_P(PngCheck, ReadsOnlyWholeFiles)
{
    Workspace folder;
    const std::string path = folder.file("images/grey.png");
    writeBytes(path, GetParam().file);
    MImage image;
    ASSERT_EQ(image.readFromFile(MString(path)).statusCode(), GetParam().expected);
    if (GetParam().expected == MS::kSuccess) {
        EXPECT_EQ(image.pixels()[3 * 4], 40);
    }
}

INSTANTIATE_TEST_SUITE_P(Robustness, PngCheck, testing::ValuesIn(pngCases()),
    [](const testing::TestParamInfo<PngCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace robustness
